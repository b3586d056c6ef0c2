#include "conversion.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>

#include "le.h"
#include "platform.h"
#include "scan.h"

namespace fs = std::filesystem;

fs::path path_of(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

std::string utf8_of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string shown(const fs::path& dir, const char* name) {
  if (dir == ".") return name;
  const std::u8string text = (dir / name).generic_u8string();
  return std::string(text.begin(), text.end());
}

bool read_whole_file(const fs::path& file, const std::string& shown_name, uint64_t limit, const char* what,
                     std::vector<uint8_t>& bytes) {
  std::error_code error;
  const bool regular = fs::is_regular_file(file, error);
  const uintmax_t size = regular ? fs::file_size(file, error) : 0;
  if (!regular || error) {
    std::fprintf(stderr, "inspect3d: cannot read %s\n", shown_name.c_str());
    return false;
  }
  if (size > limit) {
    std::fprintf(stderr, "inspect3d: %s is %llu bytes, more than %s can hold (%llu)\n", shown_name.c_str(),
                 static_cast<unsigned long long>(size), what, static_cast<unsigned long long>(limit));
    return false;
  }
  try {
    bytes.resize(size);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "inspect3d: not enough memory to read %s (%llu bytes)\n", shown_name.c_str(),
                 static_cast<unsigned long long>(size));
    return false;
  }
  bool missing = false;
  FILE* in = open_regular_file(utf8_of(file).c_str(), missing);
  bool ok = in != nullptr;
  if (ok) {
    ok = std::fread(bytes.data(), 1, bytes.size(), in) == bytes.size() && std::ferror(in) == 0;
    ok = std::fclose(in) == 0 && ok;
  }
  if (!ok) std::fprintf(stderr, "inspect3d: cannot read %s\n", shown_name.c_str());
  return ok;
}

Animation animation_of(const std::vector<uint8_t>& bytes) {
  Animation animation;
  get_u16(bytes.data(), bytes.size(), 0, animation.frame_count);
  get_u16(bytes.data(), bytes.size(), 2, animation.bytes_per_frame);
  animation.vertex_count = animation.bytes_per_frame / kPackedVertexBytes;
  animation.data = bytes.data();
  animation.size = bytes.size();
  return animation;
}

Mesh mesh_of(const std::vector<uint8_t>& bytes) {
  Mesh mesh;
  get_u16(bytes.data(), bytes.size(), 0, mesh.triangle_count);
  get_u16(bytes.data(), bytes.size(), 2, mesh.vertices_per_frame);
  mesh.data = bytes.data();
  mesh.size = bytes.size();
  return mesh;
}

uint32_t word_at(const Animation& animation, uint32_t frame, uint32_t vertex) {
  uint32_t word = 0;
  get_u32(animation.data, animation.size,
          kVertexAnimationHeaderBytes + size_t{frame} * animation.bytes_per_frame +
              size_t{vertex} * kPackedVertexBytes,
          word);
  return word;
}

Position position_at(const Animation& animation, uint32_t frame, uint32_t vertex) {
  Position position;
  unpack_vertex(word_at(animation, frame, vertex), position.x, position.y, position.z);
  return position;
}

Triangle triangle_at(const Mesh& mesh, uint32_t triangle) {
  uint16_t indices[3] = {0, 0, 0};
  get_triangle_indices(mesh.data, mesh.size, triangle, indices);
  return {indices[0], indices[1], indices[2]};
}

std::vector<Triangle> triangles_in_range(const Mesh& mesh, uint32_t vertex_count, uint32_t& left_out_count) {
  std::vector<Triangle> triangles;
  left_out_count = 0;
  for (uint32_t t = 0; t < mesh.triangle_count; ++t) {
    const Triangle triangle = triangle_at(mesh, t);
    if (triangle[0] >= vertex_count || triangle[1] >= vertex_count || triangle[2] >= vertex_count) {
      ++left_out_count;
    } else {
      triangles.push_back(triangle);
    }
  }
  return triangles;
}

FileKind kind_of(const std::vector<uint8_t>& bytes) {
  return file_kind(bytes.data(), std::min(bytes.size(), kKindHeadBytes), bytes.size());
}

bool read_conversion(const fs::path& dir, Conversion& conversion) {
  if (!read_whole_file(dir / kVertexAnimationName, shown(dir, kVertexAnimationName),
                       kVertexAnimationFileLimit, "a vertex animation file", conversion.animation_bytes) ||
      !read_whole_file(dir / kMeshName, shown(dir, kMeshName), kMeshFileLimit, "a mesh file",
                       conversion.mesh_bytes)) {
    return false;
  }
  const FileKind animation_kind = kind_of(conversion.animation_bytes);
  if (animation_kind != FileKind::kVertexAnimation && animation_kind != FileKind::kBoth) {
    std::fprintf(stderr, "inspect3d: %s is not a vertex animation file (see inspect3d info)\n",
                 kVertexAnimationName);
    return false;
  }
  const FileKind mesh_kind = kind_of(conversion.mesh_bytes);
  if (mesh_kind != FileKind::kMesh && mesh_kind != FileKind::kBoth) {
    std::fprintf(stderr, "inspect3d: %s is not a mesh file (see inspect3d info)\n", kMeshName);
    return false;
  }
  conversion.animation = animation_of(conversion.animation_bytes);
  conversion.mesh = mesh_of(conversion.mesh_bytes);
  return true;
}

std::string frame_file_name(uint32_t frame) {
  char name[32];
  std::snprintf(name, sizeof name, "anima%03u.obj", frame);
  return name;
}

