// The packed vertex word, the vertex animation file's bytes and the staging of
// output files.
#include <gtest/gtest.h>

#include <cmath>

#include "in_temp_dir.h"
#include "output.h"
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
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  std::filesystem::create_symlink("/dev/full", "full.3d");
  const std::vector<uint8_t> data(100000, 7);
  EXPECT_FALSE(write_vertex_animation_file("full.3d", 1, 4, data.data(), data.size()));
}

using StagedOutputs = InTempDir;

TEST_F(StagedOutputs, TempNameSitsBesideTheOutput) {
  char temp[kTempNameBytes];
  temp_name("aniv00.3d", temp);
  EXPECT_STREQ(temp, "aniv00.3d.tmp");
}

TEST_F(StagedOutputs, CommitReplacesEveryOutputInOrder) {
  write_bytes("one", "old one");
  write_bytes("one.tmp", "new one");
  write_bytes("two.tmp", "new two");
  const char* const names[] = {"one", "two"};
  EXPECT_EQ(commit_outputs(names, 2), nullptr);
  EXPECT_EQ(read_bytes("one"), "new one");
  EXPECT_EQ(read_bytes("two"), "new two");
  EXPECT_EQ(list_dir("."), (std::vector<std::string>{"one", "two"}));
}

TEST_F(StagedOutputs, OneOutputInTheWayLeavesEveryEarlierFile) {
  write_bytes("one", "old one");
  write_bytes("one.tmp", "new one");
  write_bytes("two.tmp", "new two");
  std::filesystem::create_directory("two");
  const char* const names[] = {"one", "two"};
  EXPECT_STREQ(commit_outputs(names, 2), "two");
  EXPECT_EQ(read_bytes("one"), "old one");
  EXPECT_TRUE(std::filesystem::is_directory("two"));
  EXPECT_EQ(list_dir("."), (std::vector<std::string>{"one", "two"}));
}

}  // namespace
