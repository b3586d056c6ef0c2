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
#include "sequence.h"

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

bool open_file(const fs::path& file, const std::string& shown_name, uint64_t limit, const char* what,
               OpenedFile& opened) {
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
  bool missing = false;
  opened.file.reset(open_regular_file(utf8_of(file).c_str(), missing));
  opened.size = size;
  opened.head_bytes = static_cast<size_t>(std::min<uint64_t>(size, kKindHeadBytes));
  if (!opened.file || std::fread(opened.head, 1, opened.head_bytes, opened.file.get()) != opened.head_bytes) {
    std::fprintf(stderr, "inspect3d: cannot read %s\n", shown_name.c_str());
    return false;
  }
  opened.decoded = read_file_head(opened.head, opened.head_bytes, opened.size);
  return true;
}

bool read_rest(OpenedFile& opened, const std::string& shown_name, std::vector<uint8_t>& bytes) {
  bytes.assign(opened.head, opened.head + opened.head_bytes);
  bytes.resize(static_cast<size_t>(opened.size));
  const size_t rest = bytes.size() - opened.head_bytes;
  FILE* in = opened.file.release();
  bool ok = std::fread(bytes.data() + opened.head_bytes, 1, rest, in) == rest && std::ferror(in) == 0;
  ok = std::fclose(in) == 0 && ok;
  if (!ok) std::fprintf(stderr, "inspect3d: cannot read %s\n", shown_name.c_str());
  return ok;
}

Animation animation_of(const std::vector<uint8_t>& bytes) {
  Animation animation;
  get_animation_header(bytes.data(), bytes.size(), animation);
  animation.data = bytes.data();
  animation.size = bytes.size();
  return animation;
}

Mesh mesh_of(const MeshHeader& header, const std::vector<uint8_t>& bytes) {
  Mesh mesh;
  static_cast<MeshHeader&>(mesh) = header;
  mesh.data = bytes.data();
  mesh.size = bytes.size();
  return mesh;
}

bool read_frames(const Animation& animation, uint32_t first, uint32_t count, std::vector<uint8_t>& bytes) {
  const uint64_t offset = frame_offset(animation, first);
  const uint64_t length = uint64_t{count} * animation.bytes_per_frame;
  bytes.assign(static_cast<size_t>(length), 0);
  bool ok = false;
  if (animation.file != nullptr) {
    ok = seek_file(animation.file, offset) &&
         std::fread(bytes.data(), 1, bytes.size(), animation.file) == bytes.size();
  } else if (offset <= animation.size && length <= animation.size - offset) {
    std::copy(animation.data + offset, animation.data + offset + length, bytes.begin());
    ok = true;
  }
  if (!ok) std::fprintf(stderr, "inspect3d: cannot read %s\n", animation.shown_name.c_str());
  return ok;
}

