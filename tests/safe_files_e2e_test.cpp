// End-to-end runs of every program in a hostile or unlucky folder: links
// planted at the names a run writes, a user's own backup files, FIFOs where a
// frame or a clip should be, read-only outputs, a file size limit, an output
// named as an input, names beyond ASCII, a run killed at each step of its
// commit, two runs at once. Each run is in a fresh directory.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "run.h"

namespace {

namespace fs = std::filesystem;

const std::string kFrameconv = program_under_test("ANIM3D_FRAMECONV", FRAMECONV_PROGRAM);
const std::string kClipmerge = program_under_test("ANIM3D_CLIPMERGE", CLIPMERGE_PROGRAM);
const std::string kInspect = program_under_test("ANIM3D_INSPECT3D", INSPECT3D_PROGRAM);
// The converters built with their fault-injection points (fault_hooks.h).
const std::string kFrameconvFaults = program_under_test("ANIM3D_FRAMECONV_FAULTS", FRAMECONV_FAULTS_PROGRAM);
const std::string kClipmergeFaults = program_under_test("ANIM3D_CLIPMERGE_FAULTS", CLIPMERGE_FAULTS_PROGRAM);

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
      {kFrameconvRun, "aniv00.3d~frameconv-commit", "aniv00.3d"},
      {kClipmergeRun, "aniv00.3d~clipmerge-commit", "aniv00.3d"},
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
      expect_refused({{&kInspect, prepare_conversion, {command, "--out", out}},
                      out,
                      std::string("inspect3d: cannot write ") + out +
                          ": it is a file this command reads, never written over\n"},
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

// A converter as the tests of interrupted and simultaneous runs drive it.
struct Converter {
  const char* name;
  const std::string* program;
  const std::string* faults;  // its fault-injection build
  void (*prepare)(const fs::path& dir);
  std::vector<std::string> outputs;
  std::vector<std::string> inputs;  // without them a run ends with `failed`
  std::string failed;
};

const Converter kF{"frameconv",
                   &kFrameconv,
                   &kFrameconvFaults,
                   prepare_frames,
                   {"aniv00.3d", "data00.3d"},
                   {"anima000.obj"},
                   "Conversion Error: Cannot find anima000.obj file"};
const Converter kC{"clipmerge",
                   &kClipmerge,
                   &kClipmergeFaults,
                   prepare_clips,
                   {"aniv00.3d"},
                   {"a1.3d", "a2.3d"},
                   "Conversion Error: No clip files a1.3d to a67.3d"};

// The bytes of `file`, a long file's as its size and hash, so that failures
// stay readable; "" where no file stands.
std::string bytes_of(const fs::path& file) {
  const std::string bytes = read_bytes(file).value_or("");
  if (bytes.size() <= 40) return bytes;
  return std::to_string(bytes.size()) + " bytes #" + std::to_string(std::hash<std::string>{}(bytes));
}

// Every file in `dir`, with the bytes of the outputs and of the names a run
// makes beside them (not of the inputs); or of the outputs of `converter`
// alone, "" where none stands.
using Files = std::map<std::string, std::string>;
Files files_in(const fs::path& dir, const Converter* converter = nullptr) {
  Files files;
  for (const std::string& name : converter ? converter->outputs : list_dir(dir))
    files[name] = name.find("00.3d") == std::string::npos ? "" : bytes_of(dir / name);
  return files;
}

// A run of the fault-injection build, started, held at the point `hold_at`
// while the file `hold_file`, which it creates there, exists.
std::future<RunResult> start_held(const Converter& converter, const fs::path& dir, const std::string& hold_at,
                                  const fs::path& hold_file) {
  const std::vector<std::string> variables{"ANIM3D_HOLD_AT=" + hold_at,
                                           "ANIM3D_HOLD_FILE=" + hold_file.string()};
  return std::async(std::launch::async, [=] { return run_program_with(variables, *converter.faults, dir); });
}

// Waits up to a minute for `file` to appear.
bool appears(const fs::path& file) {
  for (int i = 0; i < 6000 && !fs::exists(file); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return fs::exists(file);
}

// A run killed at any step of its commit, or while the next run puts the
// earlier outputs back, never leaves an output name empty that held a file;
// inspect3d names the commit's record while it stands. The next run, before
// anything else, makes a matching pair: the earlier one when the kill came
// before the record was gone (`undone`), else the new one. That run then
// fails for want of inputs and keeps the pair, with nothing beside it.
TEST(InterruptedRuns, TheNextRunMakesTheOutputsAPairAgain) {
  const struct {
    const Converter* converter;
    std::vector<const char*> kills;  // a run of the fault-injection build killed at each
    bool undone;
    const Converter* next;
  } cases[] = {
      {&kF, {"staged"}, true, &kF},
      {&kF, {"backed up aniv00.3d"}, true, &kF},
      {&kF, {"backed up data00.3d"}, true, &kF},
      {&kF, {"recorded"}, true, &kF},
      {&kF, {"replaced aniv00.3d"}, true, &kF},
      {&kF, {"replaced data00.3d"}, true, &kF},
      {&kF, {"committed"}, false, &kF},
      {&kF, {"dropped backup aniv00.3d"}, false, &kF},
      {&kF, {"replaced aniv00.3d", "locked"}, true, &kF},
      {&kF, {"replaced aniv00.3d", "put back aniv00.3d"}, true, &kF},
      {&kF, {"replaced data00.3d", "put back aniv00.3d", "put back data00.3d"}, true, &kF},
      {&kF, {"replaced aniv00.3d", "undone"}, true, &kF},
      {&kF, {"replaced aniv00.3d", "dropped backup aniv00.3d"}, true, &kF},
      {&kF, {"replaced aniv00.3d"}, true, &kC},
      {&kC, {"backed up aniv00.3d"}, true, &kC},
      {&kC, {"recorded"}, true, &kC},
      {&kC, {"replaced aniv00.3d"}, true, &kC},
      {&kC, {"committed"}, false, &kC},
      {&kC, {"replaced aniv00.3d", "put back aniv00.3d"}, true, &kC},
  };
  for (const auto& c : cases) {
    const Converter& converter = *c.converter;
    TempDir fresh;
    converter.prepare(fresh.path);
    run_program(*converter.program, fresh.path);
    const Files fresh_outputs = files_in(fresh.path, &converter);
    const size_t all = converter.outputs.size();
    const std::string record = "aniv00.3d~" + std::string(converter.name) + "-commit";
    // Every earlier output, the first alone, or none; links, or copies only.
    for (size_t kept = all + 1; kept-- > 0;) {
      for (bool links_fail : {false, true}) {
        if (links_fail && kept < all) continue;
        std::string what = std::string(converter.name) + ", " + std::to_string(kept) + " earlier outputs" +
                           (links_fail ? ", no links" : "") + ", killed at";
        TempDir dir;
        converter.prepare(dir.path);
        for (size_t i = kept; i < all; ++i) fs::remove(dir / converter.outputs[i]);
        const Files earlier = files_in(dir.path, &converter);
        bool killed = true;
        for (const char* step : c.kills) {
          what += std::string(" \"") + step + "\"";
          std::vector<std::string> variables{std::string("ANIM3D_KILL_AT=") + step};
          if (links_fail) variables.push_back("ANIM3D_FAULT_NO_LINKS=1");
          killed = run_program_with(variables, *converter.faults, dir.path).messages.empty();
          EXPECT_TRUE(killed || kept < all) << what << ": never reached";
          for (size_t i = 0; i < kept; ++i) {
            const std::string& output = converter.outputs[i];
            const std::string now = bytes_of(dir / output);
            EXPECT_TRUE(now == earlier.at(output) || now == fresh_outputs.at(output))
                << what << ": " << output;
          }
        }
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"info", "aniv00.3d"}, {"check"}}) {
          if (kept < all || links_fail) break;
          const std::string out = run_program(kInspect, dir.path, args).out;
          EXPECT_EQ(out.find("note: " + record + ": a run was killed") != std::string::npos,
                    fs::exists(dir / record))
              << what << ": inspect3d " << args[0];
        }
        // The inputs left, and the pair the next run makes, alone.
        for (const std::string& input : c.next->inputs) fs::remove(dir / input);
        Files expected;
        for (const auto& [name, bytes] : files_in(dir.path)) {
          if (name.find('~') == std::string::npos && !earlier.count(name)) expected[name] = bytes;
        }
        for (const auto& [name, bytes] : (c.undone && killed) ? earlier : fresh_outputs) {
          if (!bytes.empty()) expected[name] = bytes;
        }
        EXPECT_EQ(run_program(*c.next->program, dir.path).messages, std::vector<std::string>{c.next->failed})
            << what;
        EXPECT_EQ(files_in(dir.path), expected) << what;
      }
    }
  }
}

