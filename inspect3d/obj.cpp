// inspect3d obj [--frame N | --all] [--out DIR]: aniv00.3d and data00.3d of
// the current directory back to one OBJ file per frame.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "cli.h"

namespace fs = std::filesystem;

// What writing the frames first to last as OBJ files did.
struct ObjExport {
  uint32_t first = 0, last = 0;
  uint32_t left_out = 0;  // triangles left out of each file for an index out of range
  Failure failure;        // the directory or a file could not be made; none after it is
};

// Parses a frame number: decimal digits only, below 65,536.
static bool parse_frame_number(const char* text, uint32_t& frame) {
  const char* end = text + std::strlen(text);
  const auto result = std::from_chars(text, end, frame);
  return result.ec == std::errc() && result.ptr == end && *text != '\0' && frame <= 0xFFFF;
}

// Frame `frame` of `animation`, whose vertices are `positions`, as the text
// of an OBJ file; the triangles of `mesh` with an index out of range are left
// out.
static std::string obj_text(const Animation& animation, const Mesh& mesh, uint32_t frame,
                            const std::vector<Position>& positions) {
  std::string text;
  char line[128];
  std::snprintf(line, sizeof line, "# frame %u of %u, decoded from %s and %s by inspect3d\no frame%03u\n",
                frame, animation.frame_count, kVertexAnimationName, kMeshName, frame);
  text += line;
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
  return text;
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

// Writes frames `first` to `last` of `conversion` into `out_dir` (made if it
// is not there) as frame000.obj, ..., a frame read at a time.
static ObjExport write_obj_frames(const Conversion& conversion, uint32_t first, uint32_t last,
                                  const fs::path& out_dir) {
  const Animation& animation = conversion.animation;
  ObjExport result{first, last, 0, {}};
  std::error_code error;
  fs::create_directories(out_dir, error);
  if (!fs::is_directory(out_dir, error)) {
    result.failure = failure("cannot make the directory " + utf8_of(out_dir));
    return result;
  }
  triangles_in_range(conversion.mesh, animation.vertex_count, result.left_out);
  std::vector<Position> positions;
  for (uint32_t f = first; f <= last; ++f) {
    const std::u8string generic = (out_dir / obj_name(f)).generic_u8string();
    const std::string file(generic.begin(), generic.end());
    result.failure = frame_positions(animation, f, positions);
    if (result.failure) {
      result.failure.then("cannot write " + file);
      break;
    }
    result.failure = write_output(file, obj_text(animation, conversion.mesh, f, positions));
    if (result.failure) break;
  }
  return result;
}

// Prints what write_obj_frames did; returns the exit status.
static int print_obj_export(const ObjExport& result, const fs::path& out_dir, uint32_t vertex_count) {
  if (result.failure) return say(result.failure);
  if (result.first == result.last) {
    std::printf("wrote %s\n", shown(out_dir, obj_name(result.first).c_str()).c_str());
  } else {
    std::printf("wrote %u files, %s to %s\n", result.last - result.first + 1,
                shown(out_dir, obj_name(result.first).c_str()).c_str(), obj_name(result.last).c_str());
  }
  if (result.left_out > 0) {
    say_left_out(result.left_out, vertex_count);
    return kProblemsFound;
  }
  return kDone;
}

int cmd_obj(int argc, char** argv) {
  Arguments args;
  if (const std::optional<int> end = read_arguments(argc, argv, kOptions, Operands::kNone, args)) return *end;
  const std::vector<OptionValue>& options = args.options;
  const bool all = options[kAll].given, one = options[kFrame].given;
  uint32_t frame = 0;
  if (one) parse_frame_number(options[kFrame].text.c_str(), frame);
  const fs::path out_dir = options[kOut].given ? path_of(options[kOut].text) : fs::path(".");
  if (all && one) return usage_error("obj takes --frame N or --all, not both");

  Conversion conversion;
  if (Failure read = read_conversion(".", conversion)) return say(read);
  if (Failure undecodable = cannot_decode(conversion)) return say(undecodable);
  const Animation& animation = conversion.animation;
  if (one && frame >= animation.frame_count) {
    return say(failure("there is no frame " + std::to_string(frame) + ": " + kVertexAnimationName +
                       " holds frames 0 to " + std::to_string(animation.frame_count - 1u)));
  }

  const uint32_t first = one ? frame : 0;
  const uint32_t last = one ? frame : animation.frame_count - 1u;
  return print_obj_export(write_obj_frames(conversion, first, last, out_dir), out_dir,
                          animation.vertex_count);
}