bool frame_positions(const Animation& animation, uint32_t frame, std::vector<Position>& positions) {
  std::vector<uint8_t> bytes;
  positions.assign(animation.vertex_count, {0, 0, 0});
  if (!read_frames(animation, frame, 1, bytes)) return false;
  decode_frame(bytes.data(), bytes.size(), animation.vertex_count, positions.data());
  return true;
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

bool read_conversion(const fs::path& dir, Conversion& conversion) {
  OpenedFile animation, mesh;
  if (!open_file(dir / kVertexAnimationName, shown(dir, kVertexAnimationName), kVertexAnimationFileLimit,
                 "a vertex animation file", animation) ||
      !open_file(dir / kMeshName, shown(dir, kMeshName), kMeshFileLimit, "a mesh file", mesh) ||
      !read_rest(mesh, shown(dir, kMeshName), conversion.mesh_bytes)) {
    return false;
  }
  const FileKind animation_kind = animation.decoded.kind;
  if (animation_kind != FileKind::kVertexAnimation && animation_kind != FileKind::kBoth) {
    std::fprintf(stderr, "inspect3d: %s is not a vertex animation file (see inspect3d info)\n",
                 kVertexAnimationName);
    return false;
  }
  const FileKind mesh_kind = mesh.decoded.kind;
  if (mesh_kind != FileKind::kMesh && mesh_kind != FileKind::kBoth) {
    std::fprintf(stderr, "inspect3d: %s is not a mesh file (see inspect3d info)\n", kMeshName);
    return false;
  }
  static_cast<AnimationHeader&>(conversion.animation) = animation.decoded.animation;
  conversion.animation_file = std::move(animation.file);
  conversion.animation.file = conversion.animation_file.get();
  conversion.animation.shown_name = shown(dir, kVertexAnimationName);
  conversion.mesh = mesh_of(mesh.decoded.mesh, conversion.mesh_bytes);
  return true;
}

bool can_decode(const Conversion& conversion) {
  const Animation& animation = conversion.animation;
  const Mesh& mesh = conversion.mesh;
  if (mesh.vertices_per_frame != animation.vertex_count) {
    std::fprintf(stderr, "inspect3d: %s is of a mesh of %u vertices, %s of %u: they do not belong together\n",
                 kMeshName, mesh.vertices_per_frame, kVertexAnimationName, animation.vertex_count);
    return false;
  }
  if (animation.frame_count == 0) {
    std::fprintf(stderr, "inspect3d: %s holds no frames\n", kVertexAnimationName);
    return false;
  }
  return true;
}

std::vector<FaceIndexOutOfRange> indices_out_of_range(const Mesh& mesh, uint32_t vertex_count) {
  std::vector<FaceIndexOutOfRange> indices;
  for (uint32_t t = 0; t < mesh.triangle_count; ++t) {
    const Triangle triangle = triangle_at(mesh, t);
    for (int corner = 0; corner < 3; ++corner) {
      if (triangle[corner] >= vertex_count) indices.push_back({t, corner, triangle[corner]});
    }
  }
  return indices;
}

void print_indices_out_of_range(const std::vector<FaceIndexOutOfRange>& indices, const char* indent) {
  for (const FaceIndexOutOfRange& i : indices) {
    std::printf("%striangle %u corner %d: index %u\n", indent, i.triangle, i.corner, i.index);
  }
}

void say_left_out(uint32_t left_out, uint32_t vertex_count) {
  std::fprintf(
      stderr,
      "inspect3d: left out %u %s with a vertex index at or beyond %u (inspect3d info %s lists them)\n",
      left_out, left_out == 1 ? "triangle" : "triangles", vertex_count, kMeshName);
}

std::string frame_file_name(uint32_t frame) {
  char name[kFrameNameBytes];
  write_frame_name(frame, name);
  return name;
}

bool position_packs_in_range(double x, double y, double z) {
  return packs_in_range(x, 0) && packs_in_range(y, 1) && packs_in_range(z, 2);
}

// The frame files in `dir` numbered above `missing` (which is not there), in
// order: frameconv never reads them. False if the directory cannot be listed.
static bool frames_after_gap(const fs::path& dir, uint32_t missing, std::vector<uint32_t>& frames) {
  const std::string first = kFirstFrameName;
  const size_t digits_end = kFrameDigitsAt + kFrameDigitCount;
  std::error_code error;
  for (fs::directory_iterator entry(dir, error), end; !error && entry != end; entry.increment(error)) {
    const std::string name = utf8_of(entry->path().filename());
    uint32_t number = 0;
    if (name.size() != first.size() || name.compare(0, kFrameDigitsAt, first, 0, kFrameDigitsAt) != 0 ||
        name.compare(digits_end, std::string::npos, first, digits_end) != 0) {
      continue;
    }
    const auto result = std::from_chars(name.data() + kFrameDigitsAt, name.data() + digits_end, number);
    if (result.ec != std::errc() || result.ptr != name.data() + digits_end || number <= missing) continue;
    frames.push_back(number);
  }
  std::sort(frames.begin(), frames.end());
  return !error;
}

SourceRead source_read(const fs::path& dir, SequenceEnd end, SourceFrames& frames) {
  const FrameSequence& sequence = frames.sequence;
  const std::string name = sequence.name;
  frames.frame_count = sequence.frame_count;
  frames.vertex_count = sequence.vertex_count;
  switch (end) {
    case SequenceEnd::kNoFirstFrame:
      return SourceRead::kMissing;
    case SequenceEnd::kUnreadable:
      std::fprintf(stderr, "inspect3d: cannot read %s\n", shown(dir, name.c_str()).c_str());
      return SourceRead::kFailed;
    case SequenceEnd::kEmptyFirstFrame:
      std::fprintf(stderr, "inspect3d: %s is empty: frameconv converts nothing\n", name.c_str());
      return SourceRead::kFailed;
    case SequenceEnd::kNoVertices:
      std::fprintf(stderr, "inspect3d: %s holds no vertices: frameconv converts nothing\n", name.c_str());
      return SourceRead::kFailed;
    case SequenceEnd::kStoreFull:
      frames.stopped = "the vertex store is full at " + name;
      return SourceRead::kRead;
    case SequenceEnd::kTooFewVertices:
      frames.stopped = name + " has too few vertices";
      return SourceRead::kRead;
    case SequenceEnd::kComplete:
      break;
  }
  if (frames.frame_count < kFrameLimit) {
    // The sequence ended at a missing name: frames after it are never read.
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
  }
  return SourceRead::kRead;
}
