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

// The most frame data one clip may hold: clips 1 to kLongClipCount are the
// long ones, the rest the short ones.
constexpr int kLongClipCount = 21;
constexpr size_t kLongClipBytes = 1500000;
constexpr size_t kShortClipBytes = 500000;
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

// What reading one clip found: taken into the merge, missing (skipped), or
// the problem the run stops at, in the order they are looked for.
enum class ClipFound {
  kTaken,
  kMissing,
  kUnreadable,        // it will not open, is no regular file, or a read fails
  kBadHeader,         // shorter than a header, or one no merge could be read back with
  kFrameSizeDiffers,  // from the first clip's
  kOverLimit,         // more frame data than clip_read_limit
  kBufferFull,        // its frame data would not fit the merge buffer
  kShort,             // the file ends before the frame data its header announces
  kTooManyFrames,     // the merge's 16-bit frame count could not hold the sum
};

// Checks a clip's header against the merge so far, in the order in which the
// run reports problems: kTaken when it fits. A header that announces no
// frames, or frames that are no whole number of 4-byte vertices (0 bytes, 6),
// is bad: no merge could be read back. A clip that fits announces
// frame_count x bytes_per_frame bytes of frame data, which are read next.
ClipFound check_clip(const Merge& merge, int clip, uint16_t frame_count, uint16_t bytes_per_frame);

// Reads clip `clip` from `file`: its header (get_animation_header), checked
// against the merge (check_clip), then the frame data it announces, into
// `buffer` just after the merge's data; bytes after that are never read. A
// clip taken is added to `merge`.
ClipFound read_clip_from(FILE* file, int clip, uint8_t* buffer, Merge& merge);

// Reads clip `clip` of the current directory as read_clip_from does, after
// opening it (never a FIFO or a device); the file is closed again whatever
// it held.
ClipFound read_clip(int clip, uint8_t* buffer, Merge& merge);