// Two runs in one folder never overlap: while the first holds the folder's
// lock (here held at a step of its commit), the second waits, touching
// nothing, and goes on once the first has ended; so each run commits a whole
// pair, the second's over the first's. A second run that waits past its limit
// ends with "Cannot write aniv00.3d" and leaves all as it was.
TEST(SimultaneousRuns, TheSecondWaitsForTheFirst) {
  const struct {
    const Converter* first;
    const char* held_at;
    const Converter* second;
    bool gives_up;  // the second waits 0.3 s only
  } cases[] = {
      {&kF, "replaced aniv00.3d", &kF, false}, {&kF, "recorded", &kC, false},
      {&kC, "replaced aniv00.3d", &kF, false}, {&kF, "replaced aniv00.3d", &kF, true},
      {&kC, "backed up aniv00.3d", &kC, true},
  };
  const std::vector<std::string> complete{"Conversion Complete: Conversion Complete"};
  // Other inputs for the second run, so that a mix of the two runs shows.
  const auto change_inputs = [](const fs::path& dir) {
    for (int f = 0; f < 3; ++f) {
      std::string text;
      for (int i = 0; i < 5; ++i) text += "v " + std::to_string(i) + " " + std::to_string(f) + " 2\n";
      write_bytes(dir / ("anima00" + std::to_string(f) + ".obj"), text + "f 1 2 3\n");
    }
    write_bytes(dir / "a2.3d", clip(7));
  };
  for (const auto& c : cases) {
    const std::string what = std::string(c.held_at) + (c.gives_up ? ", the second gives up" : "");
    // The same runs one after the other.
    TempDir apart, dir, control;
    for (const fs::path& folder : {apart.path, dir.path}) {
      prepare_frames(folder);
      prepare_clips(folder);
    }
    run_program(*c.first->program, apart.path);
    const Files after_first = files_in(apart.path);
    change_inputs(apart.path);
    run_program(*c.second->program, apart.path);

    const fs::path first_held = control / "first", second_held = control / "second";
    auto first = start_held(*c.first, dir.path, c.held_at, first_held);
    ASSERT_TRUE(appears(first_held)) << what;
    change_inputs(dir.path);
    const Files held = files_in(dir.path);
    std::future<RunResult> second;
    if (c.gives_up) {
      EXPECT_EQ(run_program_with({"ANIM3D_LOCK_WAIT_MS=300"}, *c.second->faults, dir.path).messages,
                std::vector<std::string>{"Conversion Error: Cannot write aniv00.3d"})
          << what;
    } else {
      second = start_held(*c.second, dir.path, "locked", second_held);
      std::this_thread::sleep_for(std::chrono::seconds(1));
      EXPECT_FALSE(fs::exists(second_held)) << what << ": both runs had the lock";
    }
    EXPECT_EQ(files_in(dir.path), held) << what;
    fs::remove(first_held);
    EXPECT_EQ(first.get().messages, complete) << what;
    if (c.gives_up) continue;
    // The first run's pair, whole, beside the second run's inputs.
    ASSERT_TRUE(appears(second_held)) << what;
    Files first_done;
    for (const auto& [name, bytes] : held) {
      if (name.find('~') == std::string::npos) first_done[name] = bytes;
    }
    for (const char* output : {"aniv00.3d", "data00.3d"}) first_done[output] = after_first.at(output);
    if (running_under_wine()) first_done["anim3d~lock"] = "";  // the second run's lock
    EXPECT_EQ(files_in(dir.path), first_done) << what;
    fs::remove(second_held);
    EXPECT_EQ(second.get().messages, complete) << what;
    EXPECT_EQ(files_in(dir.path), files_in(apart.path)) << what;
  }
}

}  // namespace

