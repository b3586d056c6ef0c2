// The clip set beside a merged aniv00.3d: clips.json, which the Blender
// add-on writes, names each clip and the frames it plays:
//
//   {"clips": [{"name": "jump", "first_frame": 0, "frame_count": 40}, ...], ...}
//
// first_frame counts from 0 in aniv00.3d. Other members (the scale, the
// files each clip was merged from) are not read. The set is used only where
// it agrees with the file: every clip named, at least one frame long, within
// the file's frames, after the clip before it and not overlapping it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// The most bytes of a clips.json read: far more than the 67 clips of the
// largest set take.
constexpr uint64_t kClipSetFileLimit = 1 << 20;

// One clip: its name and its frames in aniv00.3d.
struct Clip {
  std::string name;
  uint32_t first_frame = 0;
  uint32_t frame_count = 0;  // at least 1
};

// The clips of clips.json's `text`, checked against a file of `frame_count`
// frames, into `clips`. Returns "" when they agree, else why not ("clip 'run'
// ends at frame 130, beyond the last frame of aniv00.3d, 119"), with `clips`
// then empty.
std::string clips_of_json(std::string_view text, uint32_t frame_count, std::vector<Clip>& clips);

// clips.json of a directory as read.
struct ClipSet {
  bool present = false;      // there is a clips.json (of any kind)
  std::vector<Clip> clips;   // where it agrees with the file
  std::string disagreement;  // why it is not used, where it is present and not used
};

// Reads clips.json of `dir`, if there is one, and checks it against a file
// of `frame_count` frames. A clips.json that cannot be read (no regular
// file, more than kClipSetFileLimit bytes, a failed read) is a disagreement.
ClipSet read_clip_set(const std::filesystem::path& dir, uint32_t frame_count);

// The clip named `name`, or nullptr.
const Clip* find_clip(const std::vector<Clip>& clips, const std::string& name);
