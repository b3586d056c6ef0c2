// Fuzzes whole clipmerge runs: the input is split at "~~~" into pieces, each
// piece's first byte picking a clip number (1 to 67) and the rest being that
// clip file's bytes; the real run merges them in a scratch directory that also
// holds an earlier output.
//
// What must hold: exactly one closing message; a merge completes exactly when
// every clip present is whole, announces frames of whole vertices and they fit
// together, and then aniv00.3d is the
// header and the announced frames of every clip in number order; otherwise the
// earlier output is untouched; never a temporary file left behind.
#include <algorithm>
#include <map>

#include "check.h"
#include "clipmerge.h"
#include "le.h"
#include "platform.h"

namespace {

const std::string kEarlier = "an earlier merge";

// What the merge of `clips` must write, or false where it must fail.
bool expected_merge(const std::map<int, std::string>& clips, std::string& bytes) {
  uint32_t frames = 0;
  int first_bytes_per_frame = -1;
  std::string data;
  for (const auto& [k, file] : clips) {
    const auto* p = reinterpret_cast<const uint8_t*>(file.data());
    uint16_t frame_count, bytes_per_frame;
    if (!get_u16(p, file.size(), 0, frame_count) || !get_u16(p, file.size(), 2, bytes_per_frame))
      return false;
    // No frames, or frames of no whole number of 4-byte vertices: a bad header.
    if (frame_count == 0 || bytes_per_frame == 0 || bytes_per_frame % 4 != 0) return false;
    if (first_bytes_per_frame >= 0 && bytes_per_frame != first_bytes_per_frame) return false;
    const size_t announced = size_t{frame_count} * bytes_per_frame;
    if (announced > clip_read_limit(k) || data.size() + announced > kMergeBufferBytes) return false;
    if (file.size() - 4 < announced) return false;
    frames += frame_count;
    if (frames > 0xFFFF) return false;
    if (first_bytes_per_frame < 0) first_bytes_per_frame = bytes_per_frame;
    data.append(file, 4, announced);
  }
  if (clips.empty()) return false;
  uint8_t header[4];
  put_u16(put_u16(header, static_cast<uint16_t>(frames)), static_cast<uint16_t>(first_bytes_per_frame));
  bytes.assign(reinterpret_cast<const char*>(header), 4);
  bytes += data;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::map<int, std::string> clips;
  for (const std::string& piece : split_input(data, size, "~~~", 80)) {
    if (piece.empty()) continue;
    clips[1 + static_cast<uint8_t>(piece[0]) % kClipCount] = piece.substr(1);
  }
  enter_scratch_dir();
  write_whole("aniv00.3d", kEarlier);
  for (const auto& [k, file] : clips) {
    char name[kClipNameBytes];
    clip_name(k, name);
    write_whole(name, file);
  }
  const std::vector<std::string> names = dir_names();

  const std::string message = capture_stdout(program_main);
  CHECK(std::count(message.begin(), message.end(), '\n') == 1);
  CHECK(dir_names() == names);

  std::string expected;
  const bool must_complete = expected_merge(clips, expected);
  if (message == "Conversion Complete: Conversion Complete\n") {
    CHECK(must_complete);
    CHECK(read_whole("aniv00.3d") == expected);
  } else {
    CHECK(!must_complete);
    CHECK(read_whole("aniv00.3d") == kEarlier);
  }
  return 0;
}
