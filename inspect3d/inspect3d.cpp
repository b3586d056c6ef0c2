// inspect3d: looks inside the files frameconv and clipmerge write.
//
//   inspect3d info FILE...                         the kind and contents of each file
//   inspect3d obj [--frame N | --all] [--out DIR]  aniv00.3d and data00.3d back to OBJ
//   inspect3d check [DIR]                          the outputs against the source frames
//
// Exit status: 0 done, 1 a check found problems, 2 bad usage or a file that
// cannot be read or written. Reports go to standard output, errors to standard
// error.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "frameconv.h"
#include "kind.h"
#include "le.h"
#include "mesh.h"
#include "mesh_format.h"
#include "scan.h"
#include "vertex_animation.h"

namespace fs = std::filesystem;

namespace {

constexpr int kOk = 0, kProblems = 1, kBadUsage = 2;

constexpr char kVertexAnimationName[] = "aniv00.3d";
constexpr char kMeshName[] = "data00.3d";
constexpr char kAxisNames[] = "xyz";

constexpr char kUsage[] =
    "usage: inspect3d info FILE...\n"
    "       inspect3d obj [--frame N | --all] [--out DIR]\n"
    "       inspect3d check [DIR]\n";

constexpr char kHelp[] =
    "\n"
    "  info   says which kind each .3d file is and prints its header fields,\n"
    "         frames, vertices, triangles, each frame's bounding box and any\n"
    "         face index at or beyond the vertex count\n"
    "  obj    decodes aniv00.3d with data00.3d of the current directory into\n"
    "         frame000.obj, frame001.obj, ... in DIR (default: the current\n"
    "         directory); all frames unless --frame N\n"
    "  check  compares aniv00.3d and data00.3d in DIR (default: the current\n"
    "         directory) with the frames anima000.obj, ... they were made from\n"
    "\n"
    "exit status: 0 done, 1 a check found problems, 2 bad usage or a file that\n"
    "cannot be read or written\n";

int usage_error(const char* message) {
  std::fprintf(stderr, "inspect3d: %s\n%s(inspect3d --help says more)\n", message, kUsage);
  return kBadUsage;
}

// Reads the whole of `file`. False if it is not a regular file or the read fails.
bool read_whole_file(const fs::path& file, std::vector<uint8_t>& bytes) {
  std::error_code error;
  if (!fs::is_regular_file(file, error)) return false;
  const uintmax_t size = fs::file_size(file, error);
  if (error) return false;
  FILE* in = std::fopen(file.string().c_str(), "rb");
  if (!in) return false;
  bytes.resize(size);
  const bool ok = std::fread(bytes.data(), 1, bytes.size(), in) == bytes.size() && std::ferror(in) == 0;
  std::fclose(in);
  return ok;
}

FileKind kind_of(const std::vector<uint8_t>& bytes) {
  return file_kind(bytes.data(), std::min(bytes.size(), kKindHeadBytes), bytes.size());
}

// A vertex animation file as read: its header and its words.
struct Animation {
  uint16_t frame_count = 0;
  uint16_t bytes_per_frame = 0;
  uint32_t vertex_count = 0;
  const std::vector<uint8_t>* bytes = nullptr;
};

Animation animation_of(const std::vector<uint8_t>& bytes) {
  Animation animation;
  get_u16(bytes.data(), bytes.size(), 0, animation.frame_count);
  get_u16(bytes.data(), bytes.size(), 2, animation.bytes_per_frame);
  animation.vertex_count = animation.bytes_per_frame / kPackedVertexBytes;
  animation.bytes = &bytes;
  return animation;
}

uint32_t word_at(const Animation& animation, uint32_t frame, uint32_t vertex) {
  uint32_t word = 0;
  get_u32(
      animation.bytes->data(), animation.bytes->size(),
      kVertexAnimationHeaderBytes + size_t{frame} * animation.bytes_per_frame + vertex * kPackedVertexBytes,
      word);
  return word;
}

// A mesh file as read: its two varying header fields and its records.
struct Mesh {
  uint16_t triangle_count = 0;
  uint16_t vertices_per_frame = 0;
  const std::vector<uint8_t>* bytes = nullptr;
};

Mesh mesh_of(const std::vector<uint8_t>& bytes) {
  Mesh mesh;
  get_u16(bytes.data(), bytes.size(), 0, mesh.triangle_count);
  get_u16(bytes.data(), bytes.size(), 2, mesh.vertices_per_frame);
  mesh.bytes = &bytes;
  return mesh;
}

void triangle_at(const Mesh& mesh, uint32_t triangle, uint16_t (&indices)[3]) {
  get_triangle_indices(mesh.bytes->data(), mesh.bytes->size(), triangle, indices);
}

// Lists each face index of `mesh` at or beyond `vertex_count`, indented by
// `indent`, and returns how many there are.
uint32_t list_indices_out_of_range(const Mesh& mesh, uint32_t vertex_count, const char* indent) {
  uint32_t count = 0;
  for (uint32_t t = 0; t < mesh.triangle_count; ++t) {
    uint16_t indices[3];
    triangle_at(mesh, t, indices);
    for (int corner = 0; corner < 3; ++corner) {
      if (indices[corner] < vertex_count) continue;
      std::printf("%striangle %u corner %d: index %u\n", indent, t, corner, indices[corner]);
      ++count;
    }
  }
  return count;
}

// "1 frame", "24 frames".
std::string counted(uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// "24 frames of 50 vertices".
std::string frames_of(uint32_t frame_count, uint32_t vertex_count) {
  return counted(frame_count, "frame", "frames") + " of " + counted(vertex_count, "vertex", "vertices");
}

// A coordinate as written in the source: the shortest text that reads back as it.
std::string shortest(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

// ---------------------------------------------------------------------------
// info

void print_animation_info(const Animation& animation) {
  std::printf("  frame count      %u\n", animation.frame_count);
  std::printf("  bytes per frame  %u (%u vertices a frame)\n", animation.bytes_per_frame,
              animation.vertex_count);
  if (animation.frame_count == 0) return;
  std::printf("  bounding box of each frame, in model units:\n");
  std::printf("  %5s %9s %9s %9s %9s %9s %9s\n", "frame", "x min", "x max", "y min", "y max", "z min",
              "z max");
  for (uint32_t f = 0; f < animation.frame_count; ++f) {
    // The layout has at least one vertex a frame.
    double low[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, high[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (uint32_t i = 0; i < animation.vertex_count; ++i) {
      double at[3];
      unpack_vertex(word_at(animation, f, i), at[0], at[1], at[2]);
      for (int axis = 0; axis < 3; ++axis) {
        low[axis] = std::min(low[axis], at[axis]);
        high[axis] = std::max(high[axis], at[axis]);
      }
    }
    std::printf("  %5u %9g %9g %9g %9g %9g %9g\n", f, low[0], high[0], low[1], high[1], low[2], high[2]);
  }
}

// Returns the number of face indices out of range.
uint32_t print_mesh_info(const Mesh& mesh) {
  std::printf("  triangle count      %u\n", mesh.triangle_count);
  std::printf("  vertices per frame  %u\n", mesh.vertices_per_frame);
  std::printf("  fixed header fields as frameconv writes them\n");
  std::printf("  face indices at or beyond %u:", mesh.vertices_per_frame);
  uint32_t count = 0;
  for (uint32_t t = 0; t < mesh.triangle_count && count == 0; ++t) {
    uint16_t indices[3];
    triangle_at(mesh, t, indices);
    for (uint16_t index : indices) count += index >= mesh.vertices_per_frame;
  }
  if (count == 0) {
    std::printf(" none\n");
    return 0;
  }
  std::printf("\n");
  return list_indices_out_of_range(mesh, mesh.vertices_per_frame, "    ");
}

// Says why a file fits neither layout.
void print_why_neither(const std::vector<uint8_t>& bytes) {
  uint16_t first = 0, second = 0;
  if (bytes.size() < kVertexAnimationHeaderBytes) {
    std::printf("  too short for either header\n");
    return;
  }
  get_u16(bytes.data(), bytes.size(), 0, first);
  get_u16(bytes.data(), bytes.size(), 2, second);
  if (second == 0 || second % kPackedVertexBytes != 0) {
    std::printf("  not a vertex animation file: %u bytes per frame is not a whole number of vertices\n",
                second);
  } else {
    std::printf("  not a vertex animation file: %u frames of %u bytes make %llu bytes\n", first, second,
                static_cast<unsigned long long>(kVertexAnimationHeaderBytes + uint64_t{first} * second));
  }
  if (!has_mesh_header_fields(bytes.data(), bytes.size())) {
    std::printf("  not a mesh file: the fixed header fields differ\n");
  } else {
    std::printf("  not a mesh file: %u triangles make %llu bytes\n", first,
                static_cast<unsigned long long>(mesh_file_bytes(first)));
  }
}

int run_info(const std::vector<std::string>& files) {
  if (files.empty()) return usage_error("info needs at least one file");
  int status = kOk;
  for (size_t n = 0; n < files.size(); ++n) {
    const std::string& name = files[n];
    std::vector<uint8_t> bytes;
    if (!read_whole_file(name, bytes)) {
      std::fprintf(stderr, "inspect3d: cannot read %s\n", name.c_str());
      status = kBadUsage;
      continue;
    }
    if (n > 0) std::printf("\n");
    const size_t size = bytes.size();
    switch (kind_of(bytes)) {
      case FileKind::kVertexAnimation:
        std::printf("%s: vertex animation file, %zu bytes\n", name.c_str(), size);
        print_animation_info(animation_of(bytes));
        break;
      case FileKind::kMesh:
      case FileKind::kBoth:
        std::printf("%s: mesh file, %zu bytes\n", name.c_str(), size);
        if (kind_of(bytes) == FileKind::kBoth) {
          // The twelve fixed fields make the mesh file far the likelier.
          const Animation animation = animation_of(bytes);
          std::printf("  (its size would also fit a vertex animation file of %s)\n",
                      frames_of(animation.frame_count, animation.vertex_count).c_str());
        }
        if (print_mesh_info(mesh_of(bytes)) > 0 && status == kOk) status = kProblems;
        break;
      case FileKind::kNeither:
        std::printf("%s: neither a vertex animation file nor a mesh file, %zu bytes\n", name.c_str(), size);
        print_why_neither(bytes);
        if (status == kOk) status = kProblems;
        break;
    }
  }
  return status;
}

// ---------------------------------------------------------------------------
// obj

// `name` in `dir`, as shown to the user: without "./" for the current directory.
std::string shown(const fs::path& dir, const char* name) {
  return dir == "." ? std::string(name) : (dir / name).string();
}

// Reads aniv00.3d and data00.3d of `dir` and checks that they are of their
// kinds and of one mesh. On failure says why and returns false.
bool read_outputs(const fs::path& dir, std::vector<uint8_t>& animation_bytes,
                  std::vector<uint8_t>& mesh_bytes) {
  for (const auto& [name, bytes] :
       {std::pair{kVertexAnimationName, &animation_bytes}, {kMeshName, &mesh_bytes}}) {
    if (!read_whole_file(dir / name, *bytes)) {
      std::fprintf(stderr, "inspect3d: cannot read %s\n", shown(dir, name).c_str());
      return false;
    }
  }
  // A file of both kinds' sizes is taken as what its name says.
  const FileKind animation_kind = kind_of(animation_bytes);
  if (animation_kind != FileKind::kVertexAnimation && animation_kind != FileKind::kBoth) {
    std::fprintf(stderr, "inspect3d: %s is not a vertex animation file (see inspect3d info)\n",
                 kVertexAnimationName);
    return false;
  }
  const FileKind mesh_kind = kind_of(mesh_bytes);
  if (mesh_kind != FileKind::kMesh && mesh_kind != FileKind::kBoth) {
    std::fprintf(stderr, "inspect3d: %s is not a mesh file (see inspect3d info)\n", kMeshName);
    return false;
  }
  return true;
}

// Parses a frame number: decimal digits only, below 65,536.
bool parse_frame_number(const char* text, uint32_t& frame) {
  const char* end = text + std::strlen(text);
  const auto result = std::from_chars(text, end, frame);
  return result.ec == std::errc() && result.ptr == end && *text != '\0' && frame <= 0xFFFF;
}

// Writes frame `frame` as an OBJ file. Returns the number of triangles left
// out for an index out of range, or -1 if the file could not be written.
long write_obj_frame(const fs::path& file, const Animation& animation, const Mesh& mesh, uint32_t frame) {
  std::string text;
  char line[128];
  std::snprintf(line, sizeof line, "# frame %u of %u, decoded from %s and %s by inspect3d\no frame%03u\n",
                frame, animation.frame_count, kVertexAnimationName, kMeshName, frame);
  text += line;
  for (uint32_t i = 0; i < animation.vertex_count; ++i) {
    double x, y, z;
    unpack_vertex(word_at(animation, frame, i), x, y, z);
    // Every value is a whole number of eighths within +-128: %g shows it exactly.
    std::snprintf(line, sizeof line, "v %g %g %g\n", x, y, z);
    text += line;
  }
  long left_out = 0;
  for (uint32_t t = 0; t < mesh.triangle_count; ++t) {
    uint16_t indices[3];
    triangle_at(mesh, t, indices);
    if (indices[0] >= animation.vertex_count || indices[1] >= animation.vertex_count ||
        indices[2] >= animation.vertex_count) {
      ++left_out;
      continue;
    }
    std::snprintf(line, sizeof line, "f %u %u %u\n", indices[0] + 1u, indices[1] + 1u, indices[2] + 1u);
    text += line;
  }
  FILE* out = std::fopen(file.string().c_str(), "wb");
  if (!out) return -1;
  bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  ok = std::fclose(out) == 0 && ok;
  if (!ok) {
    std::remove(file.string().c_str());
    return -1;
  }
  return left_out;
}

std::string obj_name(uint32_t frame) {
  char name[32];
  std::snprintf(name, sizeof name, "frame%03u.obj", frame);
  return name;
}

int run_obj(const std::vector<std::string>& args) {
  bool all = false, one = false;
  uint32_t frame = 0;
  fs::path out_dir = ".";
  bool out_given = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--all" && !all) {
      all = true;
    } else if (arg == "--frame" && !one) {
      if (i + 1 == args.size()) return usage_error("--frame needs a frame number");
      if (!parse_frame_number(args[++i].c_str(), frame)) return usage_error("--frame needs a frame number");
      one = true;
    } else if (arg == "--out" && !out_given) {
      if (i + 1 == args.size() || args[i + 1].empty()) return usage_error("--out needs a directory");
      out_dir = args[++i];
      out_given = true;
    } else if (arg == "--all" || arg == "--frame" || arg == "--out") {
      return usage_error(("obj takes " + arg + " once").c_str());
    } else {
      return usage_error(("obj does not take " + arg).c_str());
    }
  }
  if (all && one) return usage_error("obj takes --frame N or --all, not both");

  std::vector<uint8_t> animation_bytes, mesh_bytes;
  if (!read_outputs(".", animation_bytes, mesh_bytes)) return kBadUsage;
  const Animation animation = animation_of(animation_bytes);
  const Mesh mesh = mesh_of(mesh_bytes);
  if (mesh.vertices_per_frame != animation.vertex_count) {
    std::fprintf(stderr, "inspect3d: %s is of a mesh of %u vertices, %s of %u: they do not belong together\n",
                 kMeshName, mesh.vertices_per_frame, kVertexAnimationName, animation.vertex_count);
    return kBadUsage;
  }
  if (animation.frame_count == 0) {
    std::fprintf(stderr, "inspect3d: %s holds no frames\n", kVertexAnimationName);
    return kBadUsage;
  }
  if (one && frame >= animation.frame_count) {
    std::fprintf(stderr, "inspect3d: there is no frame %u: %s holds frames 0 to %u\n", frame,
                 kVertexAnimationName, animation.frame_count - 1u);
    return kBadUsage;
  }
  std::error_code error;
  fs::create_directories(out_dir, error);
  if (!fs::is_directory(out_dir)) {
    std::fprintf(stderr, "inspect3d: cannot make the directory %s\n", out_dir.string().c_str());
    return kBadUsage;
  }

  const uint32_t first = one ? frame : 0;
  const uint32_t last = one ? frame : animation.frame_count - 1u;
  long left_out = 0;
  for (uint32_t f = first; f <= last; ++f) {
    const fs::path file = out_dir / obj_name(f);
    left_out = write_obj_frame(file, animation, mesh, f);
    if (left_out < 0) {
      std::fprintf(stderr, "inspect3d: cannot write %s\n", file.string().c_str());
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
    std::fprintf(stderr,
                 "inspect3d: left out %ld %s with a vertex index at or beyond %u (inspect3d info %s lists "
                 "them)\n",
                 left_out, left_out == 1 ? "triangle" : "triangles", animation.vertex_count, kMeshName);
    return kProblems;
  }
  return kOk;
}

// ---------------------------------------------------------------------------
// check

// One coordinate that wrapped around its range.
struct Wrapped {
  uint32_t frame;
  uint32_t vertex;
  int axis;
  double source;
  double stored;
  uint32_t line;  // in the frame file, from 1
};

// What the comparison found in one frame.
struct FrameFindings {
  double largest_error[3] = {0, 0, 0};
  uint32_t wrapped_count = 0;
};

// Compares the source vertices of one frame, as the scanner visits them, with
// the frame's words in the vertex animation file.
struct FrameComparison {
  const Animation* animation;
  const char* text;
  uint32_t frame;
  uint32_t vertex = 0;
  size_t line_at = 0;  // the line count is kept up to this offset
  uint32_t line = 1;
  FrameFindings findings{};
  std::vector<Wrapped>* wrapped;
  uint64_t* differ_count;  // words that are not what frameconv makes of the source
  bool compare;            // false for a frame the file does not hold

  void operator()(size_t at, double x, double y, double z) {
    if (!compare) return;
    const uint32_t word = word_at(*animation, frame, vertex);
    if (word != pack_vertex(x, y, z)) ++*differ_count;
    const double source[3] = {x, y, z};
    double stored[3];
    unpack_vertex(word, stored[0], stored[1], stored[2]);
    for (int axis = 0; axis < 3; ++axis) {
      if (packs_in_range(source[axis], axis)) {
        findings.largest_error[axis] =
            std::max(findings.largest_error[axis], std::fabs(source[axis] - stored[axis]));
        continue;
      }
      for (; line_at < at; ++line_at) line += text[line_at] == '\n';
      wrapped->push_back({frame, vertex, axis, source[axis], stored[axis], line});
      ++findings.wrapped_count;
    }
    ++vertex;
  }
};

std::string frame_file_name(uint32_t frame) {
  char name[32];
  std::snprintf(name, sizeof name, "anima%03u.obj", frame);
  return name;
}

// The frame files in `dir` numbered above `missing` (which is not there),
// in order: frameconv never reads them.
std::vector<uint32_t> frames_after_gap(const fs::path& dir, uint32_t missing) {
  std::vector<uint32_t> frames;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dir, error)) {
    const std::string name = entry.path().filename().string();
    uint32_t number = 0;
    if (name.size() != 12 || name.compare(0, 5, "anima") != 0 || name.compare(8, 4, ".obj") != 0) continue;
    const auto result = std::from_chars(name.data() + 5, name.data() + 8, number);
    if (result.ec != std::errc() || result.ptr != name.data() + 8 || number <= missing) continue;
    frames.push_back(number);
  }
  std::sort(frames.begin(), frames.end());
  return frames;
}

void print_error_row(const char* label, const FrameFindings& findings) {
  std::printf("%5s %10.6f %10.6f %10.6f %8u\n", label, findings.largest_error[0], findings.largest_error[1],
              findings.largest_error[2], findings.wrapped_count);
}

// Counts one kind of problem for the closing line.
void add_problem(std::string& problems, uint64_t count, const char* one, const char* many) {
  if (count == 0) return;
  if (!problems.empty()) problems += ", ";
  problems += std::to_string(count) + " " + (count == 1 ? one : many);
}

int run_check(const std::vector<std::string>& args) {
  if (args.size() > 1) return usage_error("check takes at most one directory");
  if (!args.empty() && args[0].size() > 1 && args[0][0] == '-') {
    return usage_error(("check does not take " + args[0]).c_str());
  }
  const fs::path dir = args.empty() ? fs::path(".") : fs::path(args[0]);
  if (!fs::is_directory(dir)) {
    std::fprintf(stderr, "inspect3d: %s is not a directory\n", dir.string().c_str());
    return kBadUsage;
  }
  std::vector<uint8_t> animation_bytes, mesh_bytes;
  if (!read_outputs(dir, animation_bytes, mesh_bytes)) return kBadUsage;
  const Animation animation = animation_of(animation_bytes);
  const Mesh mesh = mesh_of(mesh_bytes);

  // The frames are read exactly as frameconv reads them: the same loading,
  // the same names and the same vertex passes.
  std::unique_ptr<char[]> text(new char[kFrameReadLimit + 1]);
  auto triangles = std::make_unique<TriangleTable>();
  char name[] = "anima000.obj";
  size_t end = 0;
  switch (load_frame((dir / name).string().c_str(), text.get(), end)) {
    case FrameLoad::kMissing:
      std::fprintf(stderr, "inspect3d: cannot find %s\n", shown(dir, name).c_str());
      return kBadUsage;
    case FrameLoad::kUnreadable:
      std::fprintf(stderr, "inspect3d: cannot read %s\n", shown(dir, name).c_str());
      return kBadUsage;
    case FrameLoad::kRead:
      break;
  }
  if (end == 0) {
    std::fprintf(stderr, "inspect3d: %s is empty: frameconv converts nothing\n", name);
    return kBadUsage;
  }

  std::vector<Wrapped> wrapped;
  std::vector<FrameFindings> findings;
  std::vector<std::string> notes;
  uint64_t differ_count = 0;
  bool same_vertex_count = true;
  std::string stopped;  // why frameconv would end without output, if it would

  auto compare_frame = [&](uint32_t frame) {
    return FrameComparison{.animation = &animation,
                           .text = text.get(),
                           .frame = frame,
                           .wrapped = &wrapped,
                           .differ_count = &differ_count,
                           .compare = same_vertex_count && frame < animation.frame_count};
  };
  auto note_read_limit = [&](const char* frame_name) {
    std::error_code error;
    const uintmax_t size = fs::file_size(dir / frame_name, error);
    if (!error && size > kFrameReadLimit) {
      notes.push_back(std::string(frame_name) + " is " + std::to_string(size) +
                      " bytes long; only its first " + std::to_string(kFrameReadLimit) + " are read");
    }
  };

  // The first pass runs twice: words are compared only once the vertex
  // counts are known to agree.
  const uint32_t vertex_count = visit_first_frame(text.get(), end, [](size_t, double, double, double) {});
  if (vertex_count == 0) {
    std::fprintf(stderr, "inspect3d: %s holds no vertices: frameconv converts nothing\n", name);
    return kBadUsage;
  }
  same_vertex_count = vertex_count == animation.vertex_count;
  FrameComparison first = compare_frame(0);
  visit_first_frame(text.get(), end, first);
  findings.push_back(first.findings);
  note_read_limit(name);
  OutOfRange indices_in_source{};  // check counts them in the mesh file instead
  scan_triangles(text.get(), end, vertex_count, *triangles, indices_in_source);
  // The first frame's limits: what lies beyond them is left out without a word.
  if (vertex_count == kFirstFrameVertexLimit) {
    notes.push_back("anima000.obj gives " + std::to_string(vertex_count) +
                    " vertices, the most frameconv reads of a frame; any further vertices are left out");
  }
  if (triangles->triangle_count == kTriangleLimit) {
    notes.push_back("anima000.obj gives " + std::to_string(kTriangleLimit) +
                    " faces, the most frameconv reads; any further faces are left out");
  }

  uint32_t frame_count = 1;
  uint64_t word_count = vertex_count;
  while (std::strcmp(name, "anima999.obj") != 0) {
    next_frame_name(name);
    const FrameLoad load = load_frame((dir / name).string().c_str(), text.get(), end);
    if (load == FrameLoad::kMissing) {
      const std::vector<uint32_t> after = frames_after_gap(dir, frame_count);
      if (!after.empty()) {
        std::string note = frame_file_name(after[0]);
        if (after.size() > 1) note += " and " + std::to_string(after.size() - 1) + " more";
        notes.push_back(note + " after the missing " + name + (after.size() > 1 ? " are" : " is") +
                        " never read");
      }
      break;
    }
    if (load == FrameLoad::kUnreadable) {
      std::fprintf(stderr, "inspect3d: cannot read %s\n", shown(dir, name).c_str());
      return kBadUsage;
    }
    if (kVertexStoreWords - word_count < vertex_count) {
      stopped = std::string("the vertex store is full at ") + name;
      break;
    }
    FrameComparison later = compare_frame(frame_count);
    const size_t wrapped_before = wrapped.size();
    const uint64_t differ_before = differ_count;
    if (!visit_later_frame(text.get(), end, vertex_count, later)) {
      // frameconv ends here without output: the part of the frame read counts for nothing.
      wrapped.resize(wrapped_before);
      differ_count = differ_before;
      stopped = std::string(name) + " has too few vertices";
      break;
    }
    note_read_limit(name);
    findings.push_back(later.findings);
    word_count += vertex_count;
    ++frame_count;
  }

  // What was read, and whether the outputs are its conversion.
  std::string problems;
  const std::string read =
      frame_count == 1 ? frame_file_name(0) : frame_file_name(0) + " to " + frame_file_name(frame_count - 1);
  std::printf("frames read: %s, %s", read.c_str(), frames_of(frame_count, vertex_count).c_str());
  if (stopped.empty()) {
    std::printf("\n");
  } else {
    std::printf("; then %s, so frameconv writes nothing\n", stopped.c_str());
    add_problem(problems, 1, "frame sequence frameconv cannot convert", "");
  }
  for (const std::string& note : notes) std::printf("note: %s\n", note.c_str());

  const bool same_frame_count = animation.frame_count == frame_count;
  std::printf("%s: %s%s\n", kVertexAnimationName,
              frames_of(animation.frame_count, animation.vertex_count).c_str(),
              same_vertex_count && same_frame_count ? "" : ", not the conversion of these frames");
  add_problem(problems, !same_vertex_count || !same_frame_count, "vertex animation file of other frames", "");

  const bool same_faces = mesh.triangle_count == triangles->triangle_count &&
                          mesh.vertices_per_frame == vertex_count &&
                          std::memcmp(mesh_bytes.data() + kMeshHeaderBytes, triangles->bytes,
                                      size_t{mesh.triangle_count} * kTriangleRecordBytes) == 0;
  std::printf("%s: %s of %s, %s\n", kMeshName, counted(mesh.triangle_count, "triangle", "triangles").c_str(),
              counted(mesh.vertices_per_frame, "vertex", "vertices").c_str(),
              same_faces ? "the faces of anima000.obj" : "not the faces of anima000.obj");
  add_problem(problems, !same_faces, "mesh file of other faces", "");

  // Fidelity, frame by frame: the largest distance between a source
  // coordinate and the one stored, over the coordinates within range.
  if (same_vertex_count) {
    std::printf("\nlargest error per axis, in model units (under one step: x and y 0.125, z 0.25)\n");
    std::printf("%5s %10s %10s %10s %8s\n", "frame", "x", "y", "z", "wrapped");
    FrameFindings total;
    const uint32_t compared = std::min<uint32_t>(frame_count, animation.frame_count);
    for (uint32_t f = 0; f < compared; ++f) {
      print_error_row(std::to_string(f).c_str(), findings[f]);
      for (int axis = 0; axis < 3; ++axis) {
        total.largest_error[axis] = std::max(total.largest_error[axis], findings[f].largest_error[axis]);
      }
      total.wrapped_count += findings[f].wrapped_count;
    }
    print_error_row("all", total);
  }

  std::printf("\nwrapped coordinates:%s\n", wrapped.empty() ? " none" : "");
  for (const Wrapped& w : wrapped) {
    std::printf("  frame %u vertex %u %c: %s (%s line %u) reads back as %g\n", w.frame, w.vertex,
                kAxisNames[w.axis], shortest(w.source).c_str(), frame_file_name(w.frame).c_str(), w.line,
                w.stored);
  }
  add_problem(problems, wrapped.size(), "wrapped coordinate", "wrapped coordinates");
  if (differ_count > 0) {
    std::printf("vertices not stored as frameconv packs their source: %llu\n",
                static_cast<unsigned long long>(differ_count));
  }
  add_problem(problems, differ_count, "vertex stored otherwise", "vertices stored otherwise");

  std::printf("face indices out of range (at or beyond %u):", vertex_count);
  uint32_t out_of_range = 0;
  for (uint32_t t = 0; t < mesh.triangle_count && out_of_range == 0; ++t) {
    uint16_t indices[3];
    triangle_at(mesh, t, indices);
    for (uint16_t index : indices) out_of_range += index >= vertex_count;
  }
  if (out_of_range == 0) {
    std::printf(" none\n");
  } else {
    std::printf("\n");
    out_of_range = list_indices_out_of_range(mesh, vertex_count, "  ");
  }
  add_problem(problems, out_of_range, "face index out of range", "face indices out of range");

  std::printf("\nresult: %s\n", problems.empty() ? "ok" : problems.c_str());
  return problems.empty() ? kOk : kProblems;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (args.empty()) return usage_error("no command given");
  const std::string& command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  // "--help" anywhere asks for help, also after a command ("check --help").
  const auto asks_help = [](const std::string& arg) { return arg == "--help" || arg == "-h"; };
  if (command == "help" || std::any_of(args.begin(), args.end(), asks_help)) {
    std::fputs(kUsage, stdout);
    std::fputs(kHelp, stdout);
    return kOk;
  }
  if (command == "info") return run_info(rest);
  if (command == "obj") return run_obj(rest);
  if (command == "check") return run_check(rest);
  return usage_error(("unknown command " + command).c_str());
}