namespace {

// A run started by a parent that holds the folder's lock, as the add-on's
// export starts frameconv and clipmerge, runs under that lock when the parent
// hands it down; a run given anything else, and a run started by hand
// meanwhile, waits for the parent and gives up (here after 0.3 s). The
// parent's lock outlives its child's run. On Windows a second handle of the
// lock file passes for the parent's lock: a child cannot tell a lock its
// parent holds through another handle.
TEST(HandedDownLocks, AChildRunsUnderItsParentsLockAndNoOtherRunDoes) {
  const std::string complete = "Conversion Complete: Conversion Complete",
                    waited = "Conversion Error: Cannot write aniv00.3d";
  const struct {
    const char* what;
    HandedLock hand;
    bool runs;  // with the parent's lock; else it waits and gives up
  } cases[] = {
      {"the lock it holds", HandedLock::kHeld, true},
      {"nothing", HandedLock::kNone, false},
      {"the lock of another folder", HandedLock::kOther, false},
      {"the folder, unlocked", HandedLock::kUnheld, running_under_wine()},
      {"a number that names nothing", HandedLock::kClosed, false},
  };
  for (const Converter* converter : {&kF, &kC}) {
    for (const auto& c : cases) {
      const std::string what = std::string(converter->name) + " handed " + c.what;
      TempDir parent;
      const fs::path dir = parent / "folder";
      fs::create_directory(dir);
      converter->prepare(dir);
      const Files earlier = files_in(dir, converter);
      const RunResult result =
          run_under_locking_parent(c.hand, {"ANIM3D_LOCK_WAIT_MS=300"}, *converter->faults, dir);
      EXPECT_EQ(result.messages, (std::vector<std::string>{c.runs ? complete : waited, waited})) << what;
      if (!c.runs) {
        EXPECT_EQ(files_in(dir, converter), earlier) << what;
      }
      // Once the parent has given the lock back, a run by hand goes on.
      EXPECT_EQ(run_program_with({"ANIM3D_LOCK_WAIT_MS=300"}, *converter->faults, dir).messages,
                std::vector<std::string>{complete})
          << what;
    }
  }
}

}  // namespace
