// The packed vertex word, the vertex animation file's bytes and the staging of
// output files.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <set>
#include <string>

#include "in_temp_dir.h"
#include "output.h"
#include "platform.h"
#include "run.h"
#include "vertex_animation.h"

namespace {

struct PackCase {
  double x, y, z;
  uint32_t word;
  const char* why;
};

TEST(PackVertex, FieldsScalesTruncationAndWrapping) {
  const double inf = HUGE_VAL;
  const PackCase cases[] = {
      {1.0, 2.0, 3.0, 0x03008008, "x and y scale by 8, z by 4"},
      {-1.0, 0, 0, 0x000007F8, "negative x keeps its low 11 bits"},
      {0, -1.0, 0, 0x003FC000, "negative y lands in bits 11-21"},
      {0, 0, -1.0, 0xFF000000, "negative z lands in bits 22-31"},
      {-0.1, 0.12, 0.3, 0x00400000, "truncation toward zero, never rounding"},
      {1.9, -1.9, 0, 0x003F880F, "15.2 and -15.2 truncate to 15 and -15"},
      {127.875, -128.0, 127.75, 0x7FE003FF, "the extremes of the three fields"},
      {128.0, 0, 0, 0x00000400, "x past its range wraps, no clamping"},
      {0, 0, 128.0, 0x80000000, "z past its range wraps"},
      {1000.0, 0, 0, 0x00000740, "8000 keeps its low 11 bits"},
      {inf, 2.0, 3.0, 0x03008000, "an infinite coordinate gives 0"},
      {0, -inf, 0, 0x00000000, "so does a negative infinity"},
      {1e300, 0, 1e19, 0x00000000, "scaled values past 64 bits give 0"},
      {-1e18, 0, 0, 0x00000000, "-8e18 fits 64 bits: its low 11 bits are 0"},
  };
  for (const PackCase& c : cases) {
    EXPECT_EQ(pack_vertex(c.x, c.y, c.z), c.word) << c.why;
  }
}

struct UnpackCase {
  uint32_t word;
  double x, y, z;
  const char* why;
};

TEST(UnpackVertex, FieldsReadBackAsSignedSteps) {
  const UnpackCase cases[] = {
      {0x03008008, 1.0, 2.0, 3.0, "x and y in eighths, z in quarters"},
      {0x000007F8, -1.0, 0, 0, "x's sign bit is bit 10"},
      {0x003FC000, 0, -1.0, 0, "y's sign bit is bit 21"},
      {0xFF000000, 0, 0, -1.0, "z's sign bit is bit 31"},
      {0x7FE003FF, 127.875, -128.0, 127.75, "the extremes of the three fields"},
      {0x801FFC00, -128.0, 127.875, -128.0, "the other extremes"},
      {0x00000400, -128.0, 0, 0, "128.0 in x comes back as -128.0"},
      {0x00400801, 0.125, 0.125, 0.25, "one step on each axis"},
      {0xFFFFFFFF, -0.125, -0.125, -0.25, "all bits set: minus one step"},
  };
  for (const UnpackCase& c : cases) {
    const Position p = unpack_vertex(c.word);
    EXPECT_EQ(p.x, c.x) << c.why;
    EXPECT_EQ(p.y, c.y) << c.why;
    EXPECT_EQ(p.z, c.z) << c.why;
  }
}

TEST(UnpackVertex, EveryFieldValuePacksBackToItself) {
  for (uint32_t raw = 0; raw < 2048; ++raw) {
    const uint32_t words[] = {raw, raw << 11, (raw & 0x3FF) << 22,
                              raw | (raw ^ 0x5A5) << 11 | (raw & 0x3FF) << 22};
    for (uint32_t word : words) {
      const Position p = unpack_vertex(word);
      ASSERT_EQ(pack_vertex(p.x, p.y, p.z), word) << std::hex << word;
    }
  }
}

struct RangeCase {
  double coordinate;
  int axis;
  bool in_range;
  const char* why;
};

TEST(PacksInRange, EdgesOfEachFieldUnderTruncation) {
  const double inf = HUGE_VAL;
  const RangeCase cases[] = {
      {127.875, 0, true, "x's largest step"},
      {127.999, 0, true, "truncated to 127.875"},
      {128.0, 0, false, "x wraps at 128"},
      {-128.0, 0, true, "x's smallest step"},
      {-128.1, 0, true, "-1024.8 truncates toward zero to -1024"},
      {-128.125, 0, false, "-1025 wraps"},
      {130.0, 1, false, "y wraps like x"},
      {-128.1, 1, true, "y truncates like x"},
      {127.75, 2, true, "z's largest step"},
      {127.99, 2, true, "z truncated to 127.75"},
      {128.0, 2, false, "z wraps at 128"},
      {-128.2, 2, true, "-512.8 truncates to -512"},
      {-128.25, 2, false, "-513 wraps"},
      {0.0, 2, true, "zero"},
      {inf, 0, false, "an infinity is stored as 0"},
      {-inf, 2, false, "so is a negative one"},
      {1e300, 1, false, "too large to convert is stored as 0"},
  };
  for (const RangeCase& c : cases) {
    EXPECT_EQ(packs_in_range(c.coordinate, c.axis), c.in_range) << c.why;
  }
}

struct LayoutCase {
  uint64_t file_bytes;
  uint16_t frame_count, bytes_per_frame;
  bool fits;
  const char* why;
};

TEST(VertexAnimationLayout, HeaderAndWholeFramesOfWholeWords) {
  const LayoutCase cases[] = {
      {4804, 24, 200, true, "24 frames of 50 vertices"},
      {4803, 24, 200, false, "a byte short"},
      {4805, 24, 200, false, "a byte over"},
      {4, 0, 200, true, "no frames at all"},
      {4 + 7 * 6, 7, 6, false, "a frame of a word and a half"},
      {4, 5, 0, false, "frames of no vertices"},
      {4 + 65535ull * 65532, 65535, 65532, true, "the largest file a header can describe"},
  };
  for (const LayoutCase& c : cases) {
    EXPECT_EQ(fits_vertex_animation_layout(c.file_bytes, c.frame_count, c.bytes_per_frame), c.fits) << c.why;
  }
}

using VertexAnimationFile = InTempDir;

TEST_F(VertexAnimationFile, HeaderThenFrameData) {
  const uint8_t data[12] = {0x08, 0x80, 0x00, 0x03, 0xF8, 0x07, 0, 0, 0, 0, 0, 0xFF};
  ASSERT_TRUE(write_vertex_animation_file("out.3d", 1, 12, data, sizeof data));
  EXPECT_EQ(read_bytes("out.3d"),
            std::string("\x01\x00\x0C\x00", 4) + std::string(reinterpret_cast<const char*>(data), 12));
}

TEST_F(VertexAnimationFile, ByteOrderOfBothHeaderFields) {
  ASSERT_TRUE(write_vertex_animation_file("out.3d", 0x0102, 0xA0B0, nullptr, 0));
  EXPECT_EQ(read_bytes("out.3d"), std::string("\x02\x01\xB0\xA0", 4));
}

TEST_F(VertexAnimationFile, UncreatableFileFailsAndLeavesNothing) {
  std::filesystem::create_directory("out.3d");
  EXPECT_FALSE(write_vertex_animation_file("out.3d", 1, 4, reinterpret_cast<const uint8_t*>("abcd"), 4));
  EXPECT_TRUE(std::filesystem::is_directory("out.3d"));
}

TEST_F(VertexAnimationFile, WriteErrorIsReportedAndPartialFileRemoved) {
  // A file size limit makes the write fail part way (the signal it would
  // send is ignored, as the programs ignore it).
  ignore_file_size_signal();
  rlimit earlier;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &earlier), 0);
  rlimit limit = earlier;
  limit.rlim_cur = 50000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const std::vector<uint8_t> data(100000, 7);
  const bool written = write_vertex_animation_file("big.3d", 1, 4, data.data(), data.size());
  setrlimit(RLIMIT_FSIZE, &earlier);
  EXPECT_FALSE(written);
  EXPECT_EQ(list_dir("."), std::vector<std::string>{});
}

