// inspect3d obj [--frame N | --all] [--out DIR]: aniv00.3d and data00.3d of
// the current directory back to one OBJ file per frame.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "commands.h"

namespace fs = std::filesystem;

// Parses a frame number: decimal digits only, below 65,536.
static bool parse_frame_number(const char* text, uint32_t& frame) {
  const char* end = text + std::strlen(text);
  const auto result = std::from_chars(text, end, frame);
  return result.ec == std::errc() && result.ptr == end && *text != '\0' && frame <= 0xFFFF;
}

// Writes frame `frame` as an OBJ file. Returns the number of triangles left
// out for an index out of range, or -1 if the file could not be written.
static long write_obj_frame(const fs::path& file, const Animation& animation, const Mesh& mesh,
                            uint32_t frame) {
  std::string text;
  char line[128];
  std::snprintf(line, sizeof line, "# frame %u of %u, decoded from %s and %s by inspect3d\no frame%03u\n",
                frame, animation.frame_count, kVertexAnimationName, kMeshName, frame);
  text += line;
  std::vector<Position> positions;
  if (!frame_positions(animation, frame, positions)) return -1;
  for (const Position& p : positions) {
    // Every value is a whole number of eighths within +-128: %g shows it exactly.
    std::snprintf(line, sizeof line, "v %g %g %g\n", p.x, p.y, p.z);
    text += line;
  }
  uint32_t left_out = 0;
  for (const Triangle& t : triangles_in_range(mesh, animation.vertex_count, left_out)) {
    std::snprintf(line, sizeof line, "f %u %u %u\n", t[0] + 1u, t[1] + 1u, t[2] + 1u);
    text += line;
  }
  return write_output(utf8_of(file), text) ? static_cast<long>(left_out) : -1;  // at most 65,535 triangles
}

static std::string obj_name(uint32_t frame) {
  char name[32];
  std::snprintf(name, sizeof name, "frame%03u.obj", frame);
  return name;
}

static bool is_frame_number(const std::string& text) {
  uint32_t frame = 0;
  return parse_frame_number(text.c_str(), frame);
}

enum { kAll, kFrame, kOut };
constexpr OptionSpec kOptions[] = {
    {"--all", nullptr, nullptr},
    {"--frame", "--frame needs a frame number", is_frame_number},
    {"--out", "--out needs a directory", nullptr},
};

int cmd_obj(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::vector<OptionValue> options;
  const std::string usage = parse_options("obj", args, kOptions, options);
  if (!usage.empty()) return usage_error(usage);
  const bool all = options[kAll].given, one = options[kFrame].given;
  uint32_t frame = 0;
  if (one) parse_frame_number(options[kFrame].text.c_str(), frame);
  const fs::path out_dir = options[kOut].given ? path_of(options[kOut].text) : fs::path(".");
  if (all && one) return usage_error("obj takes --frame N or --all, not both");

  Conversion conversion;
  if (!read_conversion(".", conversion) || !can_decode(conversion)) return kBadUsage;
  const Animation& animation = conversion.animation;
  const Mesh& mesh = conversion.mesh;
  if (one && frame >= animation.frame_count) {
    std::fprintf(stderr, "inspect3d: there is no frame %u: %s holds frames 0 to %u\n", frame,
                 kVertexAnimationName, animation.frame_count - 1u);
    return kBadUsage;
  }
  std::error_code error;
  fs::create_directories(out_dir, error);
  if (!fs::is_directory(out_dir, error)) {
    std::fprintf(stderr, "inspect3d: cannot make the directory %s\n", utf8_of(out_dir).c_str());
    return kBadUsage;
  }

  const uint32_t first = one ? frame : 0;
  const uint32_t last = one ? frame : animation.frame_count - 1u;
  long left_out = 0;
  for (uint32_t f = first; f <= last; ++f) {
    const fs::path file = out_dir / obj_name(f);
    left_out = write_obj_frame(file, animation, mesh, f);
    if (left_out < 0) {
      std::fprintf(stderr, "inspect3d: cannot write %s\n", file.generic_string().c_str());
      return kBadUsage;
    }
  }
  if (first == last) {
    std::printf("wrote %s\n", shown(out_dir, obj_name(first).c_str()).c_str());
  } else {
    std::printf("wrote %u files, %s to %s\n", last - first + 1,
                shown(out_dir, obj_name(first).c_str()).c_str(), obj_name(last).c_str());
  }
  if (left_out > 0) {
    say_left_out(static_cast<uint32_t>(left_out), animation.vertex_count);
    return kProblems;
  }
  return kOk;
}
