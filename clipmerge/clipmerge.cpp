#include "clipmerge.h"

#include <cstdio>

#include "buffer.h"
#include "file_names.h"
#include "folder_lock.h"
#include "open_file.h"
#include "output.h"
#include "platform.h"
#include "vertex_animation.h"

namespace {

// The most frames one header can count.
constexpr uint32_t kFrameCountLimit = 0xFFFF;

int finish(uint8_t* buffer, const char* text, const char* caption) {
  release_buffer(buffer, kMergeBufferBytes);
  unlock_folder();  // the next run need not wait for the user
  report_result(text, caption);
  return 1;
}

// Ends the run with "Conversion Error" and a caption naming up to two clips.
int fail(uint8_t* buffer, const char* format, int clip = 0, int other_clip = 0) {
  char name[kClipNameBytes] = "", other[kClipNameBytes] = "", caption[64];
  if (clip) clip_name(clip, name);
  if (other_clip) clip_name(other_clip, other);
  std::snprintf(caption, sizeof caption, format, name, other);
  return finish(buffer, "Conversion Error", caption);
}

int cannot_write(uint8_t* buffer, const char* name) {
  char caption[64];
  std::snprintf(caption, sizeof caption, "Cannot write %s", name);
  return finish(buffer, "Conversion Error", caption);
}

size_t announced_bytes(uint16_t frame_count, uint16_t bytes_per_frame) {
  return size_t{frame_count} * bytes_per_frame;  // at most 65,535 x 65,535: fits 32 bits
}

// The caption of each problem a clip stops the run at, indexed by ClipFound:
// a format of the clip, then of the first clip taken.
constexpr const char* kProblems[] = {
    nullptr,                                    // kTaken: not a problem
    nullptr,                                    // kMissing: skipped
    "Cannot read %s",                           // kUnreadable
    "Bad header in %s",                         // kBadHeader
    "Frame size of %s differs from %s",         // kFrameSizeDiffers
    "Clip %s is over its size limit",           // kOverLimit
    "Clips do not fit the merge buffer",        // kBufferFull
    "Clip %s is shorter than its header says",  // kShort
    "Too many frames in all clips",             // kTooManyFrames
};
static_assert(sizeof kProblems / sizeof kProblems[0] == static_cast<size_t>(ClipFound::kTooManyFrames) + 1,
              "one caption for each problem a clip can have");

}  // namespace

size_t clip_read_limit(int clip) { return clip <= kLongClipCount ? kLongClipBytes : kShortClipBytes; }

void clip_name(int clip, char (&name)[kClipNameBytes]) {
  std::snprintf(name, sizeof name, kClipNameFormat, clip);
}

ClipFound check_clip(const Merge& merge, int clip, uint16_t frame_count, uint16_t bytes_per_frame) {
  if (frame_count == 0 || bytes_per_frame == 0 || bytes_per_frame % kPackedVertexBytes != 0) {
    return ClipFound::kBadHeader;
  }
  if (merge.first_clip != 0 && bytes_per_frame != merge.bytes_per_frame) return ClipFound::kFrameSizeDiffers;
  const size_t announced = announced_bytes(frame_count, bytes_per_frame);
  if (announced > clip_read_limit(clip)) return ClipFound::kOverLimit;
  if (announced > kMergeBufferBytes - merge.data_bytes) return ClipFound::kBufferFull;
  return ClipFound::kTaken;
}

ClipFound read_clip_from(FILE* file, int clip, uint8_t* buffer, Merge& merge) {
  uint8_t head[kVertexAnimationHeaderBytes];
  const size_t head_bytes = std::fread(head, 1, sizeof head, file);
  if (std::ferror(file)) return ClipFound::kUnreadable;
  AnimationHeader header;
  if (!get_animation_header(head, head_bytes, header)) return ClipFound::kBadHeader;
  const ClipFound check = check_clip(merge, clip, header.frame_count, header.bytes_per_frame);
  if (check != ClipFound::kTaken) return check;

  const size_t announced = announced_bytes(header.frame_count, header.bytes_per_frame);
  const size_t read = std::fread(buffer + merge.data_bytes, 1, announced, file);
  if (std::ferror(file)) return ClipFound::kUnreadable;
  if (read != announced) return ClipFound::kShort;
  if (merge.frame_count + header.frame_count > kFrameCountLimit) return ClipFound::kTooManyFrames;

  if (merge.first_clip == 0) {
    merge.first_clip = clip;
    merge.bytes_per_frame = header.bytes_per_frame;
  }
  merge.frame_count += header.frame_count;
  merge.data_bytes += announced;
  return ClipFound::kTaken;
}

ClipFound read_clip(int clip, uint8_t* buffer, Merge& merge) {
  char name[kClipNameBytes];
  clip_name(clip, name);
  bool missing = false;
  const OpenFile file(open_regular_file(name, missing));
  if (!file) return missing ? ClipFound::kMissing : ClipFound::kUnreadable;
  std::setvbuf(file.get(), nullptr, _IONBF, 0);  // reads go straight into the buffers
  return read_clip_from(file.get(), clip, buffer, merge);
}

int program_main() {
  if (const char* failed = begin_outputs()) return cannot_write(nullptr, failed);
  auto* buffer = static_cast<uint8_t*>(allocate_buffer(kMergeBufferBytes));
  if (!buffer) return finish(nullptr, "Conversion Error", "out of memory");

  Merge merge;
  for (int clip = 1; clip <= kClipCount; ++clip) {
    const ClipFound found = read_clip(clip, buffer, merge);
    // A missing clip is skipped silently.
    if (found != ClipFound::kTaken && found != ClipFound::kMissing) {
      return fail(buffer, kProblems[static_cast<size_t>(found)], clip, merge.first_clip);
    }
  }
  if (merge.first_clip == 0) return fail(buffer, "No clip files %s to %s", 1, kClipCount);

  char temp[kTempNameBytes];
  temp_name(kVertexAnimationName, temp);
  const char* const outputs[] = {kVertexAnimationName};
  if (!write_vertex_animation_file(temp, static_cast<uint16_t>(merge.frame_count), merge.bytes_per_frame,
                                   buffer, merge.data_bytes) ||
      commit_outputs(outputs, 1)) {
    return cannot_write(buffer, kVertexAnimationName);
  }
  return finish(buffer, "Conversion Complete", "Conversion Complete");
}
