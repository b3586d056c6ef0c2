// The benchmark input: the frames hold what the sets promise, frameconv's
// scanner reads exactly the vertices and faces written, and the same arguments
// give the same bytes.
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "bench_sequence.h"
#include "frame_recorder.h"
#include "le.h"
#include "vertex_animation.h"

namespace {

// Odd, unequal sizes: a short last grid row, a single vertex, no faces at all.
const SequenceShape kShapes[] = {
    {7, 37, Layout::kSeparate, 7},    {5, 53, Layout::kInterleaved, 11}, {3, 10, Layout::kSeparate, 1},
    {2, 10, Layout::kInterleaved, 1}, {1, 1, Layout::kSeparate, 3},      {4, 2, Layout::kInterleaved, 5},
};

std::string frame(const SequenceShape& shape, uint32_t index) {
  std::string text;
  append_frame_text(shape, index, text);
  return text;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

std::string keyword(const std::string& line) { return line.substr(0, line.find(' ')); }

size_t occurrences(const std::string& text, const std::string& pattern) {
  size_t count = 0;
  for (size_t at = text.find(pattern); at != std::string::npos; at = text.find(pattern, at + 1)) ++count;
  return count;
}

TEST(Grid, TrianglesAreTwoPerCellWithAllFourCorners) {
  const struct {
    uint32_t vertex_count, triangles;
  } cases[] = {{1, 0}, {2, 0}, {4, 2}, {5, 2}, {10, 8}, {5000, 9718}, {10000, 19602}};
  for (const auto& c : cases) {
    EXPECT_EQ(triangle_count(c.vertex_count), c.triangles) << c.vertex_count << " vertices";
    const std::string text = frame({1, c.vertex_count, Layout::kSeparate, 1}, 0);
    EXPECT_EQ(occurrences(text, "\nf "), c.triangles) << c.vertex_count << " vertices";
  }
}

TEST(Frame, HoldsTheHeaderThenEachKindOfLineInItsLayoutsOrder) {
  for (const SequenceShape& shape : kShapes) {
    const std::vector<std::string> lines = lines_of(frame(shape, shape.frame_count - 1));
    const uint32_t v = shape.vertex_count;
    ASSERT_EQ(lines.size(), 6 + 3 * v + triangle_count(v)) << v;
    const std::vector<std::string> header = {"#", "#", "o", "g", "usemtl", "s"};
    for (size_t i = 0; i < header.size(); ++i) EXPECT_EQ(keyword(lines[i]), header[i]) << v;
    for (uint32_t i = 0; i < 3 * v; ++i) {
      const char* expected = shape.layout == Layout::kSeparate ? (i < v       ? "v"
                                                                  : i < 2 * v ? "vt"
                                                                              : "vn")
                                                               : (i % 3 == 0   ? "v"
                                                                  : i % 3 == 1 ? "vn"
                                                                               : "vt");
      ASSERT_EQ(keyword(lines[6 + i]), expected) << v << " vertices, line " << 6 + i;
    }
    for (size_t i = 6 + 3 * v; i < lines.size(); ++i) ASSERT_EQ(keyword(lines[i]), "f") << lines[i];
  }
}

TEST(Frame, HoldsVAndFAndSpaceOnlyOnItsVAndFLines) {
  for (const SequenceShape& shape : kShapes) {
    const std::string text = frame(shape, 0);
    EXPECT_EQ(occurrences(text, "v "), shape.vertex_count);
    EXPECT_EQ(occurrences(text, "f "), triangle_count(shape.vertex_count));
  }
}

TEST(Frame, WritesSixDecimalsSingleSpacedAndPositionsWithinAHundred) {
  const std::regex number_line("(v|vt|vn)( -?[0-9]+\\.[0-9]{6}){2,3}");
  const std::regex face_line("f( ([0-9]+)/\\2/\\2){3}");
  for (const SequenceShape& shape : kShapes) {
    for (const std::string& line : lines_of(frame(shape, 1 % shape.frame_count))) {
      const std::string kind = keyword(line);
      if (kind == "f") {
        EXPECT_TRUE(std::regex_match(line, face_line)) << line;
      }
      if (kind != "v" && kind != "vt" && kind != "vn") continue;
      ASSERT_TRUE(std::regex_match(line, number_line)) << line;
      EXPECT_EQ(occurrences(line, " "), kind == "vt" ? 2u : 3u) << line;
      if (kind != "v") continue;
      for (size_t at = line.find(' '); at != std::string::npos; at = line.find(' ', at + 1)) {
        const double value = std::stod(line.substr(at + 1));
        EXPECT_TRUE(value >= -100 && value <= 100) << line;
      }
    }
  }
}

TEST(Frame, IsReadByFrameconvsScannerExactlyAsWritten) {
  for (const SequenceShape& shape : kShapes) {
    const std::string first = frame(shape, 0), last = frame(shape, shape.frame_count - 1);
    const RecordedSequence read = record_sequence({first, last});
    ASSERT_EQ(read.end, SequenceEnd::kComplete);
    ASSERT_EQ(read.sequence.vertex_count, shape.vertex_count);
    for (uint32_t n = 0; n < 2 * shape.vertex_count; ++n) {
      const uint32_t frame_index = n < shape.vertex_count ? 0 : shape.frame_count - 1;
      const MicroPosition p = vertex_position(shape, frame_index, n % shape.vertex_count);
      const Vertex& v = read.recorder.frames[n < shape.vertex_count ? 0 : 1][n % shape.vertex_count];
      ASSERT_EQ(pack_vertex(v.x, v.y, v.z), pack_vertex(p.x / 1e6, p.y / 1e6, p.z / 1e6)) << "vertex " << n;
    }
    const TriangleTable& table = *read.triangles;
    ASSERT_EQ(table.triangle_count, triangle_count(shape.vertex_count));
    if (table.triangle_count > 0) {  // the first cell's first triangle: its corners 0, 1 and columns + 1
      const uint8_t* record = table.bytes;
      EXPECT_EQ(record[0] | record[1] << 8, 0);
      EXPECT_EQ(record[2] | record[3] << 8, 1);
      EXPECT_EQ(record[4] | record[5] << 8, static_cast<int>(grid_of(shape.vertex_count).columns) + 1);
    }
  }
}

TEST(Frame, IsTheSameForTheSameArgumentsAndMovesFromFrameToFrame) {
  const SequenceShape shape{9, 41, Layout::kSeparate, 7};
  SequenceShape other_seed = shape;
  other_seed.seed = 8;
  SequenceShape interleaved = shape;
  interleaved.layout = Layout::kInterleaved;
  EXPECT_EQ(frame(shape, 4), frame(shape, 4));
  EXPECT_NE(frame(shape, 4), frame(shape, 5));
  EXPECT_NE(frame(shape, 4), frame(other_seed, 4));
  // The layouts differ in order only: the same "v" lines in the same order.
  auto positions = [](const std::string& text) {
    std::string kept;
    for (const std::string& line : lines_of(text))
      if (keyword(line) == "v") kept += line + "\n";
    return kept;
  };
  EXPECT_EQ(positions(frame(shape, 4)), positions(frame(interleaved, 4)));
}

TEST(Frame, IsAboutPointNineMegabytesAtFiveThousandVertices) {
  const size_t a = frame({100, 5000, Layout::kSeparate, 7}, 50).size();
  const size_t b = frame({20, 10000, Layout::kInterleaved, 7}, 10).size();
  EXPECT_GT(a, 850000u);
  EXPECT_LT(a, 950000u);
  EXPECT_GT(b, 2 * 850000u);
  EXPECT_LT(b, 2 * 950000u);
}

constexpr uint32_t kClipFrameBytes = kClipVertexCount * kPackedVertexBytes;

TEST(Clip, IsAHeaderAndWholeFramesOfItsOwnMotion) {
  const struct {
    int clip;
    uint32_t frame_count;
  } cases[] = {{1, 34}, {21, 34}, {22, 11}, {67, 11}};
  for (const auto& c : cases) {
    EXPECT_EQ(clip_frame_count(c.clip), c.frame_count) << "a" << c.clip;
    std::string bytes;
    append_clip_bytes(c.clip, 7, bytes);
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    uint16_t frames = 0, frame_bytes = 0;
    ASSERT_TRUE(get_u16(data, bytes.size(), 0, frames));
    ASSERT_TRUE(get_u16(data, bytes.size(), 2, frame_bytes));
    EXPECT_EQ(frames, c.frame_count);
    EXPECT_EQ(frame_bytes, kClipFrameBytes);
    EXPECT_EQ(bytes.size(), 4 + size_t{frames} * frame_bytes);
    // The last word: the last vertex of the last frame of this clip's own motion.
    const SequenceShape shape{c.frame_count, kClipVertexCount, Layout::kSeparate, 7u + c.clip};
    const MicroPosition p = vertex_position(shape, c.frame_count - 1, kClipVertexCount - 1);
    uint32_t word = 0;
    ASSERT_TRUE(get_u32(data, bytes.size(), bytes.size() - 4, word));
    EXPECT_EQ(word, pack_vertex(p.x / 1e6, p.y / 1e6, p.z / 1e6));
  }
}

TEST(Clip, AllPassClipmergesChecksInOrderAndFillTheBufferWithinAFrameAClip) {
  Merge merge;
  for (int clip = 1; clip <= kClipCount; ++clip) {
    const uint16_t frame_count = static_cast<uint16_t>(clip_frame_count(clip));
    ASSERT_EQ(check_clip(merge, clip, frame_count, kClipFrameBytes), ClipFound::kTaken) << "a" << clip;
    if (merge.first_clip == 0) {
      merge.first_clip = clip;
      merge.bytes_per_frame = kClipFrameBytes;
    }
    merge.frame_count += frame_count;
    merge.data_bytes += size_t{frame_count} * kClipFrameBytes;
  }
  EXPECT_EQ(merge.data_bytes, 9760000u);
  EXPECT_GT(merge.data_bytes + kClipCount * kClipFrameBytes,
            kMergeBufferBytes);  // a frame more each would not fit
}

}  // namespace