using StagedOutputs = InTempDir;

TEST_F(StagedOutputs, TempNameSitsBesideTheOutputNamingTheProgram) {
  set_program_name("clipmerge");
  char temp[kTempNameBytes];
  temp_name("aniv00.3d", temp);
  set_program_name("anim3d");
  EXPECT_STREQ(temp, "aniv00.3d~clipmerge-new");
}

std::string temp_of(const char* name) {
  char temp[kTempNameBytes];
  temp_name(name, temp);
  return temp;
}

// The name a commit keeps the earlier `name` under while it runs.
std::string backup_of(const char* name) { return std::string(name) + "~anim3d-old"; }

TEST_F(StagedOutputs, CommitReplacesEveryOutputInOrder) {
  write_bytes("one", "old one");
  write_bytes(temp_of("one"), "new one");
  write_bytes(temp_of("two"), "new two");
  const char* const names[] = {"one", "two"};
  EXPECT_EQ(commit_outputs(names, 2), nullptr);
  EXPECT_EQ(read_bytes("one"), "new one");
  EXPECT_EQ(read_bytes("two"), "new two");
  EXPECT_EQ(list_dir("."), (std::vector<std::string>{"one", "two"}));
}

TEST_F(StagedOutputs, OneOutputInTheWayLeavesEveryEarlierFile) {
  write_bytes("one", "old one");
  write_bytes(temp_of("one"), "new one");
  write_bytes(temp_of("two"), "new two");
  std::filesystem::create_directory("two");
  const char* const names[] = {"one", "two"};
  EXPECT_STREQ(commit_outputs(names, 2), "two");
  EXPECT_EQ(read_bytes("one"), "old one");
  EXPECT_TRUE(std::filesystem::is_directory("two"));
  EXPECT_EQ(list_dir("."), (std::vector<std::string>{"one", "two"}));
}

