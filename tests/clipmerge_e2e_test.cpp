// End-to-end runs of the built clipmerge, each in a fresh directory with clip
// files made by the test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run.h"

namespace {

const std::string kProgram = program_under_test("ANIM3D_CLIPMERGE", CLIPMERGE_PROGRAM);
const std::string kFrameconv = program_under_test("ANIM3D_FRAMECONV", FRAMECONV_PROGRAM);
const std::vector<std::string> kComplete{"Conversion Complete: Conversion Complete"};

// Frame data whose bytes differ from clip to clip and along each clip.
std::string frame_data(int seed, size_t bytes) {
  std::string data(bytes, '\0');
  for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<char>(seed * 37 + i * 7 + i / 251);
  return data;
}

std::string clip(int seed, uint16_t frame_count, uint16_t bytes_per_frame) {
  return u16le(frame_count) + u16le(bytes_per_frame) +
         frame_data(seed, size_t{frame_count} * bytes_per_frame);
}

std::string clip_file(int k) {
  char name[32];
  std::snprintf(name, sizeof name, "a%d.3d", k);
  return name;
}

TEST(Clipmerge, TwoClipsFollowEachOther) {
  TempDir dir;
  write_bytes(dir / "a1.3d", clip(1, 10, 400));
  write_bytes(dir / "a2.3d", clip(2, 5, 400));
  const RunResult run = run_program(kProgram, dir.path);
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.messages, kComplete);
  EXPECT_EQ(read_bytes(dir / "aniv00.3d"),
            u16le(15) + u16le(400) + frame_data(1, 4000) + frame_data(2, 2000));
}

TEST(Clipmerge, MissingClipsAreSkippedAndLaterOnesStillTaken) {
  TempDir dir;
  write_bytes(dir / "a1.3d", clip(1, 3, 8));
  write_bytes(dir / "a2.3d", clip(2, 2, 8));
  write_bytes(dir / "a4.3d", clip(4, 1, 8));
  write_bytes(dir / "a67.3d", clip(67, 4, 8));
  const RunResult run = run_program(kProgram, dir.path);
  EXPECT_EQ(run.messages, kComplete);
  EXPECT_EQ(read_bytes(dir / "aniv00.3d"), u16le(10) + u16le(8) + frame_data(1, 24) + frame_data(2, 16) +
                                               frame_data(4, 8) + frame_data(67, 32));
}

TEST(Clipmerge, AllSixtySevenClipsInNumberOrder) {
  TempDir dir;
  std::string expected_data;
  for (int k = 1; k <= 67; ++k) {
    write_bytes(dir / clip_file(k), clip(k, static_cast<uint16_t>(k % 5 + 1), 12));
    expected_data += frame_data(k, (k % 5 + 1) * 12);
  }
  uint16_t frames = 0;
  for (int k = 1; k <= 67; ++k) frames += k % 5 + 1;
  EXPECT_EQ(run_program(kProgram, dir.path).messages, kComplete);
  EXPECT_EQ(read_bytes(dir / "aniv00.3d"), u16le(frames) + u16le(12) + expected_data);
}

TEST(Clipmerge, BytesBeyondTheAnnouncedFramesAreNotPartOfTheClip) {
  TempDir dir;
  write_bytes(dir / "a1.3d", clip(1, 2, 16) + "surplus bytes");
  write_bytes(dir / "a2.3d", clip(2, 1, 16) + "more");
  EXPECT_EQ(run_program(kProgram, dir.path).messages, kComplete);
  EXPECT_EQ(read_bytes(dir / "aniv00.3d"), u16le(3) + u16le(16) + frame_data(1, 32) + frame_data(2, 16));
}

TEST(Clipmerge, WithoutA1TheFirstClipPresentSetsTheFrameSize) {
  TempDir dir;
  write_bytes(dir / "a5.3d", clip(5, 2, 20));
  write_bytes(dir / "a9.3d", clip(9, 3, 20));
  EXPECT_EQ(run_program(kProgram, dir.path).messages, kComplete);
  EXPECT_EQ(read_bytes(dir / "aniv00.3d"), u16le(5) + u16le(20) + frame_data(5, 40) + frame_data(9, 60));
}

