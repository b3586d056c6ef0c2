// The scanner's searches, number readers and vertex passes (read as
// read_frame_sequence reads a frame sequence), and the frame names.
#include "scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "frame_recorder.h"
#include "frames.h"
#include "mesh.h"
#include "sequence.h"

namespace {

// A std::string keeps a 0 just past its last byte, as the text buffer does.
ScanCursor at(const std::string& text, size_t cursor = 0) { return {text.c_str(), text.size(), cursor}; }

struct FindCase {
  std::string text;
  std::string pattern;
  size_t from;
  bool found;
  size_t cursor;  // afterwards
  const char* why;
};

TEST(FindToken, MovesJustPastTheMatchOrJustPastEnd) {
  const FindCase cases[] = {
      {"v 1 2 3", "v ", 0, true, 2, "a match at the very first byte"},
      {"vt 0 0\nvn 0 1 0\nv 1", "v ", 0, true, 18, "vt and vn are passed over"},
      {"# move v 3", "v ", 0, true, 9, "not anchored to line starts"},
      {"v 1 v 2", "v ", 2, true, 6, "searches from the cursor on"},
      {"abc", "v ", 0, false, 4, "not found: just past end"},
      {"abv", "v ", 0, false, 4, "a pattern cut by end is not matched"},
      {"abc", " ", 3, false, 4, "at end: nothing to compare"},
      {"abc", " ", 7, false, 7, "past end: the cursor stays"},
      {"a b", " ", 0, true, 2, "a one-byte pattern"},
      {"", "f ", 0, false, 1, "empty data"},
  };
  for (const FindCase& c : cases) {
    ScanCursor scan = at(c.text, c.from);
    EXPECT_EQ(find_token(scan, c.pattern.c_str(), c.pattern.size()), c.found) << c.why;
    EXPECT_EQ(scan.cursor, c.cursor) << c.why;
  }
}

TEST(FindToken, NeverLooksAtBytesPastEnd) {
  const std::string text = "ab v x";
  ScanCursor scan{text.c_str(), 3, 0};  // the data ends before "v "
  EXPECT_FALSE(find_token(scan, "v ", 2));
  EXPECT_EQ(scan.cursor, 4u);
}

TEST(SkipPastSpace, LooksAtMostAThousandBytesBeforeEnd) {
  const std::string spaced = "12 34";
  ScanCursor scan = at(spaced);
  EXPECT_TRUE(skip_past_space(scan));
  EXPECT_EQ(scan.cursor, 3u);

  const std::string space_at_999 = std::string(999, 'x') + " y";
  scan = at(space_at_999);
  EXPECT_TRUE(skip_past_space(scan));
  EXPECT_EQ(scan.cursor, 1000u);

  const std::string space_at_1000 = std::string(1000, 'x') + " y";
  scan = at(space_at_1000);
  EXPECT_FALSE(skip_past_space(scan));
  EXPECT_EQ(scan.cursor, 1000u);

  const std::string past_end = "12 34";
  scan = ScanCursor{past_end.c_str(), 2, 0};  // the space lies past end
  EXPECT_FALSE(skip_past_space(scan));
  EXPECT_EQ(scan.cursor, 1000u);

  scan = ScanCursor{past_end.c_str(), 5, 1005};
  EXPECT_FALSE(skip_past_space(scan));
  EXPECT_EQ(scan.cursor, 2005u);
}

struct RealCase {
  std::string text;
  double value;
};

TEST(ReadReal, DecimalGrammar) {
  const double inf = std::numeric_limits<double>::infinity();
  const RealCase cases[] = {
      {"1.5", 1.5},
      {"-2", -2.0},
      {"0.25 rest", 0.25},
      {" \t\n\v\f\r7", 7.0},
      {"+3", 3.0},
      {".5", 0.5},
      {"-.5", -0.5},
      {"5.", 5.0},
      {"1.0e1", 10.0},
      {"1.5d2", 150.0},
      {"1.5D2", 150.0},
      {"2E-1", 0.2},
      {"25e+1", 250.0},
      {"1e", 1.0},
      {"1e+", 1.0},
      {"1dx", 1.0},
      {"12/5/7", 12.0},
      {"1.5.5", 1.5},
      {"0x10", 0.0},
      {"inf", 0.0},
      {"nan", 0.0},
      {"-", 0.0},
      {".", 0.0},
      {"", 0.0},
      {"e5", 0.0},
      {"1e400", inf},
      {"-1e400", -inf},
      {"1e-400", 0.0},
      {"1e99999999999999999999", inf},
      {"0e99999999999999999999", 0.0},
      {"4.9e-324", 4.9e-324},
      {"-57.123456", -57.123456},
      {"0.1", 0.1},
      {"123456789012345678901234567890", 1.2345678901234568e29},
      {"0.000000000000000000000000000001", 1e-30},
      {"9007199254740993", 9007199254740992.0},  // halfway: ties to even
      {"1.7976931348623157e308", 1.7976931348623157e308},
  };
  for (const RealCase& c : cases) {
    EXPECT_EQ(read_real(at(c.text)), c.value) << '"' << c.text << '"';
  }
}

TEST(ReadReal, CorrectlyRoundedBeyondEightHundredDigits) {
  // Just above halfway between two doubles, the deciding digit far out.
  const std::string above_half = "9007199254740993." + std::string(900, '0') + "1";
  EXPECT_EQ(read_real(at(above_half)), 9007199254740994.0);
  const std::string exactly_half = "9007199254740993." + std::string(900, '0');
  EXPECT_EQ(read_real(at(exactly_half)), 9007199254740992.0);
  const std::string leading_zeros = "0." + std::string(1000, '0') + "15e1001";
  EXPECT_EQ(read_real(at(leading_zeros)), 1.5);
}

TEST(ReadReal, DoesNotMoveTheCursorAndReadsZeroAtOrPastEnd) {
  const std::string text = "v 1.5";
  ScanCursor scan = at(text, 2);
  EXPECT_EQ(read_real(scan), 1.5);
  EXPECT_EQ(scan.cursor, 2u);
  EXPECT_EQ(read_real(at(text, 5)), 0.0);
  EXPECT_EQ(read_real(at(text, 6000)), 0.0);
}

struct IntegerCase {
  std::string text;
  int32_t value;
};

TEST(ReadInteger, DigitsUpToTheFirstNonDigitWrappingIn32Bits) {
  const IntegerCase cases[] = {
      {"12/5/7", 12},
      {"-5", -5},
      {"+7", 7},
      {" \t42", 42},
      {"abc", 0},
      {"", 0},
      {"-", 0},
      {"3000000000", -1294967296},
      {"-2147483648", INT32_MIN},
      {"4294967297", 1},
      {"7.9", 7},
  };
  for (const IntegerCase& c : cases) {
    EXPECT_EQ(read_integer(at(c.text)), c.value) << '"' << c.text << '"';
  }
  EXPECT_EQ(read_integer(at("12", 2)), 0);
}

// The packed words of vertices as read.
std::vector<uint32_t> words_of(const std::vector<Vertex>& vertices) {
  std::vector<uint32_t> words;
  for (const Vertex& v : vertices) words.push_back(pack_vertex(v.x, v.y, v.z));
  return words;
}

// A first frame of `count` plain vertices: it sets the count the later frame
// under test is read with.
std::string plain_frame(uint32_t count) {
  std::string text;
  for (uint32_t i = 0; i < count; ++i) text += "v 0 0 0\n";
  return text;
}

struct PassCase {
  std::string text;
  std::vector<uint32_t> words;
  const char* why;
};

TEST(FirstFramePass, FindsVerticesWhereverVAndSpaceStand) {
  const PassCase cases[] = {
      {"v 1.5 -2 0.25\n", {pack_vertex(1.5, -2, 0.25)}, "one plain vertex"},
      {"v 1.0e1 2 3\nv 1.5d2 0 0\n",
       {pack_vertex(10, 2, 3), pack_vertex(150, 0, 0)},
       "both exponent letters"},
      {"vt 0.5 0.5\nvn 0 1 0\nv 1 2 3", {pack_vertex(1, 2, 3)}, "vt and vn never match; no final line break"},
      {"# move v 3\nv 1 2 3\n", {pack_vertex(3, 1, 2)}, "a v in a comment is a vertex"},
      {"v 1  2 3\n", {pack_vertex(1, 2, 2)}, "two spaces before y: z is read from y's text"},
      {"v  1 2 3\n", {pack_vertex(1, 1, 2)}, "two spaces after v: y is read from x's text"},
      {"v 1 2\nv 3 4 5\n", {pack_vertex(1, 2, 3)}, "a short line takes z from the next one"},
      {"v 1 2 3\r\nv\t4 5 6\r\nv 7\t8 9\r\n",
       {pack_vertex(1, 2, 3), pack_vertex(7, 9, 0)},
       "CR LF is white space; a tab is not a separator"},
      {"no vertices here\nf 1 2 3\n", {}, "no v at all"},
  };
  for (const PassCase& c : cases) {
    const RecordedSequence read = record_sequence({c.text});
    EXPECT_EQ(read.end, c.words.empty() ? SequenceEnd::kNoVertices : SequenceEnd::kComplete) << c.why;
    const std::vector<uint32_t> words =
        read.recorder.frames.empty() ? std::vector<uint32_t>{} : words_of(read.recorder.frames[0]);
    EXPECT_EQ(words, c.words) << c.why;
  }
}

TEST(FirstFramePass, StopsAtTenThousandVertices) {
  std::string text;
  for (int i = 0; i <= 10000; ++i) text += "v 1 2 3\n";
  const RecordedSequence read = record_sequence({text});
  ASSERT_EQ(read.recorder.frames.size(), 1u);
  EXPECT_EQ(read.recorder.frames[0].size(), 10000u);
  EXPECT_EQ(read.sequence.vertex_count, 10000u);
}

TEST(LaterFramePass, TakesExactlyTheFirstFramesCount) {
  const std::string text = "# frame\nv 1 2 3\nvn 0 0 1\nv 4 5 6\nv 7 7 7\n";
  const RecordedSequence read = record_sequence({plain_frame(2), text});
  ASSERT_EQ(read.recorder.frames.size(), 2u);
  EXPECT_EQ(words_of(read.recorder.frames[1]),
            (std::vector<uint32_t>{pack_vertex(1, 2, 3), pack_vertex(4, 5, 6)}));

  EXPECT_EQ(record_sequence({plain_frame(4), text}).end, SequenceEnd::kTooFewVertices) << "too few v";
  EXPECT_EQ(record_sequence({plain_frame(1), ""}).end, SequenceEnd::kTooFewVertices) << "an empty frame";
}

TEST(LaterFramePass, MovesBetweenCoordinatesByTheThousandByteWindow) {
  // After x the window holds "1" and 999 'x': no space, so the cursor moves
  // 1,000 bytes on, onto the space before "2". The first-frame pass, searching
  // to end of data, reads the same text as (1, 2, 3).
  const PassCase cases[] = {
      {"v 1" + std::string(999, 'x') + " 2 3",
       {pack_vertex(1, 2, 2)},
       "the window lands on the space before 2"},
      {"v 1" + std::string(1000, 'x') + " 2 3", {pack_vertex(1, 0, 2)}, "the window lands on an x"},
      {"v 1", {pack_vertex(1, 0, 0)}, "past end reads 0"},
  };
  for (const PassCase& c : cases) {
    const RecordedSequence read = record_sequence({plain_frame(1), c.text});
    ASSERT_EQ(read.recorder.frames.size(), 2u) << c.why;
    EXPECT_EQ(words_of(read.recorder.frames[1]), c.words) << c.why;
  }
}

struct Visited {
  size_t at;
  double x, y, z;
  bool operator==(const Visited&) const = default;
};

std::vector<Visited> visited(const std::vector<Vertex>& vertices) {
  std::vector<Visited> seen;
  for (const Vertex& v : vertices) seen.push_back({v.at, v.x, v.y, v.z});
  return seen;
}

TEST(Vertices, CarryWhereTheirVStandsAndTheirCoordinatesAsRead) {
  const std::string first = "# move v 3\nv 1 2 3\nv 4.5 -6 7e1\n";
  const std::string later = "vn 0 0 1\nv 1 2 3\nv 4 5 6\n";
  const RecordedSequence read = record_sequence({first, later});
  ASSERT_EQ(read.recorder.frames.size(), 2u);
  EXPECT_EQ(visited(read.recorder.frames[0]), (std::vector<Visited>{{7, 3, 1, 2}, {19, 4.5, -6, 70}}))
      << "the comment's v, as packed";
  EXPECT_EQ(visited(read.recorder.frames[1]), (std::vector<Visited>{{9, 1, 2, 3}, {17, 4, 5, 6}}));

  const RecordedSequence short_later = record_sequence({plain_frame(3), later});
  EXPECT_EQ(short_later.end, SequenceEnd::kTooFewVertices);
  EXPECT_EQ(short_later.recorder.dropped.size(), 2u) << "the vertices found are handed over before it stops";
}

struct AsWrittenCase {
  std::string text;
  bool later_frame;              // the later-frame pass, else the first-frame pass
  std::vector<bool> as_written;  // of each vertex read
  const char* why;
};

std::vector<bool> as_written(const AsWrittenCase& c) {
  const uint32_t count = static_cast<uint32_t>(c.as_written.size());
  const RecordedSequence read =
      c.later_frame ? record_sequence({plain_frame(count), c.text}) : record_sequence({c.text});
  std::vector<bool> flags;
  if (read.recorder.frames.size() != (c.later_frame ? 2u : 1u)) return flags;
  for (const Vertex& v : read.recorder.frames.back()) flags.push_back(v.as_written);
  return flags;
}

TEST(VertexAsWritten, OnlyWhenEachCoordinateHasANumberOfItsOwnOnTheLineOfItsV) {
  const std::string window = "v 1" + std::string(999, 'x') + " 2 3";
  const AsWrittenCase cases[] = {
      {"v 1 2 3\nv -1.5 2e1 .5\n", false, {true, true}, "single spaces"},
      {"v 1 2 3", false, {true}, "no final line break"},
      {"v 1 2 3\r\n", false, {true}, "CR LF"},
      {"v 1 2 3 0.5 0.5 0.5\n", false, {true}, "colours after z"},
      {"v 1e 2 3\n", false, {true}, "a number that ends before its space, searched for"},
      {"v  1 2 3\n", false, {false}, "y read from x's number"},
      {"v 1  2 3\n", false, {false}, "z read from y's number"},
      {"v 1 2\nv 3 4 5\n", false, {false}, "z from the next line"},
      {"v \n1 2 3\n", false, {false}, "every number on the next line"},
      {"v 1\t2 3\n", false, {false}, "y from z's text, z from none"},
      {"v 1 2", false, {false}, "z from no number: the data ends"},
      {window, true, {false}, "the 1,000-byte window lands before y: z from y's number"},
      {window, false, {true}, "the first-frame search finds the space"},
      {"v 1 2 3\nv 4 5 6\n", true, {true, true}, "the later-frame pass"},
  };
  for (const AsWrittenCase& c : cases) EXPECT_EQ(as_written(c), c.as_written) << c.why;
}

TEST(VertexFollows, IsTheFirstVAfterTheFramesVerticesAnywhereInALongRest) {
  // "vt" and "vn" lines never match; one "v " at each place around the
  // 16-, 32- and 64-byte blocks of the search, and at the last place it fits.
  const std::string filler = std::string(1, 'v') + "t 0.5 0.5\nvn 0 1 0\nf 1/1 2/2 3/3\n";
  std::string rest;
  while (rest.size() < 1000) rest += filler;
  rest.resize(1000, '#');
  auto more_vertices = [](const std::string& later) {
    std::vector<size_t> at;
    for (const LeftOutSeen& seen : record_sequence({plain_frame(1), later}).recorder.left_out_seen) {
      if (seen.kind == LeftOutKind::kFrameWithMoreVertices && seen.frame == 1) at.push_back(seen.at);
    }
    return at;
  };
  for (size_t place : {0, 1, 15, 16, 31, 32, 33, 62, 63, 64, 65, 127, 128, 500, 998}) {
    std::string text = "v 1 2 3\n" + rest;
    text.replace(8 + place, 2, "v ");
    EXPECT_EQ(more_vertices(text), std::vector<size_t>{8 + place}) << place;
  }
  for (const std::string& none : {"v 1 2 3\n" + rest, "v 1 2 3\n" + rest + "v"}) {
    EXPECT_TRUE(more_vertices(none).empty()) << "no v, or one cut by the end";
  }
}

TEST(LineOf, CountsEveryNewlineBeforeTheOffset) {
  // Newlines only, more than a byte lane can count at once, and sparse ones.
  const std::string dense(10000, '\n');
  std::string sparse;
  for (int line = 0; line < 3000; ++line) sparse += "v 1 2 3\r\n" + std::string(line % 7, '#');
  for (const std::string* text : std::initializer_list<const std::string*>{&dense, &sparse}) {
    for (size_t at : {0, 1, 15, 16, 17, 4079, 4080, 4081, 8191, 9999}) {
      const uint32_t expected =
          1 + static_cast<uint32_t>(std::count(text->begin(), text->begin() + at, '\n'));
      EXPECT_EQ(line_of(text->c_str(), at), expected) << at;
    }
  }
}

struct FaceLeftOutCase {
  std::string faces;
  std::vector<size_t> left_out;  // offsets of the "f " of faces not read in full
};

TEST(FacesNotReadInFull, AreThoseWithAFourthReferenceOnTheirLine) {
  const FaceLeftOutCase cases[] = {
      {"f 1 2 3\n", {}},
      {"f 1 2 3 4\n", {0}},
      {"f 1 2 3 4 5 6\n", {0}},
      {"f 1/1 2/2 3/3 4/4\n", {0}},
      {"f  1 2 3\n", {0}},  // the third reference is read from "2 3": 3 is a fourth
      {"f 1 2 3 -4\nf 1 2 3 +4\n", {0, 11}},
      {"f 1 2 3\t\v\f4\n", {0}},
      {"f 1 2 3 # 4\n", {}},
      {"f 1 2 3\n4 5 6\n", {}},
      {"f 1 2 3\r\n4\r\n", {}},
      {"f 1 2 3 ", {}},
      {"f 1 2", {}},
      {"f 1 2 3 4", {0}},
      {"g leaf 1 2 3 4\n", {5}},  // "f " in a name is a face, as the pass reads it
  };
  for (const FaceLeftOutCase& c : cases) {
    auto table = std::make_unique<TriangleTable>();
    OutOfRange indices{};
    std::vector<size_t> seen;
    auto note = [](void* context, LeftOutKind kind, size_t at) {
      if (kind == LeftOutKind::kFaceNotInFull) static_cast<std::vector<size_t>*>(context)->push_back(at);
    };
    scan_triangles(c.faces.c_str(), c.faces.size(), 10, *table, indices, LeftOutNote{note, &seen});
    EXPECT_EQ(seen, c.left_out) << '"' << c.faces << '"';
  }
}

TEST(FacesPastTheLimit, AreEachFurtherFOfTheText) {
  std::string text;
  for (int face = 0; face < 10000; ++face) text += "f 1 2 3\n";
  const size_t first = text.size();
  text += "f 1 2 3\n# leaf 2\nf 4 5 6";
  auto table = std::make_unique<TriangleTable>();
  OutOfRange indices{};
  std::vector<std::pair<LeftOutKind, size_t>> seen;
  auto note = [](void* context, LeftOutKind kind, size_t at) {
    static_cast<std::vector<std::pair<LeftOutKind, size_t>>*>(context)->push_back({kind, at});
  };
  scan_triangles(text.c_str(), text.size(), 10, *table, indices, LeftOutNote{note, &seen});
  EXPECT_EQ(table->triangle_count, 10000);
  EXPECT_EQ(seen, (std::vector<std::pair<LeftOutKind, size_t>>{{LeftOutKind::kFacePastLimit, first},
                                                               {LeftOutKind::kFacePastLimit, first + 13},
                                                               {LeftOutKind::kFacePastLimit, first + 17}}));
}

TEST(CompleteText, HoldsEveryPartAtItsLargest) {
  FrameSequence sequence{};
  sequence.vertex_count = UINT32_MAX;
  sequence.indices = {UINT32_MAX, UINT32_MAX, 0};
  for (LeftOutCount& counted : sequence.left_out) counted = {UINT32_MAX, 999, UINT32_MAX};
  sequence.left_out[kLeftOutKinds - 1].line = 0;  // a frame file has no line
  const OutOfRange coordinates{UINT32_MAX, UINT32_MAX, UINT32_MAX - 1};
  char text[kClosingTextBytes];
  complete_text(sequence, coordinates, text);
  const std::string closing = text;
  EXPECT_EQ(closing.substr(0, 72),
            "Conversion Complete, but 4294967295 coordinates out of range (first in a");
  EXPECT_EQ(closing.substr(closing.size() - 68),
            "and 4294967295 frames longer than 5000000 bytes (first anima999.obj)");
  EXPECT_LT(closing.size() + 1, sizeof text);
}

TEST(NextFrameName, CountsInDecimalWithCarries) {
  const std::pair<const char*, const char*> cases[] = {
      {"anima000.obj", "anima001.obj"}, {"anima009.obj", "anima010.obj"}, {"anima099.obj", "anima100.obj"},
      {"anima123.obj", "anima124.obj"}, {"anima999.obj", "anima:00.obj"},
  };
  for (const auto& [before, after] : cases) {
    char name[13];
    std::snprintf(name, sizeof name, "%s", before);
    next_frame_name(name);
    EXPECT_STREQ(name, after);
  }
}

}  // namespace
