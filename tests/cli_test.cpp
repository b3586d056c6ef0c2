// inspect3d's command-line layer and check's comparison, in memory: the option
// table, a frame compared with its words, and the problems a comparison counts.
#include "cli.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "animation_in.h"
#include "comparison.h"
#include "run.h"

namespace {

bool is_digits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

constexpr OptionSpec kSpecs[] = {
    {"--all", nullptr, nullptr},
    {"--frame", "--frame needs a frame number", is_digits},
    {"--out", "--out needs a directory", nullptr},
};

struct OptionCase {
  std::vector<std::string> args;
  std::string error;
  std::vector<std::string> values;  // per row: "-" not given, else its text
  const char* why;
};

TEST(ParseOptions, EachOptionOnceWithItsValueCheckedAsItComes) {
  const OptionCase cases[] = {
      {{}, "", {"-", "-", "-"}, "nothing given"},
      {{"--out", "d", "--all", "--frame", "7"}, "", {"", "7", "d"}, "any order"},
      {{"--out", "--all"}, "", {"-", "-", "--all"}, "the next argument is the value whatever it is"},
      {{"--all", "--all"}, "obj takes --all once", {}, "a flag twice"},
      {{"--frame", "1", "--frame", "x"},
       "obj takes --frame once",
       {},
       "repeated before its value is looked at"},
      {{"--frame"}, "--frame needs a frame number", {}, "a value missing"},
      {{"--frame", "two"}, "--frame needs a frame number", {}, "a value not accepted"},
      {{"--out", ""}, "--out needs a directory", {}, "an empty value, with no check of its own"},
      {{"frame3"}, "obj does not take frame3", {}, "an argument of no row"},
      {{"--frame", "x", "-q"}, "--frame needs a frame number", {}, "the first error in order wins"},
      {{"-q", "--frame", "x"}, "obj does not take -q", {}, "likewise"},
  };
  for (const OptionCase& c : cases) {
    Arguments parsed;
    EXPECT_EQ(parse_options("obj", c.args, kSpecs, Operands::kNone, parsed), c.error) << c.why;
    EXPECT_FALSE(parsed.help) << c.why;
    const std::vector<OptionValue>& values = parsed.options;
    ASSERT_EQ(values.size(), std::size(kSpecs)) << c.why;
    for (size_t row = 0; row < c.values.size(); ++row) {
      EXPECT_EQ(values[row].given, c.values[row] != "-") << c.why << ", row " << row;
      if (values[row].given) {
        EXPECT_EQ(values[row].text, c.values[row]) << c.why << ", row " << row;
      }
    }
  }
}

struct HelpCase {
  std::vector<std::string> args;
  Operands operands;
  bool help;
  std::string error;
  std::vector<std::string> kept;  // the operands
  const char* why;
};

TEST(ParseOptions, HelpOnlyWhereAnOptionMayStand) {
  const HelpCase cases[] = {
      {{"-h"}, Operands::kNone, true, "", {}, "-h alone"},
      {{"--all", "--help"}, Operands::kNone, true, "", {}, "--help after an option"},
      {{"--frame", "x", "-h"}, Operands::kNone, true, "", {}, "help outweighs a usage error"},
      {{"--out", "-h"}, Operands::kNone, false, "", {}, "the value of --out, a directory named -h"},
      {{"--out", "--help", "-x"},
       Operands::kNone,
       false,
       "obj does not take -x",
       {},
       "a value, then an error"},
      {{"dir", "-h"}, Operands::kPlain, true, "", {"dir"}, "after an operand"},
      {{"-x", "dir"},
       Operands::kPlain,
       false,
       "obj does not take -x",
       {"dir"},
       "no option begins an operand"},
      {{"-x", "-"}, Operands::kAny, false, "", {"-x", "-"}, "any text an operand"},
  };
  for (const HelpCase& c : cases) {
    Arguments parsed;
    EXPECT_EQ(parse_options("obj", c.args, kSpecs, c.operands, parsed), c.error) << c.why;
    EXPECT_EQ(parsed.help, c.help) << c.why;
    EXPECT_EQ(parsed.operands, c.kept) << c.why;
  }
}

// A vertex animation file of 2 frames of 2 vertices: frame 0 holds (1, 2, 3)
// and (-1, 0, 0.25); frame 1 (127.875, 0, 0) and (0, 0, 0).
std::vector<uint8_t> two_frames() {
  const std::string bytes = u16le(2) + u16le(8) + u32le(pack_vertex(1, 2, 3)) +
                            u32le(pack_vertex(-1, 0, 0.25)) + u32le(pack_vertex(127.875, 0, 0)) + u32le(0);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

struct SourceVertex {
  uint32_t frame;  // a new frame begins where it changes
  double x, y, z;
};

struct ComparisonCase {
  std::vector<SourceVertex> source;
  double largest_error[2][3];
  uint32_t wrapped_count[2];
  uint64_t differ_count;
  const char* why;
};

TEST(FrameComparison, ErrorsWithinRangeWrappedCoordinatesAndWordsThatDiffer) {
  const ComparisonCase cases[] = {
      {{{0, 1, 2, 3}, {0, -1, 0, 0.25}, {1, 127.875, 0, 0}, {1, 0, 0, 0}},
       {{0, 0, 0}, {0, 0, 0}},
       {0, 0},
       0,
       "the exact source: no error"},
      {{{0, 1.1, 2, 3.2}, {0, -1.05, 0, 0.3}, {1, 127.9, 0, 0}, {1, 0, 0.1, 0}},
       {{0.1, 0, 0.2}, {0.025, 0.1, 0}},
       {0, 0},
       0,
       "truncation: errors under a step, the largest per axis and frame"},
      {{{0, 1, 2, 3}, {0, -1, 0, 0.25}, {1, 128, 0, 0}, {1, 0, 0, 0}},
       {{0, 0, 0}, {0, 0, 0}},
       {0, 1},
       1,
       "128 wraps: counted, kept out of the error, and its word differs"},
      {{{0, 1, 2, 3}, {0, 5, 0, 0.25}, {1, 127.875, 0, 0}, {1, 0, 0, 0}},
       {{6, 0, 0}, {0, 0, 0}},
       {0, 0},
       1,
       "a word that is not the source's"},
  };
  const std::vector<uint8_t> file = two_frames();
  const Animation animation = animation_in(file);
  for (const ComparisonCase& c : cases) {
    FrameComparison comparison(animation);
    uint32_t frame = UINT32_MAX;
    for (const SourceVertex& v : c.source) {
      if (v.frame != frame) {
        if (frame != UINT32_MAX) comparison.end_frame(frame, 2);
        comparison.begin_frame(frame = v.frame, "v\n");
      }
      comparison.vertex({0, v.x, v.y, v.z, true});
    }
    comparison.end_frame(frame, 2);
    ASSERT_EQ(comparison.findings.size(), 2u) << c.why;
    for (int f = 0; f < 2; ++f) {
      for (int axis = 0; axis < 3; ++axis) {
        EXPECT_NEAR(comparison.findings[f].largest_error[axis], c.largest_error[f][axis], 1e-9)
            << c.why << ", frame " << f << " axis " << axis;
      }
      EXPECT_EQ(comparison.findings[f].wrapped_count, c.wrapped_count[f]) << c.why << ", frame " << f;
    }
    EXPECT_EQ(comparison.differ_count, c.differ_count) << c.why;
    EXPECT_TRUE(comparison.same_vertex_count) << c.why;
  }
}

Check agreeing_check() {
  Check check;
  check.vertex_count = 50;
  check.same_vertex_count = check.same_frame_count = check.same_faces = true;
  return check;
}

struct ProblemsCase {
  void (*change)(Check&);
  std::vector<std::string> words;
  const char* why;
};

TEST(ProblemsOf, CountedInTheOrderOfTheResultLine) {
  const ProblemsCase cases[] = {
      {[](Check&) {}, {}, "outputs that are the conversion: no problem"},
      {[](Check& c) { c.wrapped.resize(1); }, {"1 wrapped coordinate"}, "one wrapped coordinate"},
      {[](Check& c) {
         c.indices.resize(2);
         c.wrapped.resize(3);
         c.left_out_counts[static_cast<int>(LeftOutKind::kFaceNotInFull)] = 4;
       },
       {"3 wrapped coordinates", "2 face indices out of range", "4 faces not read in full"},
       "wrapped before indices before what was left out"},
      {[](Check& c) { c.left_out_counts[static_cast<int>(LeftOutKind::kFrameWithMoreVertices)] = 1; },
       {"1 frame with more than 50 vertices"},
       "the vertex count in the words"},
      {[](Check& c) { c.mesh_difference.trailing_records = true; },
       {"1 mesh file not as frameconv writes it"},
       "the same faces, other bytes"},
      {[](Check& c) {
         c.same_faces = false;
         c.mesh_difference.trailing_records = true;
       },
       {"1 mesh file of other faces"},
       "other faces say nothing of the bytes"},
      {[](Check& c) {
         c.stopped = "anima003.obj has too few vertices";
         c.same_frame_count = false;
         c.differ_count = 7;
       },
       {"1 frame sequence frameconv cannot convert", "1 vertex animation file of other frames",
        "7 vertices stored otherwise"},
       "the sequence before the files"},
  };
  for (const ProblemsCase& c : cases) {
    Check check = agreeing_check();
    c.change(check);
    std::vector<std::string> words;
    for (const Problem& problem : problems_of(check)) words.push_back(problem.words);
    EXPECT_EQ(words, c.words) << c.why;
  }
}

}  // namespace