TEST(Clipmerge, ClipsAtTheirLimitsAndSixtyFiveThousandFrames) {
  TempDir dir;
  write_bytes(dir / "a1.3d", clip(1, 37500, 40));    // exactly 1,500,000 bytes
  write_bytes(dir / "a2.3d", clip(2, 15535, 40));    // reaching 65,535 frames
  write_bytes(dir / "a22.3d", clip(22, 12500, 40));  // exactly 500,000 bytes in a short clip
  write_bytes(dir / "aniv00.3d", "an earlier merge");
  EXPECT_EQ(run_program(kProgram, dir.path).messages, kComplete);
  EXPECT_TRUE(read_bytes(dir / "aniv00.3d") == u16le(65535) + u16le(40) + frame_data(1, 1500000) +
                                                   frame_data(2, 15535 * 40) + frame_data(22, 500000));
}

// Every way a merge can end without output: its message, exit status 1, and an
// earlier aniv00.3d left as it was, with no temporary beside it.
struct FailureCase {
  const char* name;
  std::vector<std::pair<int, std::string>> clips;
  std::string message;
  const char* in_the_way = nullptr;  // a directory of this name
};

TEST(Clipmerge, FailuresEndWithTheirMessageAndWriteNothing) {
  const FailureCase cases[] = {
      {"no clips", {}, "Conversion Error: No clip files a1.3d to a67.3d"},
      {"header cut short", {{1, clip(1, 1, 4)}, {3, "abc"}}, "Conversion Error: Bad header in a3.3d"},
      {"empty clip", {{2, ""}}, "Conversion Error: Bad header in a2.3d"},
      {"clip without frames",
       {{1, clip(1, 2, 8)}, {4, clip(4, 0, 8)}},
       "Conversion Error: Bad header in a4.3d"},
      {"frames of 0 bytes", {{3, clip(3, 5, 0)}}, "Conversion Error: Bad header in a3.3d"},
      {"frames of 6 bytes",
       {{1, clip(1, 2, 6)}, {2, clip(2, 1, 6)}},
       "Conversion Error: Bad header in a1.3d"},
      {"frame sizes differ",
       {{1, clip(1, 10, 400)}, {2, clip(2, 5, 800)}},
       "Conversion Error: Frame size of a2.3d differs from a1.3d"},
      {"frame sizes differ without a1",
       {{2, clip(2, 1, 8)}, {5, clip(5, 1, 12)}},
       "Conversion Error: Frame size of a5.3d differs from a2.3d"},
      {"long clip over its limit",
       {{1, clip(1, 38, 40000)}},
       "Conversion Error: Clip a1.3d is over its size limit"},
      {"short clip over its limit",
       {{22, clip(22, 12501, 40)}},
       "Conversion Error: Clip a22.3d is over its size limit"},
      {"merge buffer overflows",
       {{1, clip(1, 37, 40000)},
        {2, clip(2, 37, 40000)},
        {3, clip(3, 37, 40000)},
        {4, clip(4, 37, 40000)},
        {5, clip(5, 37, 40000)},
        {6, clip(6, 37, 40000)},
        {7, clip(7, 37, 40000)}},
       "Conversion Error: Clips do not fit the merge buffer"},
      {"clip shorter than its header",
       {{1, clip(1, 10, 400).substr(0, 4003)}},
       "Conversion Error: Clip a1.3d is shorter than its header says"},
      {"too many frames",
       {{1, clip(1, 65535, 4)}, {2, clip(2, 1, 4)}},
       "Conversion Error: Too many frames in all clips"},
      {"clip is a directory", {{1, clip(1, 1, 4)}}, "Conversion Error: Cannot read a4.3d", "a4.3d"},
      {"output in the way", {{1, clip(1, 1, 4)}}, "Conversion Error: Cannot write aniv00.3d", "aniv00.3d"},
      {"temporary in the way",
       {{1, clip(1, 1, 4)}},
       "Conversion Error: Cannot write aniv00.3d",
       "aniv00.3d~clipmerge-new"},
  };
  for (const FailureCase& c : cases) {
    TempDir dir;
    if (c.in_the_way && std::string(c.in_the_way) == "aniv00.3d") {
      std::filesystem::create_directory(dir / c.in_the_way);
    } else {
      write_bytes(dir / "aniv00.3d", "an earlier merge");
      if (c.in_the_way) std::filesystem::create_directory(dir / c.in_the_way);
    }
    for (const auto& [k, bytes] : c.clips) write_bytes(dir / clip_file(k), bytes);
    const auto before = list_dir(dir.path);
    const RunResult run = run_program(kProgram, dir.path);
    EXPECT_EQ(run.exit_status, 1) << c.name;
    EXPECT_EQ(run.messages, std::vector<std::string>{c.message}) << c.name;
    EXPECT_EQ(list_dir(dir.path), before) << c.name;
    if (!std::filesystem::is_directory(dir / "aniv00.3d")) {
      EXPECT_EQ(read_bytes(dir / "aniv00.3d"), "an earlier merge") << c.name;
    }
  }
}

