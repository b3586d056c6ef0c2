// End-to-end runs of every program in a hostile or unlucky folder: links
// planted at the names a run writes, a user's own backup files, FIFOs where a
// frame or a clip should be, read-only outputs, a file size limit, an output
// named as an input, names beyond ASCII. Each run is in a fresh directory.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "run.h"

namespace {

namespace fs = std::filesystem;

const std::string kFrameconv = program_under_test("ANIM3D_FRAMECONV", FRAMECONV_PROGRAM);
const std::string kClipmerge = program_under_test("ANIM3D_CLIPMERGE", CLIPMERGE_PROGRAM);
const std::string kInspect = program_under_test("ANIM3D_INSPECT3D", INSPECT3D_PROGRAM);

const std::vector<std::string> kComplete{"Conversion Complete: Conversion Complete"};

// Three frames of 64 vertices (outputs past one 512-byte block), earlier
// outputs beside them.
void prepare_frames(const fs::path& dir) {
  for (int f = 0; f < 3; ++f) {
    std::string text = "o Box\n";
    for (int i = 0; i < 64; ++i)
      text += "v " + std::to_string(f + i % 7) + " " + std::to_string(i - f) + " 1\n";
    write_bytes(dir / ("anima00" + std::to_string(f) + ".obj"), text + "f 1 2 3\nf 2 3 4\n");
  }
  write_bytes(dir / "aniv00.3d", "earlier animation");
  write_bytes(dir / "data00.3d", "earlier mesh");
}

// A clip of `frame_count` frames of 3 vertices.
std::string clip(uint16_t frame_count) {
  return u16le(frame_count) + u16le(12) + std::string(frame_count * 12u, static_cast<char>(frame_count));
}

// Two clips of 900 bytes of frames in all, and an earlier merge.
void prepare_clips(const fs::path& dir) {
  write_bytes(dir / "a1.3d", clip(30));
  write_bytes(dir / "a2.3d", clip(45));
  write_bytes(dir / "aniv00.3d", "earlier merge");
}

// A conversion with its frames, which inspect3d reads.
void prepare_conversion(const fs::path& dir) {
  prepare_frames(dir);
  ASSERT_EQ(run_program(kFrameconv, dir).messages, kComplete);
}

// A run: frameconv and clipmerge with no arguments, inspect3d with some.
struct Invocation {
  const std::string* program;
  void (*prepare)(const fs::path& dir);
  std::vector<std::string> args;
};

const Invocation kFrameconvRun{&kFrameconv, prepare_frames, {}};
const Invocation kClipmergeRun{&kClipmerge, prepare_clips, {}};

// Runs `run` in `dir` behind the shell prefix `before` (natively only); its
// exit status, and its messages (the converters) or standard error.
std::pair<int, std::string> run_in(const Invocation& run, const fs::path& dir,
                                   const std::string& before = "") {
  if (run.args.empty()) {
    const RunResult result =
        before.empty() ? run_program(*run.program, dir) : run_program_after(before, *run.program, dir);
    std::string messages;
    for (const std::string& message : result.messages) messages += message + "\n";
    return {result.exit_status, messages};
  }
  std::vector<std::string> args = run.args;
  std::string program = *run.program;
  if (!before.empty()) {  // "timeout -s KILL 20 " before the program
    args.insert(args.begin(), program);
    for (const char* word : {"20", "KILL", "-s"}) args.insert(args.begin(), word);
    program = "timeout";
  }
  const CapturedRun result = run_program(program, dir, args);
  return {result.exit_status, result.err};
}

// Wine shows a link of the host as the file it points to, and removes that
// file when asked to remove the link; a link on a Windows file system is
// removed itself.
constexpr char kWineFollowsLinks[] = "Wine takes a link of the host for the file it points to";

// A link (to a file outside, to nothing, to a folder outside) at any name a
// run makes for itself is removed, never written through or into; the run
// completes, and a user's files of likely names stay byte for byte.
TEST(SafeFiles, LinksAtTheNamesOfARunAreNeverFollowed) {
  if (running_under_wine()) GTEST_SKIP() << kWineFollowsLinks;
  const struct {
    Invocation run;
    const char* own;
    const char* output;
  } cases[] = {
      {kFrameconvRun, "aniv00.3d~frameconv-new", "aniv00.3d"},
      {kFrameconvRun, "aniv00.3d~frameconv-old", "aniv00.3d"},
      {kFrameconvRun, "data00.3d~frameconv-new", "data00.3d"},
      {kFrameconvRun, "data00.3d~frameconv-old", "data00.3d"},
      {kClipmergeRun, "aniv00.3d~clipmerge-new", "aniv00.3d"},
      {kClipmergeRun, "aniv00.3d~clipmerge-old", "aniv00.3d"},
      {{&kInspect, prepare_conversion, {"gltf", "--out", "walk.glb"}}, "walk.glb~inspect3d-new", "walk.glb"},
      {{&kInspect, prepare_conversion, {"preview"}}, "preview.png~inspect3d-new", "preview.png"},
      {{&kInspect, prepare_conversion, {"obj", "--frame", "1"}},
       "frame001.obj~inspect3d-new",
       "frame001.obj"},
  };
  for (const auto& c : cases) {
    for (const char* target : {"target", "none", "folder"}) {
      const std::string what = std::string(c.own) + " -> " + target;
      TempDir dir, outside;
      write_bytes(outside / "target", "a file outside");
      fs::create_directory(outside / "folder");
      c.run.prepare(dir.path);
      for (const char* user : {"aniv00.3d.bak", "data00.3d.bak", "aniv00.3d.tmp"})
        write_bytes(dir / user, user);
      std::vector<std::string> expected = list_dir(dir.path);
      if (!std::count(expected.begin(), expected.end(), c.output)) expected.push_back(c.output);
      std::sort(expected.begin(), expected.end());
      fs::create_symlink(outside / target, dir / c.own);
      const auto [status, said] = run_in(c.run, dir.path);
      EXPECT_EQ(status, c.run.args.empty() ? 1 : 0) << what << ": " << said;
      EXPECT_EQ(list_dir(dir.path), expected) << what;
      EXPECT_FALSE(fs::is_symlink(dir / c.output)) << what;
      for (const char* user : {"aniv00.3d.bak", "data00.3d.bak", "aniv00.3d.tmp"}) {
        EXPECT_EQ(read_bytes(dir / user), user) << what;
      }
      EXPECT_EQ(list_dir(outside.path), (std::vector<std::string>{"folder", "target"})) << what;
      EXPECT_EQ(read_bytes(outside / "target"), "a file outside") << what;
      EXPECT_TRUE(fs::is_empty(outside / "folder")) << what;
    }
  }
}

// What a run says when it must stop, and that it leaves every file as it was.
struct Refusal {
  Invocation run;
  const char* what;
  std::string said;
};

void expect_refused(const Refusal& c, const fs::path& dir, const std::string& before = "") {
  std::vector<std::pair<std::string, std::optional<std::string>>> files;
  for (const std::string& name : list_dir(dir)) files.emplace_back(name, read_bytes(dir / name));
  const auto [status, said] = run_in(c.run, dir, before);
  EXPECT_EQ(status, c.run.args.empty() ? 1 : 2) << c.what;
  EXPECT_EQ(said, c.said) << c.what;
  std::vector<std::pair<std::string, std::optional<std::string>>> after;
  for (const std::string& name : list_dir(dir)) after.emplace_back(name, read_bytes(dir / name));
  EXPECT_EQ(after, files) << c.what;
}

// A frame or a clip that is no regular file ends the run at once; a FIFO never
// makes it wait. Each run has a deadline, so a run that waits fails (137)
// instead of hanging the tests.
TEST(SafeFiles, AFifoForAFrameOrAClipIsUnreadableAndNeverWaitedOn) {
  if (running_under_wine()) GTEST_SKIP() << "a FIFO is a POSIX file";
  const Invocation check{&kInspect, prepare_conversion, {"check"}},
      preview{&kInspect, prepare_conversion, {"preview"}};
  const Refusal cases[] = {
      {kFrameconvRun, "anima000.obj", "Conversion Error: Cannot read anima000.obj\n"},
      {kFrameconvRun, "anima002.obj", "Conversion Error: Cannot read anima002.obj\n"},
      {kClipmergeRun, "a2.3d", "Conversion Error: Cannot read a2.3d\n"},
      {check, "anima001.obj", "inspect3d: cannot read anima001.obj\n"},
      {preview, "anima001.obj", "inspect3d: cannot read anima001.obj\n"},
      {{&kInspect, prepare_conversion, {"info", "aniv00.3d"}},
       "aniv00.3d",
       "inspect3d: cannot read aniv00.3d\n"},
  };
  for (const Refusal& c : cases) {
    TempDir dir;
    c.run.prepare(dir.path);
    fs::remove(dir / c.what);
    ASSERT_EQ(mkfifo((dir / c.what).c_str(), 0644), 0);
    expect_refused(c, dir.path, "timeout -s KILL 20 ");
  }
}

// An output without write permission is kept, with every other earlier output,
// on Linux as on Windows; decided from the permission bits, so also as root.
TEST(SafeFiles, AReadOnlyOutputIsNeverReplaced) {
  const Refusal cases[] = {
      {kFrameconvRun, "aniv00.3d", "Conversion Error: Cannot write aniv00.3d\n"},
      {kFrameconvRun, "data00.3d", "Conversion Error: Cannot write data00.3d\n"},
      {kClipmergeRun, "aniv00.3d", "Conversion Error: Cannot write aniv00.3d\n"},
  };
  for (const Refusal& c : cases) {
    TempDir dir;
    c.run.prepare(dir.path);
    fs::permissions(dir / c.what, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    expect_refused(c, dir.path);
  }
}

// A file size limit makes a write fail, not the run: the run says which
// output it could not write and leaves nothing beside the earlier ones.
TEST(SafeFiles, AFileSizeLimitIsAnOutputThatCannotBeWritten) {
  if (running_under_wine()) GTEST_SKIP() << "a file size limit is a POSIX one";
  for (const Invocation& run : {kFrameconvRun, kClipmergeRun}) {
    TempDir dir;
    run.prepare(dir.path);
    expect_refused({run, "ulimit -f 1", "Conversion Error: Cannot write aniv00.3d\n"}, dir.path,
                   "ulimit -f 1 && exec ");
  }
}

// inspect3d never writes over a file it reads, whichever name reaches it.
TEST(SafeFiles, Inspect3dRefusesAnOutputThatIsOneOfItsInputs) {
  for (const char* out : {"aniv00.3d", "./data00.3d", "anima001.obj", "same.png"}) {
    for (const char* command : {"gltf", "preview"}) {
      if (std::string(out) == "anima001.obj" && std::string(command) == "gltf")
        continue;  // gltf reads no frame
      TempDir dir;
      prepare_conversion(dir.path);
      fs::create_hard_link(dir / "aniv00.3d", dir / "same.png");
      expect_refused(
          {{&kInspect, prepare_conversion, {command, "--out", out}},
           out,
           std::string("inspect3d: ") + out + " is a file this command reads; it is not written over\n" +
               "inspect3d: cannot write " + out + "\n"},
          dir.path);
    }
  }
}

// Paths beyond ASCII reach the files they name, on Windows too.
TEST(SafeFiles, Inspect3dOpensANameOfAnyCharacters) {
  TempDir dir;
  const std::string folder = "caf\xc3\xa9 \xe5\x8b\x95\xe7\x94\xbb", glb = "\xc3\xa9t\xc3\xa9.glb";
  fs::create_directory(dir / folder);
  prepare_conversion(dir / folder);
  EXPECT_EQ(run_in({&kInspect, nullptr, {"check", folder}}, dir.path).first, 0);
  EXPECT_EQ(run_in({&kInspect, nullptr, {"gltf", "--out", glb}}, dir / folder).first, 0);
  EXPECT_TRUE(fs::is_regular_file(dir / folder / glb));
}

}  // namespace