struct FaultCase {
  const char* what;
  void (*prepare)();
  WriteFault (*write)();
  WriteFault fault;
};

WriteFault write_out(const char* name) {
  const uint8_t bytes[] = {1, 2, 3};
  return write_output_file(name, bytes, sizeof bytes, bytes, sizeof bytes);
}

WriteFault commit_one_two(MoveFile move) {
  write_bytes(temp_of("one"), "new one");
  write_bytes(temp_of("two"), "new two");
  const char* const names[] = {"one", "two"};
  WriteFault fault = WriteFault::kNone;
  commit_outputs(names, 2, move, &fault);
  return fault;
}

// Each way an output fails says its cause, the step that failed, and leaves
// no temporary of its own behind.
TEST(WriteFaults, EachFailedStepSaysWhyAndLeavesNoTemporary) {
  const FaultCase cases[] = {
      {"written", [] {}, [] { return write_out("out"); }, WriteFault::kNone},
      {"a name too long for its temporary's", [] {}, [] { return write_out(std::string(5000, 'n').c_str()); },
       WriteFault::kNameTooLong},
      {"no folder to create it in", [] {}, [] { return write_out("nowhere/out"); }, WriteFault::kNotCreated},
      {"a folder at the name", [] { std::filesystem::create_directory("out"); },
       [] { return write_out("out"); }, WriteFault::kInTheWay},
      {"a read-only file at the name",
       [] {
         write_bytes("out", "kept");
         std::filesystem::permissions("out", std::filesystem::perms::owner_read);
       },
       [] { return write_out("out"); }, WriteFault::kInTheWay},
      {"a commit with a folder at an output's name", [] { std::filesystem::create_directory("two"); },
       [] { return commit_one_two(nullptr); }, WriteFault::kInTheWay},
      {"a commit whose move fails", [] {},
       [] { return commit_one_two([](const char*, const char*) { return false; }); }, WriteFault::kNotMoved},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.what);
    const TempDir dir;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path);
    c.prepare();
    EXPECT_EQ(c.write(), c.fault);
    for (const std::string& name : list_dir(".")) EXPECT_EQ(name.find("-new"), std::string::npos) << name;
    std::filesystem::current_path(previous);
  }
}

// A stand-in for replace_file that fails at the calls a test names, counting
// from 1, and otherwise moves the file. It remembers which output the first
// failed call was about.
struct FaultyMoves {
  int calls = 0;
  std::set<int> failing;
  std::string first_failed;
};
FaultyMoves faults;

