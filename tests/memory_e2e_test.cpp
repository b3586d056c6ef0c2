// inspect3d's memory is bounded by what a command uses, not by the size of
// the file it reads: info and preview on a valid vertex animation file of
// 1 GiB (sparse: it takes no room on the disk) stay under 64 MB.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "run.h"

namespace {

const std::string kInspect = program_under_test("ANIM3D_INSPECT3D", INSPECT3D_PROGRAM);

constexpr long kPeakLimitKilobytes = 64 * 1024;

// The largest resident size of any child this process has waited for, in
// kilobytes (Linux counts ru_maxrss in kilobytes).
long children_peak_kilobytes() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_maxrss;
}

TEST(Memory, InfoAndPreviewOfAGibibyteFileStayUnder64Megabytes) {
  if (running_under_wine()) GTEST_SKIP() << "the peak of a Windows program is not a child's here";
  if (kProgramsSanitized) GTEST_SKIP() << "the sanitizers' own memory is not the program's";
  TempDir dir;
  // 16,384 frames of 16,383 vertices: 1,073,676,292 bytes, every word 0.
  constexpr uint16_t kFrames = 16384, kBytesPerFrame = 65532;
  write_bytes(dir.path / "aniv00.3d", u16le(kFrames) + u16le(kBytesPerFrame));
  std::filesystem::resize_file(dir.path / "aniv00.3d", 4 + uint64_t{kFrames} * kBytesPerFrame);
  // One triangle of the same 16,383 vertices, then the three trailing records.
  std::string mesh = u16le(1) + u16le(16383) + u16le(0) + u16le(1) + u32le(0x00010000) + u32le(0) + u32le(0) +
                     u32le(0x01000000) + u32le(0x7F800000) + u32le(0x3F800000) + u32le(0x00010000) +
                     u32le(0) + u32le(0) + u32le(0);
  mesh += u16le(0) + u16le(1) + u16le(2) + from_hex("01 01 00 80 00 94 02 80 00 00") + std::string(48, '\0');
  write_bytes(dir.path / "data00.3d", mesh);

  const CapturedRun info = run_program(kInspect, dir.path, {"info", "aniv00.3d"});
  EXPECT_EQ(info.exit_status, 0) << info.err;
  EXPECT_EQ(info.out.substr(0, 51), "aniv00.3d: vertex animation file, 1073676292 bytes\n");
  EXPECT_NE(info.out.find("  16383         0         0         0         0         0         0\n"),
            std::string::npos);
  const long info_peak = children_peak_kilobytes();
  EXPECT_LT(info_peak, kPeakLimitKilobytes) << "info";

  const CapturedRun preview = run_program(kInspect, dir.path, {"preview"});
  EXPECT_EQ(preview.exit_status, 0) << preview.err;
  EXPECT_NE(
      preview.out.find(
          "frames 0, 1489, 2979, 4468, 5957, 7447, 8936, 10426, 11915, 13404, 14894, 16383 of 16384 frames"),
      std::string::npos)
      << preview.out;
  // The peak of all children so far: preview's, unless info's was larger.
  EXPECT_LT(children_peak_kilobytes(), kPeakLimitKilobytes) << "preview";
  std::printf("peak resident size: info %ld kB, info and preview %ld kB\n", info_peak,
              children_peak_kilobytes());
}

}  // namespace
