// inspect3d gltf [--out FILE] [--fps N] [--frames FIRST-LAST]: aniv00.3d and
// data00.3d of the current directory as one animated binary glTF file, which
// Blender's glTF import and any glTF viewer open and play.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "gltf_model.h"

constexpr char kDefaultOut[] = "aniv00.glb";
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
  const auto result = std::from_chars(text.data(), end, fps, std::chars_format::fixed);
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

enum { kOut, kFps, kFrames };
constexpr OptionSpec kOptions[] = {
    {"--out", "--out needs a file name", nullptr},
    {"--fps", "--fps needs a number of frames a second above 0 (0.001 to 1000000)", is_fps},
    {"--frames", "--frames needs FIRST-LAST, two frame numbers, the first not above the last",
     is_frame_range},
};

GltfExport write_gltf(const Conversion& conversion, const GltfRange& range, const std::string& out) {
  GltfExport result;
  result.range = range;
  result.vertex_count = conversion.animation.vertex_count;
  Glb glb;
  result.failure = make_glb(conversion.animation, conversion.mesh, range, glb, result.left_out);
  result.triangle_count = conversion.mesh.triangle_count - result.left_out;
  if (!result.failure) result.failure = write_output(out, glb.head, glb.bin);
  if (result.failure) result.failure.then("cannot write " + out);
  return result;
}

// Says what write_gltf wrote to `out`; returns the exit status.
static int print_gltf_export(const GltfExport& result, const std::string& out) {
  if (result.failure) return say(result.failure);
  const uint32_t first = result.range.first, last = result.range.last;
  const std::string frames = first == last
                                 ? "frame " + std::to_string(first)
                                 : "frames " + std::to_string(first) + " to " + std::to_string(last);
  std::printf("wrote %s: %s, %s of %s, %s, %g frames a second\n", out.c_str(), frames.c_str(),
              counted(last - first + 1, "frame", "frames").c_str(),
              counted(result.vertex_count, "vertex", "vertices").c_str(),
              counted(result.triangle_count, "triangle", "triangles").c_str(), result.range.fps);
  if (result.left_out > 0) {
    say_left_out(result.left_out, result.vertex_count);
    return kProblemsFound;
  }
  return kDone;
}

int cmd_gltf(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::vector<OptionValue> options;
  const std::string usage = parse_options("gltf", args, kOptions, options);
  if (!usage.empty()) return usage_error(usage);
  const std::string out = options[kOut].given ? options[kOut].text : kDefaultOut;
  double fps = kDefaultFps;
  if (options[kFps].given) parse_fps(options[kFps].text, fps);
  uint32_t first = 0, last = 0;
  const bool frames_given = options[kFrames].given;
  if (frames_given) parse_frame_range(options[kFrames].text, first, last);

  Conversion conversion;
  if (Failure read = read_conversion(".", conversion)) return say(read);
  if (Failure undecodable = cannot_decode(conversion)) return say(undecodable);
  const Animation& animation = conversion.animation;
  if (!frames_given) last = animation.frame_count - 1u;
  if (last >= animation.frame_count) {
    return usage_error("--frames " + std::to_string(first) + "-" + std::to_string(last) + ": " +
                       kVertexAnimationName + " holds frames 0 to " +
                       std::to_string(animation.frame_count - 1));
  }
  const uint32_t frame_count = last - first + 1;
  if (frame_count > kGltfFrameLimit) {
    return say(failure(std::to_string(frame_count) + " frames are more than one glTF file holds (" +
                       std::to_string(kGltfFrameLimit) + "): choose some with --frames FIRST-LAST"));
  }

  return print_gltf_export(write_gltf(conversion, {first, last, fps}, out), out);
}
