// inspect3d gltf [--out FILE] [--fps N] [--frames FIRST-LAST | --clip NAME]
// [--float] [--json]: aniv00.3d and data00.3d of the current directory as
// one animated binary glTF file, which Blender's glTF import and any glTF
// viewer open and play; with clips.json beside them, one animation per clip.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli.h"
#include "clip_set.h"
#include "decimal.h"
#include "gltf_model.h"

constexpr char kDefaultOut[] = "aniv00.glb";
constexpr char kTakeName[] = "frames";  // the one animation of a file without clips
constexpr double kDefaultFps = 30;
// Rates far outside these give keyframe times a float cannot tell apart or hold.
constexpr double kLowestFps = 0.001, kHighestFps = 1000000;

// Parses "FIRST-LAST": two frame numbers below 65,536, FIRST <= LAST.
static bool parse_frame_range(const std::string& text, uint32_t& first, uint32_t& last) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  const char* dash = static_cast<const char*>(std::memchr(begin, '-', text.size()));
  if (dash == nullptr || dash == begin || dash + 1 == end) return false;
  const auto low = std::from_chars(begin, dash, first);
  const auto high = std::from_chars(dash + 1, end, last);
  return low.ec == std::errc() && low.ptr == dash && high.ec == std::errc() && high.ptr == end &&
         first <= 0xFFFF && last <= 0xFFFF && first <= last;
}

// Parses a frame rate: a decimal number within the rates above.
static bool parse_fps(const std::string& text, double& fps) {
  const char* end = text.data() + text.size();
  const auto result = decimal_to_double(text.data(), end, fps, std::chars_format::fixed);
  return result.ec == std::errc() && result.ptr == end && !text.empty() && fps >= kLowestFps &&
         fps <= kHighestFps;
}

static bool is_frame_range(const std::string& text) {
  uint32_t first = 0, last = 0;
  return parse_frame_range(text, first, last);
}

static bool is_fps(const std::string& text) {
  double fps = 0;
  return parse_fps(text, fps);
}

enum { kOut, kFps, kFrames, kClip, kFloat, kJson };
constexpr OptionSpec kOptions[] = {
    {"--out", "--out needs a file name", nullptr},
    {"--fps", "--fps needs a number of frames a second above 0 (0.001 to 1000000)", is_fps},
    {"--frames", "--frames needs FIRST-LAST, two frame numbers, the first not above the last",
     is_frame_range},
    {"--clip", "--clip needs the name of a clip of clips.json", nullptr},
    {"--float", nullptr, nullptr},
    {"--json", nullptr, nullptr},
};

// A conversion written as a .glb file, and what it holds.
struct GltfExport {
  GltfPlan plan;
  uint32_t vertex_count = 0;
  uint32_t frame_count = 0;     // the frames written
  uint32_t triangle_count = 0;  // the triangles in the file
  uint32_t left_out = 0;        // the triangles left out for an index out of range
  uint64_t bytes = 0;           // the file's size
  Failure failure;              // a frame could not be read, or the file made or written
};

// Writes the .glb of `conversion` as `plan` says (make_glb) as `out`.
static GltfExport write_gltf(const Conversion& conversion, const GltfPlan& plan, const std::string& out) {
  GltfExport result;
  result.plan = plan;
  result.vertex_count = conversion.animation.vertex_count;
  result.frame_count = static_cast<uint32_t>(frames_written(plan).size());
  Glb glb;
  result.failure = make_glb(conversion.animation, conversion.mesh, plan, glb, result.left_out);
  result.triangle_count = conversion.mesh.triangle_count - result.left_out;
  result.bytes = glb.head.size() + glb.bin.size();
  if (result.failure) {
    result.failure.then("cannot write " + out);
  } else {
    result.failure = write_output(out, glb.head, glb.bin);
  }
  return result;
}

static std::string frames_text(uint32_t first, uint32_t last) {
  return first == last ? "frame " + std::to_string(first)
                       : "frames " + std::to_string(first) + " to " + std::to_string(last);
}

// Says what write_gltf wrote to `out` as text.
static void print_gltf_text(const GltfExport& result, const std::string& out) {
  const GltfPlan& plan = result.plan;
  const std::string what = plan.clips ? counted(plan.animations.size(), "clip", "clips")
                                      : frames_text(plan.animations[0].first, plan.animations[0].last);
  std::printf("wrote %s: %s, %s of %s, %s, %g frames a second\n", out.c_str(), what.c_str(),
              counted(result.frame_count, "frame", "frames").c_str(),
              counted(result.vertex_count, "vertex", "vertices").c_str(),
              counted(result.triangle_count, "triangle", "triangles").c_str(), plan.fps);
  if (!plan.clips) return;
  for (const GltfAnimation& animation : plan.animations) {
    std::printf("  %s: %s\n", animation.name.c_str(), frames_text(animation.first, animation.last).c_str());
  }
}

