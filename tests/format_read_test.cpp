// The read side of the two formats: a frame decoded from hand-encoded words,
// and the bounded access to headers and triangle records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mesh_format.h"
#include "run.h"
#include "vertex_animation.h"

namespace {

const uint8_t* bytes_of(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

struct DecodeCase {
  std::string frame;  // the frame's bytes as read
  uint32_t vertex_count;
  std::vector<Position> expected;
  const char* why;
};

TEST(DecodeFrame, WordsInOrderSignExtendedAndZeroPastTheBytesRead) {
  const DecodeCase cases[] = {
      {u32le(0x03008008) + u32le(0x000007F8),
       2,
       {{1, 2, 3}, {-1, 0, 0}},
       "x and y in eighths, z in quarters"},
      {u32le(0x7FE003FF), 1, {{127.875, -128, 127.75}}, "the extremes of the three fields"},
      {u32le(0xFF000000) + u32le(0x003FC000) + u32le(0x00000001),
       3,
       {{0, 0, -1}, {0, -1, 0}, {0.125, 0, 0}},
       "three vertices keep their order"},
      {u32le(0x03008008) + "\x08\x80", 2, {{1, 2, 3}, {0, 0, 0}}, "a word cut short decodes as 0"},
      {"", 2, {{0, 0, 0}, {0, 0, 0}}, "a frame not read at all decodes as 0"},
      {u32le(0x03008008) + u32le(0x000007F8), 1, {{1, 2, 3}}, "only the vertices asked for"},
  };
  for (const DecodeCase& c : cases) {
    std::vector<Position> positions(c.vertex_count, Position{9, 9, 9});
    decode_frame(bytes_of(c.frame), c.frame.size(), c.vertex_count, positions.data());
    for (size_t i = 0; i < c.expected.size(); ++i) {
      EXPECT_EQ(positions[i].x, c.expected[i].x) << c.why << ", vertex " << i;
      EXPECT_EQ(positions[i].y, c.expected[i].y) << c.why << ", vertex " << i;
      EXPECT_EQ(positions[i].z, c.expected[i].z) << c.why << ", vertex " << i;
    }
  }
}

struct HeaderCase {
  std::string bytes;
  bool read;
  uint16_t frame_count, bytes_per_frame;
  uint32_t vertex_count;
  const char* why;
};

TEST(AnimationHeader, LittleEndianFieldsAndTheVertexCount) {
  const HeaderCase cases[] = {
      {u16le(7) + u16le(20), true, 7, 20, 5, "7 frames of 5 vertices"},
      {u16le(0xFFFF) + u16le(0xFFFF), true, 0xFFFF, 0xFFFF, 0x3FFF, "the largest header: whole words only"},
      {u16le(3) + u16le(6) + "rest", true, 3, 6, 1, "bytes after the header are not looked at"},
      {"\x07\x00\x14", false, 0, 0, 0, "three bytes hold no header"},
  };
  for (const HeaderCase& c : cases) {
    AnimationHeader header;
    EXPECT_EQ(get_animation_header(bytes_of(c.bytes), c.bytes.size(), header), c.read) << c.why;
    EXPECT_EQ(header.frame_count, c.frame_count) << c.why;
    EXPECT_EQ(header.bytes_per_frame, c.bytes_per_frame) << c.why;
    EXPECT_EQ(header.vertex_count, c.vertex_count) << c.why;
    EXPECT_EQ(frame_offset(header, 2), 4 + 2u * c.bytes_per_frame) << c.why;
  }
}

struct TriangleCase {
  uint32_t triangle;
  size_t length;  // bytes of the file read
  Triangle expected;
  const char* why;
};

TEST(TriangleAt, RecordsAfterTheHeaderBoundedByTheBytesRead) {
  uint8_t file[kMeshHeaderBytes + 2 * kTriangleRecordBytes] = {};
  put_mesh_header(*reinterpret_cast<uint8_t(*)[kMeshHeaderBytes]>(file), 2, 9);
  put_triangle_record(file + kMeshHeaderBytes, {4, 0, 8}, 1);
  put_triangle_record(file + kMeshHeaderBytes + kTriangleRecordBytes, {0x1234, 2, 1}, 2);
  const TriangleCase cases[] = {
      {0, sizeof file, {4, 0, 8}, "the first record"},
      {1, sizeof file, {0x1234, 2, 1}, "the second, little-endian"},
      {2, sizeof file, {0, 0, 0}, "past the end of the file"},
      {1, sizeof file - 1, {0, 0, 0}, "a record cut short"},
  };
  for (const TriangleCase& c : cases) EXPECT_EQ(triangle_at(file, c.length, c.triangle), c.expected) << c.why;
  MeshHeader header;
  ASSERT_TRUE(get_mesh_header(file, sizeof file, header));
  EXPECT_EQ(header.triangle_count, 2);
  EXPECT_EQ(header.vertices_per_frame, 9);
}

}  // namespace