// An output that cannot be replaced (held open on Windows): the run says so
// and the earlier aniv00.3d stays byte for byte, with nothing beside it.
TEST(Clipmerge, AnOutputThatCannotBeReplacedStaysAsItWas) {
  TempDir dir;
  write_bytes(dir / "a1.3d", clip(1, 3, 12));
  write_bytes(dir / "aniv00.3d", "earlier animation");
  const auto before = list_dir(dir.path);
  const auto run = run_with_output_held(kProgram, dir.path, "aniv00.3d");
  if (!run) GTEST_SKIP() << kCannotHoldOutputs;
  EXPECT_EQ(run->exit_status, 1);
  EXPECT_EQ(run->messages, std::vector<std::string>{"Conversion Error: Cannot write aniv00.3d"});
  EXPECT_EQ(list_dir(dir.path), before);
  EXPECT_EQ(read_bytes(dir / "aniv00.3d"), "earlier animation");
}

TEST(Clipmerge, OutOfMemoryEndsWithItsMessage) {
  if (kProgramsSanitized || running_under_wine()) GTEST_SKIP() << "needs a native build without sanitizers";
  TempDir dir;
  write_bytes(dir / "a1.3d", clip(1, 2, 8));
  const RunResult run = run_program_with_memory_limit(kProgram, dir.path, 4000);  // not the 10 MB buffer
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.messages, std::vector<std::string>{"Conversion Error: out of memory"});
  EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"a1.3d"});
}

// Converts a frame sequence with frameconv and returns its aniv00.3d.
std::string convert(const TempDir& dir, int frame_count, double offset) {
  for (int f = 0; f < frame_count; ++f) {
    std::string text = "o Walk\n";
    for (int i = 0; i < 7; ++i) {
      text += "v " + std::to_string(offset + f + i * 0.5) + " " + std::to_string(-i - offset) + " " +
              std::to_string(f * 0.25) + "\n";
    }
    char name[32];
    std::snprintf(name, sizeof name, "anima%03d.obj", f);
    write_bytes(dir / name, text + "f 1 2 3\n");
  }
  EXPECT_EQ(run_program(kFrameconv, dir.path).messages, kComplete);
  return read_bytes(dir / "aniv00.3d").value_or("");
}

TEST(Clipmerge, JoinsClipsThatFrameconvMade) {
  TempDir walk, run, merged;
  const std::string walk_clip = convert(walk, 6, 1.0);
  const std::string run_clip = convert(run, 4, 20.0);
  ASSERT_EQ(walk_clip.size(), 4u + 6 * 28);
  ASSERT_EQ(run_clip.size(), 4u + 4 * 28);
  write_bytes(merged / "a1.3d", walk_clip);
  write_bytes(merged / "a2.3d", run_clip);
  EXPECT_EQ(run_program(kProgram, merged.path).messages, kComplete);
  const auto out = read_bytes(merged / "aniv00.3d");
  ASSERT_TRUE(out);
  EXPECT_EQ(out->substr(0, 4), u16le(10) + u16le(28));
  for (int f = 0; f < 10; ++f) {
    const std::string& source = f < 6 ? walk_clip : run_clip;
    const int source_frame = f < 6 ? f : f - 6;
    EXPECT_EQ(out->substr(4 + f * 28, 28), source.substr(4 + source_frame * 28, 28)) << "frame " << f;
  }
}

}  // namespace
