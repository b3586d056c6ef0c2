// clipmerge: joins the clip files a1.3d .. a67.3d of the current directory,
// each a vertex animation file of the same mesh, into one aniv00.3d holding
// the frames of every clip present in clip-number order. Frame data is copied
// as bytes, never unpacked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr int kClipCount = 67;
constexpr size_t kClipNameBytes = 16;

// All clips' frame data is gathered in one buffer of this size.
constexpr size_t kMergeBufferBytes = 10000000;

// The most frame data one clip may hold: clips 1 to 21 are the long ones.
size_t clip_read_limit(int clip);

// "a" + the clip number in decimal + ".3d": "a1.3d" .. "a67.3d".
void clip_name(int clip, char (&name)[kClipNameBytes]);

// The merge so far.
struct Merge {
  size_t data_bytes = 0;         // frame data gathered, from the buffer's start
  uint32_t frame_count = 0;      // frames of all clips taken
  int first_clip = 0;            // the first clip present, 0 until one is
  uint16_t bytes_per_frame = 0;  // the first clip's, which every clip must share
};

enum class ClipCheck { kFits, kBadHeader, kFrameSizeDiffers, kOverLimit, kBufferFull };

// Checks a clip's header against the merge so far, in the order in which the
// run reports problems. A header that announces no frames, or frames that are
// no whole number of 4-byte vertices (0 bytes, 6), is bad: no merge could be
// read back. A clip that fits announces frame_count x bytes_per_frame bytes
// of frame data, which the caller reads next.
ClipCheck check_clip(const Merge& merge, int clip, uint16_t frame_count, uint16_t bytes_per_frame);

// How reading a clip's frame data went: all of it read, the file ended first,
// or the read itself failed.
enum class ClipRead { kRead, kShort, kFailed };

// Reads the `announced` bytes of frame data that follow a clip's header from
// `file` into `data`.
ClipRead read_clip_frames(FILE* file, uint8_t* data, size_t announced);