// Says what write_gltf wrote to `out` as one JSON object.
static void print_gltf_json(const GltfExport& result, const std::string& out,
                            const std::string& clips_unused) {
  nlohmann::json animations = nlohmann::json::array();
  // A single frame is written without an animation.
  if (result.frame_count > 1) {
    for (const GltfAnimation& animation : result.plan.animations) {
      animations.push_back({{"name", animation.name},
                            {"first_frame", animation.first},
                            {"last_frame", animation.last},
                            {"frame_count", animation.last - animation.first + 1}});
    }
  }
  const bool quantized = result.plan.encoding == GltfEncoding::kQuantized;
  const nlohmann::json json = {
      {"file", out},
      {"bytes", result.bytes},
      {"encoding", quantized ? "KHR_mesh_quantization" : "float"},
      {"frames", result.frame_count},
      {"fps", result.plan.fps},
      {"vertices", result.vertex_count},
      {"triangles", result.triangle_count},
      {"triangles_left_out", result.left_out},
      {"animations", animations},
      {"clips_json_unused", clips_unused.empty() ? nlohmann::json(nullptr) : nlohmann::json(clips_unused)},
  };
  std::printf("%s\n", json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

// Says clips.json was not used, and why.
static void say_clips_unused(const std::string& why) {
  std::fprintf(stderr, "inspect3d: %s not used: %s\n", kClipsName, why.c_str());
}

int cmd_gltf(int argc, char** argv) {
  Arguments args;
  if (const std::optional<int> end = read_arguments(argc, argv, kOptions, Operands::kNone, args)) return *end;
  const std::vector<OptionValue>& options = args.options;
  if (options[kFrames].given && options[kClip].given)
    return usage_error("gltf takes --frames or --clip, not both");
  const std::string out = options[kOut].given ? options[kOut].text : kDefaultOut;
  GltfPlan plan;
  plan.fps = kDefaultFps;
  if (options[kFps].given) parse_fps(options[kFps].text, plan.fps);
  plan.encoding = options[kFloat].given ? GltfEncoding::kFloat : GltfEncoding::kQuantized;

  Conversion conversion;
  if (Failure read = read_conversion(".", conversion)) return say(read);
  if (Failure undecodable = cannot_decode(conversion)) return say(undecodable);
  const uint32_t file_frames = conversion.animation.frame_count;

  // --frames chooses frames by number: the one take, whatever clips.json says.
  std::string clips_unused;
  if (options[kFrames].given) {
    uint32_t first = 0, last = 0;
    parse_frame_range(options[kFrames].text, first, last);
    if (last >= file_frames) {
      return usage_error("--frames " + options[kFrames].text + ": " + kVertexAnimationName +
                         " holds frames 0 to " + std::to_string(file_frames - 1));
    }
    plan.animations.push_back({kTakeName, first, last});
  } else {
    const ClipSet set = read_clip_set(".", file_frames);
    clips_unused = set.disagreement;
    if (options[kClip].given) {
      const std::string& name = options[kClip].text;
      if (!set.present) return usage_error("--clip " + name + ": there is no " + kClipsName + " here");
      if (!clips_unused.empty()) {
        say_clips_unused(clips_unused);
        return usage_error("--clip " + name + ": no clip can be chosen");
      }
      const Clip* clip = find_clip(set.clips, name);
      if (clip == nullptr) return usage_error("--clip " + name + ": " + kClipsName + " names no such clip");
      plan.animations.push_back({clip->name, clip->first_frame, clip->first_frame + clip->frame_count - 1});
      plan.clips = true;
    } else if (set.present && clips_unused.empty()) {
      for (const Clip& clip : set.clips) {
        plan.animations.push_back({clip.name, clip.first_frame, clip.first_frame + clip.frame_count - 1});
      }
      plan.clips = true;
    } else {
      plan.animations.push_back({kTakeName, 0, file_frames - 1u});
    }
  }
  if (!clips_unused.empty())
    say_clips_unused(clips_unused + "; the frames are written as one animation, frames");

  const size_t frame_count = frames_written(plan).size();
  if (frame_count > kGltfFrameLimit) {
    const std::string choose = !plan.clips
                                   ? "choose some with --frames FIRST-LAST"
                                   : "choose one with --clip NAME, or frames with --frames FIRST-LAST";
    return say(failure(std::to_string(frame_count) + " frames are more than one glTF file holds (" +
                       std::to_string(kGltfFrameLimit) + "): " + choose));
  }

  const GltfExport result = write_gltf(conversion, plan, out);
  if (result.failure) return say(result.failure);
  if (options[kJson].given) {
    print_gltf_json(result, out, clips_unused);
  } else {
    print_gltf_text(result, out);
  }
  int status = clips_unused.empty() ? kDone : kProblemsFound;
  if (result.left_out > 0) {
    say_left_out(result.left_out, result.vertex_count);
    status = kProblemsFound;
  }
  return status;
}
