// The clip table, the checks of each clip's header against the merge, and
// reading a clip.
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
    ClipFound found;
    const char* why;
  } cases[] = {
      {&first, 1, 10, 400, ClipFound::kTaken, "the first clip sets the frame size"},
      {&first, 5, 10, 800, ClipFound::kTaken, "whichever clip comes first"},
      {&later, 2, 5, 400, ClipFound::kTaken, "same frame size"},
      {&later, 2, 5, 800, ClipFound::kFrameSizeDiffers, "a different frame size"},
      {&later, 2, 0, 800, ClipFound::kBadHeader, "no frames, before the frame size"},
      {&first, 1, 0, 400, ClipFound::kBadHeader, "a first clip without frames"},
      {&first, 1, 10, 0, ClipFound::kBadHeader, "frames of 0 bytes"},
      {&first, 1, 10, 6, ClipFound::kBadHeader, "frames of 6 bytes: no whole vertex"},
      {&later, 2, 5, 402, ClipFound::kBadHeader, "a bad size before a differing one"},
      {&first, 1, 37, 40000, ClipFound::kTaken, "1,480,000 bytes fit a long clip"},
      {&first, 21, 37500, 40, ClipFound::kTaken, "exactly 1,500,000 bytes"},
      {&first, 21, 37501, 40, ClipFound::kOverLimit, "one frame more"},
      {&first, 22, 12500, 40, ClipFound::kTaken, "exactly 500,000 bytes in a short clip"},
      {&first, 22, 12501, 40, ClipFound::kOverLimit, "past 500,000 bytes"},
      {&first, 67, 65535, 65532, ClipFound::kOverLimit, "the largest header of all"},
      {&later, 30, 13, 40000, ClipFound::kFrameSizeDiffers, "frame size is checked before the limit"},
      {&nearly_full, 3, 1, 400, ClipFound::kTaken, "the buffer's last frame"},
      {&nearly_full, 3, 2, 400, ClipFound::kBufferFull, "one frame past the buffer"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(check_clip(*c.merge, c.clip, c.frame_count, c.bytes_per_frame), c.found) << c.why;
  }
}

// A clip's header announcing 3 frames of 4 bytes, then `bytes` bytes of frame
// data; then the stream ends, or fails as a disk that cannot be read further
// does.
constexpr char kClipHeader[] = {3, 0, 4, 0};
struct ClipStream {
  size_t bytes;
  bool fails;
  size_t given = 0;
};

ssize_t read_clip_stream(void* cookie, char* out, size_t size) {
  auto* stream = static_cast<ClipStream*>(cookie);
  const size_t length = sizeof kClipHeader + stream->bytes;
  if (stream->given == length) {
    if (!stream->fails) return 0;
    errno = EIO;
    return -1;
  }
  const size_t n = std::min(size, length - stream->given);
  for (size_t i = 0; i < n; ++i, ++stream->given) {
    out[i] = stream->given < sizeof kClipHeader ? kClipHeader[stream->given] : 7;
  }
  return static_cast<ssize_t>(n);
}

// A short file and a failed read are told apart.
TEST(ReadClipFrom, WholeShortOrFailed) {
  const struct {
    const char* name;
    ClipStream stream;
    ClipFound expected;
  } cases[] = {
      {"all announced bytes", {12, false}, ClipFound::kTaken},
      {"more than announced", {13, false}, ClipFound::kTaken},
      {"file ends early", {11, false}, ClipFound::kShort},
      {"nothing after the header", {0, false}, ClipFound::kShort},
      {"read fails midway", {5, true}, ClipFound::kUnreadable},
      {"read fails at once", {0, true}, ClipFound::kUnreadable},
  };
  for (const auto& c : cases) {
    ClipStream stream = c.stream;
    FILE* file =
        fopencookie(&stream, "rb", cookie_io_functions_t{read_clip_stream, nullptr, nullptr, nullptr});
    ASSERT_NE(file, nullptr) << c.name;
    uint8_t data[12];
    Merge merge;
    EXPECT_EQ(read_clip_from(file, 1, data, merge), c.expected) << c.name;
    std::fclose(file);
  }
}

}  // namespace
