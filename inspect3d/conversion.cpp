#include "conversion.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>

#include "le.h"
#include "output.h"
#include "platform.h"
#include "scan.h"
#include "sequence.h"

namespace fs = std::filesystem;

Failure& Failure::then(std::string line) {
  failed = true;
  said.push_back(std::move(line));
  return *this;
}

Failure& Failure::then(const Failure& other) {
  failed = failed || other.failed;
  said.insert(said.end(), other.said.begin(), other.said.end());
  return *this;
}

Failure failure(std::string line) { return Failure().then(std::move(line)); }

Failure failure() { return Failure{true, {}}; }

std::string counted(uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string frames_of(uint32_t frame_count, uint32_t vertex_count) {
  return counted(frame_count, "frame", "frames") + " of " + counted(vertex_count, "vertex", "vertices");
}

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

Failure open_file(const fs::path& file, const std::string& shown_name, uint64_t limit, const char* what,
                  OpenedFile& opened) {
  std::error_code error;
  const bool regular = fs::is_regular_file(file, error);
  const uintmax_t size = regular ? fs::file_size(file, error) : 0;
  if (!regular || error) return failure("cannot read " + shown_name);
  if (size > limit) {
    return failure(shown_name + " is " + std::to_string(size) + " bytes, more than " + what + " can hold (" +
                   std::to_string(limit) + ")");
  }
  bool missing = false;
  opened.file.reset(open_regular_file(utf8_of(file).c_str(), missing));
  opened.size = size;
  opened.head_bytes = static_cast<size_t>(std::min<uint64_t>(size, kKindHeadBytes));
  if (!opened.file || std::fread(opened.head, 1, opened.head_bytes, opened.file.get()) != opened.head_bytes) {
    return failure("cannot read " + shown_name);
  }
  opened.decoded = read_file_head(opened.head, opened.head_bytes, opened.size);
  return {};
}

Failure read_rest(OpenedFile& opened, const std::string& shown_name, std::vector<uint8_t>& bytes) {
  bytes.assign(opened.head, opened.head + opened.head_bytes);
  bytes.resize(static_cast<size_t>(opened.size));
  const size_t rest = bytes.size() - opened.head_bytes;
  FILE* in = opened.file.release();
  bool ok = std::fread(bytes.data() + opened.head_bytes, 1, rest, in) == rest && std::ferror(in) == 0;
  ok = std::fclose(in) == 0 && ok;
  return ok ? Failure() : failure("cannot read " + shown_name);
}

Mesh mesh_of(const MeshHeader& header, const std::vector<uint8_t>& bytes) {
  Mesh mesh;
  static_cast<MeshHeader&>(mesh) = header;
  mesh.data = bytes.data();
  mesh.size = bytes.size();
  return mesh;
}

Failure read_frames(const Animation& animation, uint32_t first, uint32_t count, std::vector<uint8_t>& bytes) {
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
  return ok ? Failure() : failure("cannot read " + animation.shown_name);
}

Failure frame_positions(const Animation& animation, uint32_t frame, std::vector<Position>& positions) {
  std::vector<uint8_t> bytes;
  positions.assign(animation.vertex_count, {0, 0, 0});
  if (Failure read = read_frames(animation, frame, 1, bytes)) return read;
  decode_frame(bytes.data(), bytes.size(), animation.vertex_count, positions.data());
  return {};
}

Failure frame_boxes(const Animation& animation, std::vector<FrameBox>& boxes) {
  boxes.clear();
  std::vector<Position> positions;
  for (uint32_t f = 0; f < animation.frame_count; ++f) {
    // The layout has at least one vertex a frame.
    FrameBox box = {{HUGE_VAL, HUGE_VAL, HUGE_VAL}, {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL}};
    if (Failure read = frame_positions(animation, f, positions)) return read;
    for (const Position& p : positions) {
      const double at[3] = {p.x, p.y, p.z};
      for (int axis = 0; axis < 3; ++axis) {
        box.low[axis] = std::min(box.low[axis], at[axis]);
        box.high[axis] = std::max(box.high[axis], at[axis]);
      }
    }
    boxes.push_back(box);
  }
  return {};
}

NeitherReason why_neither(const uint8_t* head, size_t head_bytes, uint64_t size) {
  NeitherReason why;
  if (size < kVertexAnimationHeaderBytes) {
    why.too_short = true;
    return why;
  }
  get_u16(head, head_bytes, 0, why.first);
  get_u16(head, head_bytes, 2, why.second);
  why.mesh_fields = has_mesh_header_fields(head, head_bytes);
  return why;
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

Failure read_conversion(const fs::path& dir, Conversion& conversion) {
  OpenedFile animation, mesh;
  if (Failure opened = open_file(dir / kVertexAnimationName, shown(dir, kVertexAnimationName),
                                 kVertexAnimationFileLimit, "a vertex animation file", animation)) {
    return opened;
  }
  if (Failure opened =
          open_file(dir / kMeshName, shown(dir, kMeshName), kMeshFileLimit, "a mesh file", mesh)) {
    return opened;
  }
  if (Failure read = read_rest(mesh, shown(dir, kMeshName), conversion.mesh_bytes)) return read;
  const FileKind animation_kind = animation.decoded.kind;
  if (animation_kind != FileKind::kVertexAnimation && animation_kind != FileKind::kBoth) {
    return failure(std::string(kVertexAnimationName) +
                   " is not a vertex animation file (see inspect3d info)");
  }
  const FileKind mesh_kind = mesh.decoded.kind;
  if (mesh_kind != FileKind::kMesh && mesh_kind != FileKind::kBoth) {
    return failure(std::string(kMeshName) + " is not a mesh file (see inspect3d info)");
  }
  static_cast<AnimationHeader&>(conversion.animation) = animation.decoded.animation;
  conversion.animation_file = std::move(animation.file);
  conversion.animation.file = conversion.animation_file.get();
  conversion.animation.shown_name = shown(dir, kVertexAnimationName);
  conversion.mesh = mesh_of(mesh.decoded.mesh, conversion.mesh_bytes);
  return {};
}

Failure cannot_decode(const Conversion& conversion) {
  const Animation& animation = conversion.animation;
  const Mesh& mesh = conversion.mesh;
  if (mesh.vertices_per_frame != animation.vertex_count) {
    return failure(std::string(kMeshName) + " is of a mesh of " + std::to_string(mesh.vertices_per_frame) +
                   " vertices, " + kVertexAnimationName + " of " + std::to_string(animation.vertex_count) +
                   ": they do not belong together");
  }
  if (animation.frame_count == 0) return failure(std::string(kVertexAnimationName) + " holds no frames");
  return {};
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

Failure source_read(const fs::path& dir, SequenceEnd end, SourceFrames& frames) {
  const FrameSequence& sequence = frames.sequence;
  const std::string name = sequence.name;
  frames.frame_count = sequence.frame_count;
  frames.vertex_count = sequence.vertex_count;
  switch (end) {
    case SequenceEnd::kNoFirstFrame:
      frames.missing = true;
      return {};
    case SequenceEnd::kUnreadable:
      return failure("cannot read " + shown(dir, name.c_str()));
    case SequenceEnd::kEmptyFirstFrame:
      return failure(name + " is empty: frameconv converts nothing");
    case SequenceEnd::kNoVertices:
      return failure(name + " holds no vertices: frameconv converts nothing");
    case SequenceEnd::kStoreFull:
      frames.stopped = "the vertex store is full at " + name;
      return {};
    case SequenceEnd::kTooFewVertices:
      frames.stopped = name + " has too few vertices";
      return {};
    case SequenceEnd::kComplete:
      break;
  }
  if (frames.frame_count < kFrameLimit) {
    // The sequence ended at a missing name: frames after it are never read.
    std::vector<uint32_t> after;
    if (!frames_after_gap(dir, frames.frame_count, after))
      return failure("cannot read the directory " + utf8_of(dir));
    if (!after.empty()) {
      std::string note = frame_file_name(after[0]);
      if (after.size() > 1) note += " and " + std::to_string(after.size() - 1) + " more";
      frames.notes.push_back(note + " after the missing " + name + (after.size() > 1 ? " are" : " is") +
                             " never read");
    }
  }
  return {};
}

std::string unfinished_commit_note(const fs::path& dir) {
  char record[kTempNameBytes];
  if (!unfinished_commit(utf8_of(dir).c_str(), record)) return "";
  return shown(dir, record) +
         ": a run was killed while it replaced its outputs, which may not be a pair; the next run of "
         "frameconv or clipmerge puts the earlier ones back";
}

// The files of the current directory that the writing commands read: the
// conversion, and the frame files up to the first one missing (preview reads
// them). Found once, at the first write.
static const std::vector<FileIdentity>& inputs() {
  static std::vector<FileIdentity> identities;
  static bool found = false;
  if (found) return identities;
  found = true;
  FileIdentity identity;
  for (const char* name : {kVertexAnimationName, kMeshName}) {
    if (file_identity(name, identity)) identities.push_back(identity);
  }
  for (uint32_t frame = 0; frame < kFrameLimit && file_identity(frame_file_name(frame).c_str(), identity);
       ++frame) {
    identities.push_back(identity);
  }
  return identities;
}

Failure write_output(const std::string& file, const std::string& bytes) {
  return write_output(file, bytes, {});
}

Failure write_output(const std::string& file, const std::string& head,
                     const std::vector<unsigned char>& body) {
  FileIdentity identity;
  if (file_identity(file.c_str(), identity) &&
      std::find(inputs().begin(), inputs().end(), identity) != inputs().end()) {
    return failure("cannot write " + file + ": it is a file this command reads, never written over");
  }
  const WriteFault fault = write_output_file(file.c_str(), reinterpret_cast<const uint8_t*>(head.data()),
                                             head.size(), body.data(), body.size());
  if (fault != WriteFault::kNone) return failure("cannot write " + file + ": " + fault_words(fault));
  return {};
}
