// The clip table, the checks of each clip's header against the merge, and
// reading a clip's frame data.
#include "clipmerge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

TEST(ClipTable, NamesAndReadLimits) {
  const struct {
    int clip;
    const char* name;
    size_t limit;
  } cases[] = {
      {1, "a1.3d", 1500000},   {9, "a9.3d", 1500000},  {10, "a10.3d", 1500000},
      {21, "a21.3d", 1500000}, {22, "a22.3d", 500000}, {67, "a67.3d", 500000},
  };
  for (const auto& c : cases) {
    char name[kClipNameBytes];
    clip_name(c.clip, name);
    EXPECT_STREQ(name, c.name);
    EXPECT_EQ(clip_read_limit(c.clip), c.limit) << c.name;
  }
}

TEST(CheckClip, FrameSizeThenReadLimitThenMergeBuffer) {
  Merge first;  // nothing taken yet
  Merge later;
  later.first_clip = 1;
  later.bytes_per_frame = 400;
  later.frame_count = 10;
  later.data_bytes = 4000;
  Merge nearly_full = later;
  nearly_full.data_bytes = kMergeBufferBytes - 400;

  const struct {
    const Merge* merge;
    int clip;
    uint16_t frame_count, bytes_per_frame;
    ClipCheck check;
    const char* why;
  } cases[] = {
      {&first, 1, 10, 400, ClipCheck::kFits, "the first clip sets the frame size"},
      {&first, 5, 10, 800, ClipCheck::kFits, "whichever clip comes first"},
      {&later, 2, 5, 400, ClipCheck::kFits, "same frame size"},
      {&later, 2, 5, 800, ClipCheck::kFrameSizeDiffers, "a different frame size"},
      {&later, 2, 0, 800, ClipCheck::kBadHeader, "no frames, before the frame size"},
      {&first, 1, 0, 400, ClipCheck::kBadHeader, "a first clip without frames"},
      {&first, 1, 10, 0, ClipCheck::kBadHeader, "frames of 0 bytes"},
      {&first, 1, 10, 6, ClipCheck::kBadHeader, "frames of 6 bytes: no whole vertex"},
      {&later, 2, 5, 402, ClipCheck::kBadHeader, "a bad size before a differing one"},
      {&first, 1, 37, 40000, ClipCheck::kFits, "1,480,000 bytes fit a long clip"},
      {&first, 21, 37500, 40, ClipCheck::kFits, "exactly 1,500,000 bytes"},
      {&first, 21, 37501, 40, ClipCheck::kOverLimit, "one frame more"},
      {&first, 22, 12500, 40, ClipCheck::kFits, "exactly 500,000 bytes in a short clip"},
      {&first, 22, 12501, 40, ClipCheck::kOverLimit, "past 500,000 bytes"},
      {&first, 67, 65535, 65532, ClipCheck::kOverLimit, "the largest header of all"},
      {&later, 30, 13, 40000, ClipCheck::kFrameSizeDiffers, "frame size is checked before the limit"},
      {&nearly_full, 3, 1, 400, ClipCheck::kFits, "the buffer's last frame"},
      {&nearly_full, 3, 2, 400, ClipCheck::kBufferFull, "one frame past the buffer"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(check_clip(*c.merge, c.clip, c.frame_count, c.bytes_per_frame), c.check) << c.why;
  }
}

// A stream of `bytes` bytes that then ends, or fails as a disk that cannot be
// read further does.
struct ClipStream {
  size_t bytes;
  bool fails;
  size_t given = 0;
};

ssize_t read_clip_stream(void* cookie, char* out, size_t size) {
  auto* stream = static_cast<ClipStream*>(cookie);
  if (stream->given == stream->bytes) {
    if (!stream->fails) return 0;
    errno = EIO;
    return -1;
  }
  const size_t n = std::min(size, stream->bytes - stream->given);
  std::memset(out, 7, n);
  stream->given += n;
  return static_cast<ssize_t>(n);
}

// A short file and a failed read are told apart.
TEST(ReadClipFrames, WholeShortOrFailed) {
  const struct {
    const char* name;
    ClipStream stream;
    ClipRead expected;
  } cases[] = {
      {"all announced bytes", {12, false}, ClipRead::kRead},
      {"more than announced", {13, false}, ClipRead::kRead},
      {"file ends early", {11, false}, ClipRead::kShort},
      {"nothing after the header", {0, false}, ClipRead::kShort},
      {"read fails midway", {5, true}, ClipRead::kFailed},
      {"read fails at once", {0, true}, ClipRead::kFailed},
  };
  for (const auto& c : cases) {
    ClipStream stream = c.stream;
    FILE* file =
        fopencookie(&stream, "rb", cookie_io_functions_t{read_clip_stream, nullptr, nullptr, nullptr});
    ASSERT_NE(file, nullptr) << c.name;
    uint8_t data[12];
    EXPECT_EQ(read_clip_frames(file, data, sizeof data), c.expected) << c.name;
    std::fclose(file);
  }
}

}  // namespace
