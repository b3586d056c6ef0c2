#include "clip_set.h"

#include <nlohmann/json.hpp>
#include <set>

#include "conversion.h"

namespace {

std::string in_quotes(const std::string& name) { return "'" + name + "'"; }

std::string frames_text(uint64_t first, uint64_t count) {
  return count == 1 ? "frame " + std::to_string(first)
                    : "frames " + std::to_string(first) + " to " + std::to_string(first + count - 1);
}

// A whole number from 0 to 65,535 (a frame number or count of the file), or
// false.
bool frame_number(const nlohmann::json& value, uint32_t& number) {
  if (!value.is_number_integer()) return false;
  if (value.is_number_unsigned()) {
    const uint64_t n = value.get<uint64_t>();
    if (n > 0xFFFF) return false;
    number = static_cast<uint32_t>(n);
    return true;
  }
  const int64_t n = value.get<int64_t>();
  if (n < 0 || n > 0xFFFF) return false;
  number = static_cast<uint32_t>(n);
  return true;
}

// Why `clips` is not a set of clips of a file of `frame_count` frames, or "".
std::string why_not_clips(const nlohmann::json& list, uint32_t frame_count, std::vector<Clip>& clips) {
  if (!list.is_array()) return "\"clips\" is not a list";
  if (list.empty()) return "it lists no clip";
  std::set<std::string> names;
  for (size_t i = 0; i < list.size(); ++i) {
    const nlohmann::json& entry = list[i];
    const std::string which = "clip " + std::to_string(i + 1);
    if (!entry.is_object()) return which + " is not an object";
    const auto name = entry.find("name");
    if (name == entry.end() || !name->is_string() || name->get<std::string>().empty()) {
      return which + " has no name";
    }
    Clip clip;
    clip.name = name->get<std::string>();
    const std::string named = "clip " + in_quotes(clip.name);
    const auto first = entry.find("first_frame");
    if (first == entry.end() || !frame_number(*first, clip.first_frame)) {
      return named + " has no first_frame from 0 to 65535";
    }
    const auto count = entry.find("frame_count");
    if (count == entry.end() || !frame_number(*count, clip.frame_count) || clip.frame_count == 0) {
      return named + " has no frame_count from 1 to 65535";
    }
    if (!names.insert(clip.name).second) return "two clips are named " + in_quotes(clip.name);
    const uint64_t end = uint64_t{clip.first_frame} + clip.frame_count;  // one past its last frame
    if (end > frame_count) {
      return named + " (" + frames_text(clip.first_frame, clip.frame_count) + ") ends beyond frame " +
             std::to_string(frame_count - 1) + ", the last of " + kVertexAnimationName;
    }
    if (!clips.empty()) {
      const Clip& before = clips.back();
      if (clip.first_frame < before.first_frame) {
        return named + " begins at frame " + std::to_string(clip.first_frame) + ", before clip " +
               in_quotes(before.name) + " listed ahead of it";
      }
      if (clip.first_frame < before.first_frame + before.frame_count) {
        return named + " begins at frame " + std::to_string(clip.first_frame) + ", within clip " +
               in_quotes(before.name) + " (" + frames_text(before.first_frame, before.frame_count) + ")";
      }
    }
    clips.push_back(std::move(clip));
  }
  return "";
}

}  // namespace

std::string clips_of_json(std::string_view text, uint32_t frame_count, std::vector<Clip>& clips) {
  clips.clear();
  const nlohmann::json json = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
  if (json.is_discarded()) return "it is not JSON";
  if (!json.is_object() || !json.contains("clips")) return "it holds no list \"clips\"";
  std::string why = why_not_clips(json["clips"], frame_count, clips);
  if (!why.empty()) clips.clear();
  return why;
}

ClipSet read_clip_set(const std::filesystem::path& dir, uint32_t frame_count) {
  ClipSet set;
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::symlink_status(dir / kClipsName, error);
  if (error || status.type() == std::filesystem::file_type::not_found) return set;
  set.present = true;
  const std::string name = shown(dir, kClipsName);
  OpenedFile opened;
  std::vector<uint8_t> bytes;
  Failure read = open_file(dir / kClipsName, name, kClipSetFileLimit, "a clip set", opened);
  if (!read) read = read_rest(opened, name, bytes);
  if (read) {
    for (const std::string& line : read.said)
      set.disagreement += (set.disagreement.empty() ? "" : "; ") + line;
    return set;
  }
  set.disagreement = clips_of_json(
      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), frame_count, set.clips);
  return set;
}

const Clip* find_clip(const std::vector<Clip>& clips, const std::string& name) {
  for (const Clip& clip : clips) {
    if (clip.name == name) return &clip;
  }
  return nullptr;
}