bool faulty_move(const char* from, const char* to) {
  ++faults.calls;
  if (!faults.failing.count(faults.calls)) return replace_file(from, to);
  if (faults.first_failed.empty()) {
    const std::string target = to;  // moving aside names the output as `from`
    faults.first_failed = target == backup_of(from) ? from : to;
  }
  return false;
}

// The outputs' earlier contents before a commit; absent ones are not set.
struct Pair {
  const char* animation;
  const char* mesh;
};

const char* const kNames[] = {"aniv00.3d", "data00.3d"};

// Runs one commit in a fresh directory holding `earlier` (and a backup left by
// a killed run, if `stale_backup`) and the two new temporaries, with the moves
// `failing` made to fail. Returns the commit's result; `dir` keeps the files.
std::string commit_in(const TempDir& dir, const Pair& earlier, bool stale_backup, std::set<int> failing) {
  if (earlier.animation) write_bytes(dir / "aniv00.3d", earlier.animation);
  if (earlier.mesh) write_bytes(dir / "data00.3d", earlier.mesh);
  if (stale_backup) write_bytes(dir / backup_of("aniv00.3d"), "killed run's backup");
  write_bytes(dir / temp_of("aniv00.3d"), "new animation");
  write_bytes(dir / temp_of("data00.3d"), "new mesh");
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path);
  faults = FaultyMoves{0, std::move(failing), ""};
  const char* failed = commit_outputs(kNames, 2, faulty_move);
  std::filesystem::current_path(previous);
  return failed ? failed : "";
}

// Both outputs are replaced or neither: whichever move fails, the earlier
// files are back under their names byte for byte, with no temporary or backup
// beside them; and should moving one back fail too, its backup is kept.
TEST(CommitOutputs, AnyFailedMoveLeavesTheEarlierPair) {
  const Pair earlier_pairs[] = {{"earlier animation", "earlier mesh"},
                                {"earlier animation", nullptr},
                                {nullptr, "earlier mesh"},
                                {nullptr, nullptr}};
  for (const Pair& earlier : earlier_pairs) {
    for (bool stale_backup : {false, true}) {
      const std::string setup = std::string(earlier.animation ? "animation" : "-") + "/" +
                                (earlier.mesh ? "mesh" : "-") + (stale_backup ? " + stale backup" : "");
      {
        const TempDir dir;
        EXPECT_EQ(commit_in(dir, earlier, stale_backup, {}), "") << setup;
        EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"aniv00.3d", "data00.3d"})) << setup;
        EXPECT_EQ(read_bytes(dir / "aniv00.3d"), "new animation") << setup;
        EXPECT_EQ(read_bytes(dir / "data00.3d"), "new mesh") << setup;
      }
      const int moves = faults.calls;
      for (int k = 1; k <= moves; ++k) {
        // One failure, and then the same with a failure of each move back.
        for (int restore = 0; restore <= 2; ++restore) {
          const TempDir dir;
          std::set<int> failing{k};
          if (restore) failing.insert(k + restore);
          const std::string failed = commit_in(dir, earlier, stale_backup, failing);
          const std::string what = setup + ", move " + std::to_string(k) + " fails" +
                                   (restore ? ", and move " + std::to_string(k + restore) : "");
          EXPECT_EQ(failed, faults.first_failed) << what;
          const bool restore_failed = faults.calls >= k + restore && restore > 0;
          for (const auto& [name, contents] :
               {std::pair{std::string("aniv00.3d"), earlier.animation}, {"data00.3d", earlier.mesh}}) {
            const auto now = read_bytes(dir / name);
            const auto backup = read_bytes(dir / backup_of(name.c_str()));
            if (!restore_failed) {
              EXPECT_EQ(now, contents ? std::optional<std::string>(contents) : std::nullopt)
                  << what << ": " << name;
              // A killed run's backup may stay after a failure; no backup of this run does.
              if (backup) {
                EXPECT_TRUE(stale_backup && name == "aniv00.3d" && backup == "killed run's backup")
                    << what << ": " << name;
              }
            } else if (contents) {
              EXPECT_TRUE(now == contents || backup == contents) << what << ": " << name << " lost";
            }
            EXPECT_FALSE(std::filesystem::exists(dir / temp_of(name.c_str()))) << what << ": " << name;
          }
        }
      }
    }
  }
}

}  // namespace
