// The mesh file's fixed header fields and triangle records, as read back.
#include "mesh_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

std::vector<uint8_t> mesh_bytes(uint16_t triangle_count, uint16_t vertices_per_frame) {
  uint8_t header[kMeshHeaderBytes];
  put_mesh_header(header, triangle_count, vertices_per_frame);
  std::vector<uint8_t> bytes(mesh_file_bytes(triangle_count), 0);
  std::copy(header, header + sizeof header, bytes.begin());
  return bytes;
}

TEST(MeshHeaderFields, EveryFixedByteCountsAndOnlyThose) {
  const std::vector<uint8_t> good = mesh_bytes(7, 5);
  EXPECT_TRUE(has_mesh_header_fields(good.data(), good.size()));
  for (size_t offset = 0; offset < kMeshHeaderBytes; ++offset) {
    std::vector<uint8_t> changed = good;
    changed[offset] ^= 0x10;
    // The triangle count and vertices per frame may hold anything.
    EXPECT_EQ(has_mesh_header_fields(changed.data(), changed.size()), offset < 4) << "byte " << offset;
  }
}

TEST(MeshHeaderFields, ATruncatedHeaderIsNone) {
  const std::vector<uint8_t> good = mesh_bytes(0, 1);
  for (size_t length = 0; length < kMeshHeaderBytes; ++length) {
    const std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(length));
    EXPECT_FALSE(has_mesh_header_fields(cut.data(), cut.size())) << length;
  }
}

TEST(TriangleRecords, ReadBackAsWrittenAndNeverPastTheData) {
  std::vector<uint8_t> bytes = mesh_bytes(2, 9);
  put_triangle_record(bytes.data() + kMeshHeaderBytes, {0, 0x0102, 8}, 1);
  put_triangle_record(bytes.data() + kMeshHeaderBytes + kTriangleRecordBytes, {0xFFFF, 3, 4}, 2);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 48, bytes.begin() + 64),
            (std::vector<uint8_t>{0, 0, 2, 1, 8, 0, 1, 1, 0, 0x80, 0, 0x94, 2, 0x80, 0, 0}));

  EXPECT_EQ(triangle_at(bytes.data(), bytes.size(), 1), (Triangle{0xFFFF, 3, 4}));
  for (size_t length = 0; length < 80; ++length) {
    const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(length));
    EXPECT_EQ(triangle_at(cut.data(), cut.size(), 1), (Triangle{0, 0, 0})) << length;
  }
  EXPECT_EQ(triangle_at(bytes.data(), bytes.size(), 0xFFFFFFFF), (Triangle{0, 0, 0}));
}

}  // namespace
