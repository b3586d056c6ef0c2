// End-to-end runs of every program in a hostile or unlucky folder: links
// planted at the names a run writes, a user's own backup files, FIFOs where
// a frame or a clip should be, read-only outputs, a file size limit, an
// output named as an input, a folder name beyond ASCII. Each run is in a
// fresh directory, beside a second one standing for "outside the folder".
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "run.h"

namespace {

namespace fs = std::filesystem;

const std::string kFrameconv = program_under_test("ANIM3D_FRAMECONV", FRAMECONV_PROGRAM);
const std::string kClipmerge = program_under_test("ANIM3D_CLIPMERGE", CLIPMERGE_PROGRAM);
const std::string kInspect = program_under_test("ANIM3D_INSPECT3D", INSPECT3D_PROGRAM);

const std::vector<std::string> kComplete{"Conversion Complete: Conversion Complete"};

// Three frames of four vertices, each frame different.
void write_frames(const fs::path& dir) {
  for (int f = 0; f < 3; ++f) {
    std::string text = "o Box\n";
    for (int i = 0; i < 4; ++i) {
      text += "v " + std::to_string(f + i) + " " + std::to_string(2 * i - f) + " " + std::to_string(i * 0.5) +
              "\n";
    }
    write_bytes(dir / ("anima00" + std::to_string(f) + ".obj"), text + "f 1 2 3\nf 2 3 4\n");
  }
}

// A clip of `frame_count` frames of 3 vertices.
std::string clip(uint16_t frame_count) {
  std::string data;
  for (int i = 0; i < frame_count * 12; ++i) data += static_cast<char>(i * 7 + frame_count);
  return u16le(frame_count) + u16le(12) + data;
}

// The user's own files beside the outputs, with names a careless program
// might take for its own.
const std::vector<std::pair<std::string, std::string>> kUserFiles = {
    {"aniv00.3d.bak", "the user's animation backup"},
    {"data00.3d.bak", "the user's mesh backup"},
    {"aniv00.3d.tmp", "the user's scratch file"},
};

// What a link planted at a name of the run points to, in `outside`: a file,
// a name that does not exist, a folder.
enum class LinkTo { kFile, kNothing, kFolder };

void plant_link(const fs::path& at, LinkTo to, const TempDir& outside) {
  const fs::path target = outside / (to == LinkTo::kFile      ? "target"
                                     : to == LinkTo::kNothing ? "none"
                                                              : "folder");
  fs::create_symlink(target, at);
}

// A folder standing for everything outside the one a program runs in.
struct Outside {
  TempDir dir;
  Outside() {
    write_bytes(dir / "target", "a file outside");
    fs::create_directory(dir / "folder");
  }
  // True if nothing outside changed.
  bool unchanged() const {
    return list_dir(dir.path) == std::vector<std::string>{"folder", "target"} &&
           read_bytes(dir / "target") == "a file outside" && list_dir(dir / "folder").empty();
  }
};

// One program's run in a folder holding its inputs and earlier outputs.
struct Program {
  const char* name;
  void (*prepare)(const TempDir& dir);
  std::vector<std::string> own_names;  // temporaries and backups it makes
  std::vector<std::string> outputs;
};

void prepare_frameconv(const TempDir& dir) {
  write_frames(dir.path);
  write_bytes(dir / "aniv00.3d", "earlier animation");
  write_bytes(dir / "data00.3d", "earlier mesh");
}

void prepare_clipmerge(const TempDir& dir) {
  write_bytes(dir / "a1.3d", clip(2));
  write_bytes(dir / "a2.3d", clip(3));
  write_bytes(dir / "aniv00.3d", "earlier merge");
}

const Program kWriters[] = {
    {"frameconv",
     prepare_frameconv,
     {"aniv00.3d~frameconv-new", "aniv00.3d~frameconv-old", "data00.3d~frameconv-new",
      "data00.3d~frameconv-old"},
     {"aniv00.3d", "data00.3d"}},
    {"clipmerge", prepare_clipmerge, {"aniv00.3d~clipmerge-new", "aniv00.3d~clipmerge-old"}, {"aniv00.3d"}},
};

const std::string& program_of(const Program& program) {
  return std::string(program.name) == "frameconv" ? kFrameconv : kClipmerge;
}

// Wine shows a link of the host as the file it points to, and removes that
// file when asked to remove the link; a link on a Windows file system is
// removed itself.
constexpr char kWineFollowsLinks[] = "Wine takes a link of the host for the file it points to";

// A link at any name of the run's own is removed, never written through or
// into; the run completes, and the user's files beside it stay byte for byte.
TEST(SafeFiles, LinksAtTheNamesOfARunAreNeverFollowed) {
  if (running_under_wine()) GTEST_SKIP() << kWineFollowsLinks;
  for (const Program& program : kWriters) {
    for (const std::string& own : program.own_names) {
      for (LinkTo to : {LinkTo::kFile, LinkTo::kNothing, LinkTo::kFolder}) {
        const std::string what =
            std::string(program.name) + ", " + own + " link " + std::to_string(static_cast<int>(to));
        TempDir dir;
        const Outside outside;
        program.prepare(dir);
        std::vector<std::string> expected = list_dir(dir.path);
        for (const auto& [name, bytes] : kUserFiles) {
          write_bytes(dir / name, bytes);
          expected.push_back(name);
        }
        std::sort(expected.begin(), expected.end());
        plant_link(dir / own, to, outside.dir);
        const RunResult run = run_program(program_of(program), dir.path);
        EXPECT_EQ(run.messages, kComplete) << what;
        EXPECT_EQ(list_dir(dir.path), expected) << what;
        for (const auto& [name, bytes] : kUserFiles) EXPECT_EQ(read_bytes(dir / name), bytes) << what;
        for (const std::string& output : program.outputs) {
          EXPECT_FALSE(fs::is_symlink(dir / output)) << what;
          EXPECT_NE(read_bytes(dir / output).value_or("earlier").substr(0, 7), "earlier") << what;
        }
        EXPECT_TRUE(outside.unchanged()) << what;
      }
    }
  }
}

// The same for inspect3d's outputs, each written through a temporary of its
// own.
TEST(SafeFiles, LinksAtTheTemporariesOfInspect3dAreNeverFollowed) {
  if (running_under_wine()) GTEST_SKIP() << kWineFollowsLinks;
  const struct {
    std::vector<std::string> args;
    const char* output;
  } cases[] = {
      {{"gltf", "--out", "walk.glb"}, "walk.glb"},
      {{"preview"}, "preview.png"},
      {{"obj", "--frame", "1"}, "frame001.obj"},
  };
  for (const auto& c : cases) {
    for (LinkTo to : {LinkTo::kFile, LinkTo::kNothing, LinkTo::kFolder}) {
      const std::string what = c.args[0] + " link " + std::to_string(static_cast<int>(to));
      TempDir dir;
      const Outside outside;
      write_frames(dir.path);
      ASSERT_EQ(run_program(kFrameconv, dir.path).messages, kComplete);
      plant_link(dir / (std::string(c.output) + "~inspect3d-new"), to, outside.dir);
      const CapturedRun run = run_program(kInspect, dir.path, c.args);
      EXPECT_EQ(run.exit_status, 0) << what << ": " << run.err;
      EXPECT_TRUE(fs::is_regular_file(dir / c.output) && !fs::is_symlink(dir / c.output)) << what;
      EXPECT_FALSE(fs::exists(fs::symlink_status(dir / (std::string(c.output) + "~inspect3d-new")))) << what;
      EXPECT_TRUE(outside.unchanged()) << what;
    }
  }
}

// A frame or a clip that is no regular file ends the run at once; a FIFO never
// makes it wait. Each run has a deadline, so a run that waits fails (137)
// instead of hanging the tests.
TEST(SafeFiles, AFifoForAFrameOrAClipIsUnreadableAndNeverWaitedOn) {
  if (running_under_wine()) GTEST_SKIP() << "a FIFO is a POSIX file";
  const struct {
    const std::string* program;
    void (*prepare)(const TempDir& dir);
    const char* fifo;
    std::vector<std::string> args;  // none: a converter's run, which ignores them
    int exit_status;
    std::string said;
  } cases[] = {
      {&kFrameconv, prepare_frameconv, "anima000.obj", {}, 1, "Conversion Error: Cannot read anima000.obj"},
      {&kFrameconv, prepare_frameconv, "anima002.obj", {}, 1, "Conversion Error: Cannot read anima002.obj"},
      {&kClipmerge, prepare_clipmerge, "a2.3d", {}, 1, "Conversion Error: Cannot read a2.3d"},
      {&kInspect, prepare_frameconv, "anima001.obj", {"check"}, 2, "inspect3d: cannot read anima001.obj\n"},
      {&kInspect, prepare_frameconv, "anima001.obj", {"preview"}, 2, "inspect3d: cannot read anima001.obj\n"},
      {&kInspect,
       prepare_frameconv,
       "aniv00.3d",
       {"info", "aniv00.3d"},
       2,
       "inspect3d: cannot read aniv00.3d\n"},
  };
  for (const auto& c : cases) {
    const std::string what = c.fifo + (c.args.empty() ? std::string() : " to " + c.args[0]);
    TempDir dir;
    c.prepare(dir);
    if (!c.args.empty()) {
      ASSERT_EQ(run_program(kFrameconv, dir.path).messages, kComplete);
    }
    fs::remove(dir / c.fifo);
    ASSERT_EQ(mkfifo((dir / c.fifo).c_str(), 0644), 0);
    const auto before = list_dir(dir.path);
    if (c.args.empty()) {
      const RunResult run = run_program_after("timeout -s KILL 20 ", *c.program, dir.path);
      EXPECT_EQ(run.exit_status, c.exit_status) << what;
      EXPECT_EQ(run.messages, std::vector<std::string>{c.said}) << what;
    } else {
      std::vector<std::string> args{"-s", "KILL", "20", *c.program};
      args.insert(args.end(), c.args.begin(), c.args.end());
      const CapturedRun run = run_program("timeout", dir.path, args);
      EXPECT_EQ(run.exit_status, c.exit_status) << what;
      EXPECT_EQ(run.err, c.said) << what;
    }
    EXPECT_EQ(list_dir(dir.path), before) << what;
  }
}

// An output without write permission is kept, with every other earlier output,
// as on Windows; decided from the permission bits, so also when run as root.
TEST(SafeFiles, AReadOnlyOutputIsNeverReplaced) {
  for (const Program& program : kWriters) {
    for (const std::string& read_only : program.outputs) {
      TempDir dir;
      program.prepare(dir);
      std::vector<std::pair<std::string, std::optional<std::string>>> earlier;
      for (const std::string& output : program.outputs)
        earlier.emplace_back(output, read_bytes(dir / output));
      fs::permissions(dir / read_only,
                      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                      fs::perm_options::remove);
      const auto before = list_dir(dir.path);
      const RunResult run = run_program(program_of(program), dir.path);
      EXPECT_EQ(run.messages, std::vector<std::string>{"Conversion Error: Cannot write " + read_only})
          << program.name;
      EXPECT_EQ(list_dir(dir.path), before) << program.name;
      for (const auto& [output, bytes] : earlier) EXPECT_EQ(read_bytes(dir / output), bytes) << program.name;
    }
  }
}

// A file size limit makes a write fail, not the run: the run says which
// output it could not write and leaves nothing beside the earlier ones.
TEST(SafeFiles, AFileSizeLimitIsAnOutputThatCannotBeWritten) {
  if (running_under_wine()) GTEST_SKIP() << "a file size limit is a POSIX one";
  const struct {
    const std::string* program;
    void (*prepare)(const TempDir& dir);
    const char* said;
  } cases[] = {
      {&kFrameconv, prepare_frameconv, "Conversion Error: Cannot write aniv00.3d"},
      {&kClipmerge, prepare_clipmerge, "Conversion Error: Cannot write aniv00.3d"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    c.prepare(dir);
    // Outputs past the limit of one block of 512 bytes.
    if (c.program == &kClipmerge) write_bytes(dir / "a3.3d", clip(60));
    if (c.program == &kFrameconv) {
      for (const char* frame : {"anima000.obj", "anima001.obj", "anima002.obj"}) {
        std::string text = read_bytes(dir / frame).value();
        for (int i = 0; i < 60; ++i) text += "v 1 2 " + std::to_string(i) + "\n";
        write_bytes(dir / frame, text);
      }
    }
    const auto before = list_dir(dir.path);
    const RunResult run = run_program_after("ulimit -f 1 && exec ", *c.program, dir.path);
    EXPECT_EQ(run.exit_status, 1) << c.said;
    EXPECT_EQ(run.messages, std::vector<std::string>{c.said});
    EXPECT_EQ(list_dir(dir.path), before) << c.said;
  }
}

// inspect3d never writes over a file it reads, whichever name reaches it.
TEST(SafeFiles, Inspect3dRefusesAnOutputThatIsOneOfItsInputs) {
  const struct {
    std::vector<std::string> args;
    const char* named;
  } cases[] = {
      {{"gltf", "--out", "aniv00.3d"}, "aniv00.3d"},
      {{"gltf", "--out", "./data00.3d"}, "./data00.3d"},
      {{"preview", "--out", "anima001.obj"}, "anima001.obj"},
      {{"preview", "--out", "same.png"}, "same.png"},  // a second name of aniv00.3d
  };
  for (const auto& c : cases) {
    TempDir dir;
    write_frames(dir.path);
    ASSERT_EQ(run_program(kFrameconv, dir.path).messages, kComplete);
    fs::create_hard_link(dir / "aniv00.3d", dir / "same.png");
    std::vector<std::pair<std::string, std::optional<std::string>>> before;
    for (const std::string& name : list_dir(dir.path)) before.emplace_back(name, read_bytes(dir / name));
    const CapturedRun run = run_program(kInspect, dir.path, c.args);
    EXPECT_EQ(run.exit_status, 2) << c.named;
    EXPECT_EQ(run.err, std::string("inspect3d: ") + c.named +
                           " is a file this command reads; it is not written " +
                           "over\ninspect3d: cannot write " + c.named + "\n");
    std::vector<std::pair<std::string, std::optional<std::string>>> after;
    for (const std::string& name : list_dir(dir.path)) after.emplace_back(name, read_bytes(dir / name));
    EXPECT_EQ(after, before) << c.named;
  }
}

// Paths beyond ASCII reach the files they name, on Windows too.
TEST(SafeFiles, Inspect3dOpensANameOfAnyCharacters) {
  TempDir dir;
  const std::string folder = "caf\xc3\xa9 \xe5\x8b\x95\xe7\x94\xbb";  // "café 動画"
  fs::create_directory(dir / folder);
  write_frames(dir / folder);
  ASSERT_EQ(run_program(kFrameconv, dir / folder).messages, kComplete);
  const CapturedRun check = run_program(kInspect, dir.path, {"check", folder});
  EXPECT_EQ(check.exit_status, 0) << check.err;
  const CapturedRun gltf = run_program(kInspect, dir / folder, {"gltf", "--out", "\xc3\xa9t\xc3\xa9.glb"});
  EXPECT_EQ(gltf.exit_status, 0) << gltf.err;
  EXPECT_TRUE(fs::is_regular_file(dir / folder / "\xc3\xa9t\xc3\xa9.glb"));
}

}  // namespace
