// The triangle pass and the mesh file's bytes.
#include "mesh.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "in_temp_dir.h"
#include "run.h"

namespace {

std::unique_ptr<TriangleTable> scanned(const std::string& text) {
  auto table = std::make_unique<TriangleTable>();
  std::memset(table->bytes, 0xAA, sizeof table->bytes);  // so that unwritten bytes show
  OutOfRange indices{};
  scan_triangles(text.c_str(), text.size(), 10, *table, indices);
  return table;
}

struct Indices {
  uint16_t a, b, c;
  bool operator==(const Indices&) const = default;
};

std::vector<Indices> indices(const TriangleTable& table) {
  std::vector<Indices> out;
  for (uint32_t i = 0; i < table.triangle_count; ++i) {
    const uint8_t* r = table.bytes + i * kTriangleRecordBytes;
    out.push_back({static_cast<uint16_t>(r[0] | r[1] << 8), static_cast<uint16_t>(r[2] | r[3] << 8),
                   static_cast<uint16_t>(r[4] | r[5] << 8)});
  }
  return out;
}

struct TriangleCase {
  std::string text;
  std::vector<Indices> triangles;
  const char* why;
};

TEST(TrianglePass, VertexReferencesBecomeIndices) {
  const TriangleCase cases[] = {
      {"f 1 2 3\nf 3 2 4\n", {{0, 1, 2}, {2, 1, 3}}, "1-based references become 0-based"},
      {"", {}, "no faces"},
      {"v 1 2 3\nvt 0 0\n", {}, "no f at all"},
      {"f 1/4/7 2/5/8 3/6/9\n", {{0, 1, 2}}, "texture and normal references are not read"},
      {"f 1//4 2//5 3//6\n", {{0, 1, 2}}, "nor are normals alone"},
      {"f 4 5 6 7\n", {{3, 4, 5}}, "a quad gives its first three references"},
      {"f -5 -1 2\n", {{4, 0, 1}}, "relative references are taken as absolute"},
      {"f 0 x 1\n", {{0xFFFF, 0xFFFF, 0}}, "0, and text that is no number, become 0xFFFF"},
      {"f -2147483648 65537 65536\n", {{0xFFFF, 0, 0xFFFF}}, "indices keep their low 16 bits"},
      {"usemtl leaf 1 2 3\nf 4 5 6\n", {{0, 1, 2}, {3, 4, 5}}, "an f and a space in a name begin a record"},
      {"f 1 2 3\r\nf\t4 5 6\r\nf 7 8 9", {{0, 1, 2}, {6, 7, 8}}, "CR LF; a tab after f is no face"},
  };
  for (const TriangleCase& c : cases) {
    const auto table = scanned(c.text);
    EXPECT_EQ(indices(*table), c.triangles) << c.why;
  }
}

TEST(TrianglePass, CycleByteRunsOneToFortyTwoThenTwoToFortyTwo) {
  std::string text;
  for (int i = 0; i < 200; ++i) text += "f 1 2 3\n";
  const auto table = scanned(text);
  ASSERT_EQ(table->triangle_count, 200);
  auto cycle = [&](int n) { return table->bytes[n * kTriangleRecordBytes + 7]; };
  EXPECT_EQ(cycle(0), 1);
  EXPECT_EQ(cycle(1), 2);
  EXPECT_EQ(cycle(41), 42);
  EXPECT_EQ(cycle(42), 2);
  EXPECT_EQ(cycle(82), 42);
  EXPECT_EQ(cycle(83), 2);
  for (int n = 42; n < 200; ++n) EXPECT_EQ(cycle(n), 2 + (n - 42) % 41) << n;
}

TEST(TrianglePass, KeepsEveryFaceUpToTenThousand) {
  std::string text;
  for (int i = 1; i <= 10001; ++i) text += "f " + std::to_string(i) + " 2 3\n";
  const auto table = scanned(text);
  ASSERT_EQ(table->triangle_count, 10000);
  const auto all = indices(*table);
  EXPECT_EQ(all[2500], (Indices{2500, 1, 2})) << "past the first 2,000 faces";
  EXPECT_EQ(all[9999], (Indices{9999, 1, 2}));
  const uint8_t* trailing = table->bytes + 10000 * kTriangleRecordBytes;
  EXPECT_EQ(std::vector<uint8_t>(trailing, trailing + 48), std::vector<uint8_t>(48, 0));
}

using MeshFile = InTempDir;

TEST_F(MeshFile, TwoFacesByteForByte) {
  const auto table = scanned("v 0 0 0\nf 1 2 3\nf 3 2 4\n");
  ASSERT_TRUE(write_mesh_file("data00.3d", 4, *table));
  const std::string expected = from_hex(
                                   "02 00 04 00 00 00 01 00  00 00 01 00 00 00 00 00"
                                   "00 00 00 00 00 00 00 01  00 00 80 7F 00 00 80 3F"
                                   "00 00 01 00 00 00 00 00  00 00 00 00 00 00 00 00"
                                   "00 00 01 00 02 00 01 01  00 80 00 94 02 80 00 00"
                                   "02 00 01 00 03 00 01 02  00 80 00 94 02 80 00 00") +
                               std::string(48, '\0');
  EXPECT_EQ(read_bytes("data00.3d"), expected);
}

TEST_F(MeshFile, NoFacesIsHeaderAndThreeZeroRecords) {
  const auto table = scanned("v 1 2 3\n");
  ASSERT_TRUE(write_mesh_file("data00.3d", 1, *table));
  const auto bytes = read_bytes("data00.3d");
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->size(), 96u);
  EXPECT_EQ(bytes->substr(0, 4), std::string("\0\0\1\0", 4));
  EXPECT_EQ(bytes->substr(48), std::string(48, '\0'));
}

}  // namespace
