#include "clipmerge.h"

#include <cstdio>

#include "file_names.h"
#include "le.h"
#include "output.h"
#include "platform.h"
#include "vertex_animation.h"

namespace {

// The most frames one header can count.
constexpr uint32_t kFrameCountLimit = 0xFFFF;

int finish(uint8_t* buffer, const char* text, const char* caption) {
  release_buffer(buffer, kMergeBufferBytes);
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

size_t announced_bytes(uint16_t frame_count, uint16_t bytes_per_frame) {
  return size_t{frame_count} * bytes_per_frame;  // at most 65,535 x 65,535: fits 32 bits
}

}  // namespace

size_t clip_read_limit(int clip) { return clip <= 21 ? 1500000 : 500000; }

void clip_name(int clip, char (&name)[kClipNameBytes]) {
  std::snprintf(name, sizeof name, kClipNameFormat, clip);
}

ClipCheck check_clip(const Merge& merge, int clip, uint16_t frame_count, uint16_t bytes_per_frame) {
  if (frame_count == 0 || bytes_per_frame == 0 || bytes_per_frame % kPackedVertexBytes != 0) {
    return ClipCheck::kBadHeader;
  }
  if (merge.first_clip != 0 && bytes_per_frame != merge.bytes_per_frame) return ClipCheck::kFrameSizeDiffers;
  const size_t announced = announced_bytes(frame_count, bytes_per_frame);
  if (announced > clip_read_limit(clip)) return ClipCheck::kOverLimit;
  if (announced > kMergeBufferBytes - merge.data_bytes) return ClipCheck::kBufferFull;
  return ClipCheck::kFits;
}

ClipRead read_clip_frames(FILE* file, uint8_t* data, size_t announced) {
  const size_t read = std::fread(data, 1, announced, file);
  if (std::ferror(file)) return ClipRead::kFailed;
  return read == announced ? ClipRead::kRead : ClipRead::kShort;
}

int program_main() {
  if (const char* failed = begin_outputs()) {
    char caption[64];
    std::snprintf(caption, sizeof caption, "Cannot write %s", failed);
    return finish(nullptr, "Conversion Error", caption);
  }
  auto* buffer = static_cast<uint8_t*>(allocate_buffer(kMergeBufferBytes));
  if (!buffer) return finish(nullptr, "Conversion Error", "out of memory");

  Merge merge;
  for (int clip = 1; clip <= kClipCount; ++clip) {
    char name[kClipNameBytes];
    clip_name(clip, name);
    bool missing = false;
    FILE* file = open_regular_file(name, missing);  // never a FIFO or a device
    if (!file) {
      if (missing) continue;  // a missing clip is skipped silently
      return fail(buffer, "Cannot read %s", clip);
    }
    std::setvbuf(file, nullptr, _IONBF, 0);  // reads go straight into the buffers
    uint8_t header[kVertexAnimationHeaderBytes];
    const size_t header_bytes = std::fread(header, 1, sizeof header, file);
    uint16_t frame_count = 0, bytes_per_frame = 0;
    if (std::ferror(file)) {
      std::fclose(file);
      return fail(buffer, "Cannot read %s", clip);
    }
    if (!get_u16(header, header_bytes, 0, frame_count) ||
        !get_u16(header, header_bytes, 2, bytes_per_frame)) {
      std::fclose(file);
      return fail(buffer, "Bad header in %s", clip);
    }
    const ClipCheck check = check_clip(merge, clip, frame_count, bytes_per_frame);
    if (check == ClipCheck::kBadHeader) {
      std::fclose(file);
      return fail(buffer, "Bad header in %s", clip);
    }
    if (check == ClipCheck::kFrameSizeDiffers) {
      std::fclose(file);
      return fail(buffer, "Frame size of %s differs from %s", clip, merge.first_clip);
    }
    if (check == ClipCheck::kOverLimit) {
      std::fclose(file);
      return fail(buffer, "Clip %s is over its size limit", clip);
    }
    if (check == ClipCheck::kBufferFull) {
      std::fclose(file);
      return fail(buffer, "Clips do not fit the merge buffer");
    }
    // Only the announced frame data belongs to the clip; bytes after it are
    // never read.
    const size_t announced = announced_bytes(frame_count, bytes_per_frame);
    const ClipRead read = read_clip_frames(file, buffer + merge.data_bytes, announced);
    std::fclose(file);
    if (read == ClipRead::kFailed) return fail(buffer, "Cannot read %s", clip);
    if (read == ClipRead::kShort) return fail(buffer, "Clip %s is shorter than its header says", clip);
    // The header's 16-bit frame count must still hold the sum.
    if (merge.frame_count + frame_count > kFrameCountLimit)
      return fail(buffer, "Too many frames in all clips");

    if (merge.first_clip == 0) {
      merge.first_clip = clip;
      merge.bytes_per_frame = bytes_per_frame;
    }
    merge.frame_count += frame_count;
    merge.data_bytes += announced;
  }
  if (merge.first_clip == 0) return fail(buffer, "No clip files a1.3d to a67.3d");

  char temp[kTempNameBytes];
  temp_name(kVertexAnimationName, temp);
  const char* const outputs[] = {kVertexAnimationName};
  if (!write_vertex_animation_file(temp, static_cast<uint16_t>(merge.frame_count), merge.bytes_per_frame,
                                   buffer, merge.data_bytes) ||
      commit_outputs(outputs, 1)) {
    return finish(buffer, "Conversion Error", "Cannot write aniv00.3d");
  }
  return finish(buffer, "Conversion Complete", "Conversion Complete");
}