bool position_packs_in_range(double x, double y, double z) {
  return packs_in_range(x, 0) && packs_in_range(y, 1) && packs_in_range(z, 2);
}

// The frame files in `dir` numbered above `missing` (which is not there), in
// order: frameconv never reads them. False if the directory cannot be listed.
static bool frames_after_gap(const fs::path& dir, uint32_t missing, std::vector<uint32_t>& frames) {
  std::error_code error;
  for (fs::directory_iterator entry(dir, error), end; !error && entry != end; entry.increment(error)) {
    const std::string name = utf8_of(entry->path().filename());
    uint32_t number = 0;
    if (name.size() != 12 || name.compare(0, 5, "anima") != 0 || name.compare(8, 4, ".obj") != 0) continue;
    const auto result = std::from_chars(name.data() + 5, name.data() + 8, number);
    if (result.ec != std::errc() || result.ptr != name.data() + 8 || number <= missing) continue;
    frames.push_back(number);
  }
  std::sort(frames.begin(), frames.end());
  return !error;
}

// A note if frame file `name` is longer than frameconv reads of it.
static void note_read_limit(const fs::path& dir, const char* name, std::vector<std::string>& notes) {
  std::error_code error;
  const uintmax_t size = fs::file_size(dir / name, error);
  if (!error && size > kFrameReadLimit) {
    notes.push_back(std::string(name) + " is " + std::to_string(size) + " bytes long; only its first " +
                    std::to_string(kFrameReadLimit) + " are read");
  }
}

// Passes the scanner's visits on to a SourceVisitor.
struct ForwardVisit {
  SourceVisitor* visitor;
  void operator()(size_t at, double x, double y, double z) const { visitor->vertex(at, x, y, z); }
};

SourceRead read_source_frames(const fs::path& dir, SourceVisitor& visitor, SourceFrames& frames) {
  std::unique_ptr<char[]> text(new char[kFrameReadLimit + 1]);
  frames.triangles = std::make_unique<TriangleTable>();
  char name[] = "anima000.obj";
  size_t end = 0;
  switch (load_frame(utf8_of(dir / name).c_str(), text.get(), end)) {
    case FrameLoad::kMissing:
      return SourceRead::kMissing;
    case FrameLoad::kUnreadable:
      std::fprintf(stderr, "inspect3d: cannot read %s\n", shown(dir, name).c_str());
      return SourceRead::kFailed;
    case FrameLoad::kRead:
      break;
  }
  if (end == 0) {
    std::fprintf(stderr, "inspect3d: %s is empty: frameconv converts nothing\n", name);
    return SourceRead::kFailed;
  }

  // The first pass runs twice: the visitor learns the vertex count before the
  // first vertex.
  const uint32_t vertex_count = visit_first_frame(text.get(), end, [](size_t, double, double, double) {});
  if (vertex_count == 0) {
    std::fprintf(stderr, "inspect3d: %s holds no vertices: frameconv converts nothing\n", name);
    return SourceRead::kFailed;
  }
  frames.vertex_count = vertex_count;
  visitor.begin_frame(0, vertex_count, text.get());
  visit_first_frame(text.get(), end, ForwardVisit{&visitor});
  note_read_limit(dir, name, frames.notes);
  OutOfRange indices_in_source{};  // check counts face indices in the mesh file instead
  scan_triangles(text.get(), end, vertex_count, *frames.triangles, indices_in_source);
  // The first frame's limits: what lies beyond them is left out without a word.
  if (vertex_count == kFirstFrameVertexLimit) {
    frames.notes.push_back(
        "anima000.obj gives " + std::to_string(vertex_count) +
        " vertices, the most frameconv reads of a frame; any further vertices are left out");
  }
  if (frames.triangles->triangle_count == kTriangleLimit) {
    frames.notes.push_back("anima000.obj gives " + std::to_string(kTriangleLimit) +
                           " faces, the most frameconv reads; any further faces are left out");
  }

  frames.frame_count = 1;
  uint64_t word_count = vertex_count;
  while (std::strcmp(name, "anima999.obj") != 0) {
    next_frame_name(name);
    const FrameLoad load = load_frame(utf8_of(dir / name).c_str(), text.get(), end);
    if (load == FrameLoad::kMissing) {
      std::vector<uint32_t> after;
      if (!frames_after_gap(dir, frames.frame_count, after)) {
        std::fprintf(stderr, "inspect3d: cannot read the directory %s\n", utf8_of(dir).c_str());
        return SourceRead::kFailed;
      }
      if (!after.empty()) {
        std::string note = frame_file_name(after[0]);
        if (after.size() > 1) note += " and " + std::to_string(after.size() - 1) + " more";
        frames.notes.push_back(note + " after the missing " + name + (after.size() > 1 ? " are" : " is") +
                               " never read");
      }
      break;
    }
    if (load == FrameLoad::kUnreadable) {
      std::fprintf(stderr, "inspect3d: cannot read %s\n", shown(dir, name).c_str());
      return SourceRead::kFailed;
    }
    if (kVertexStoreWords - word_count < vertex_count) {
      frames.stopped = std::string("the vertex store is full at ") + name;
      break;
    }
    visitor.begin_frame(frames.frame_count, vertex_count, text.get());
    if (!visit_later_frame(text.get(), end, vertex_count, ForwardVisit{&visitor})) {
      visitor.drop_frame();
      frames.stopped = std::string(name) + " has too few vertices";
      break;
    }
    note_read_limit(dir, name, frames.notes);
    word_count += vertex_count;
    ++frames.frame_count;
  }
  return SourceRead::kRead;
}
