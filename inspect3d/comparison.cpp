#include "comparison.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace fs = std::filesystem;

uint32_t LineCount::of(const char* text, size_t offset) {
  if (offset < at) *this = {};
  for (; at < offset; ++at) line += text[at] == '\n';
  return line;
}

void FrameComparison::begin_frame(uint32_t frame, const char* text) {
  // The first frame is compared before its vertex count is known; the later
  // ones only once it agrees with the file's.
  compare_ = (frame == 0 || same_vertex_count) && frame < animation_.frame_count;
  // One frame of the file at a time, as the source frames come.
  if (compare_) {
    if (Failure read = read_frames(animation_, frame, 1, frame_bytes_)) {
      (frame == 0 ? first_unread_ : read_failure).then(read);
      compare_ = false;
    }
  }
  frame_ = frame;
  text_ = text;
  vertex_ = 0;
  lines_ = {};
  wrapped_before_ = wrapped.size();
  places_before_ = places.size();
  differ_before_ = differ_count;
  findings.push_back({});
}

void FrameComparison::vertex(const Vertex& v) {
  FrameFindings& found = findings.back();
  const double source[3] = {v.x, v.y, v.z};
  for (int axis = 0; axis < 3; ++axis) {
    found.low[axis] = std::min(found.low[axis], source[axis]);
    found.high[axis] = std::max(found.high[axis], source[axis]);
  }
  if (!compare_) return;
  const uint32_t word = word_in_frame(frame_bytes_.data(), frame_bytes_.size(), vertex_);
  if (word != pack_vertex(v.x, v.y, v.z)) ++differ_count;
  const Position p = unpack_vertex(word);
  const double stored[3] = {p.x, p.y, p.z};
  for (int axis = 0; axis < 3; ++axis) {
    if (packs_in_range(source[axis], axis)) {
      found.largest_error[axis] = std::max(found.largest_error[axis], std::fabs(source[axis] - stored[axis]));
      continue;
    }
    wrapped.push_back({frame_, vertex_, axis, source[axis], stored[axis], lines_.of(text_, v.at)});
    ++found.wrapped_count;
  }
  ++vertex_;
}

void FrameComparison::end_frame(uint32_t frame, uint32_t vertex_count) {
  if (frame != 0) return;
  same_vertex_count = vertex_count == animation_.vertex_count;
  if (same_vertex_count) {
    read_failure.then(first_unread_);
    return;
  }
  // Words are compared only where the vertex counts agree.
  wrapped.resize(wrapped_before_);
  differ_count = differ_before_;
  FrameFindings& found = findings.back();
  for (double& error : found.largest_error) error = 0;
  found.wrapped_count = 0;
}

// What is read of a frame frameconv stops at counts for nothing.
void FrameComparison::drop_frame() {
  wrapped.resize(wrapped_before_);
  places.resize(places_before_);
  differ_count = differ_before_;
  findings.pop_back();
}

void FrameComparison::left_out(LeftOutKind kind, uint32_t frame, const char* text, size_t at) {
  const uint32_t line = kind == LeftOutKind::kFrameLongerThanRead ? 0 : lines_.of(text, at);
  places.push_back({kind, frame, line});
}

std::string MeshDifference::parts() const {
  std::vector<std::string> names;
  if (header) names.push_back("the header");
  if (differing_triangle_count > 0) {
    std::string name = "triangle " + std::to_string(first_differing_triangle);
    if (differing_triangle_count > 1)
      name += " (and " + std::to_string(differing_triangle_count - 1) + " more)";
    names.push_back(name);
  }
  if (trailing_records) names.push_back("the trailing records");
  std::string text;
  for (size_t i = 0; i < names.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
  }
  const bool plural = names.size() > 1 || trailing_records || differing_triangle_count > 1;
  return text + (plural ? " differ" : " differs");
}

// Compares the whole of `mesh` with the mesh file frameconv writes of
// `triangles` and `vertex_count`: the 48-byte header, each triangle record
// (one the other file does not have differs too) and the three trailing
// records. The file is known to be of the mesh layout.
MeshDifference compare_mesh_file(const Mesh& mesh, const TriangleTable& triangles, uint32_t vertex_count) {
  MeshDifference difference;
  uint8_t header[kMeshHeaderBytes];
  put_mesh_header(header, triangles.triangle_count, static_cast<uint16_t>(vertex_count));
  difference.header = std::memcmp(mesh.data, header, kMeshHeaderBytes) != 0;
  const uint8_t* records = mesh.data + kMeshHeaderBytes;
  const uint32_t count = std::max<uint32_t>(mesh.triangle_count, triangles.triangle_count);
  for (uint32_t t = 0; t < count; ++t) {
    const bool differs =
        t >= mesh.triangle_count || t >= triangles.triangle_count ||
        std::memcmp(records + size_t{t} * kTriangleRecordBytes,
                    triangles.bytes + size_t{t} * kTriangleRecordBytes, kTriangleRecordBytes) != 0;
    if (!differs) continue;
    if (difference.differing_triangle_count++ == 0) difference.first_differing_triangle = t;
  }
  // note: frameconv writes the three records after the last as zero bytes.
  const uint8_t* trailing = records + size_t{mesh.triangle_count} * kTriangleRecordBytes;
  difference.trailing_records = std::any_of(trailing, trailing + kTrailingRecords * kTriangleRecordBytes,
                                            [](uint8_t b) { return b != 0; });
  return difference;
}

const char* const kLeftOutKeys[kLeftOutKinds] = {
    "vertices_not_read_as_written", "faces_not_read_in_full",  "faces_past_the_limit",
    "frames_with_more_vertices",    "frames_longer_than_read",
};

Failure compare_conversion(const fs::path& dir, Check& check) {
  std::error_code error;
  if (!fs::is_directory(dir, error)) {
    // A name too long, or a directory above that cannot be searched.
    const bool unreadable =
        error && error != std::errc::no_such_file_or_directory && error != std::errc::not_a_directory;
    return failure(unreadable ? "cannot read " + utf8_of(dir) : utf8_of(dir) + " is not a directory");
  }
  Conversion conversion;
  if (Failure read = read_conversion(dir, conversion)) return read;
  const Animation& animation = conversion.animation;
  const Mesh& mesh = conversion.mesh;
  check.animation = animation;
  check.mesh = mesh;

  FrameComparison comparison(animation);
  SourceFrames source;
  if (Failure read = read_source_frames(dir, comparison, source)) return read;
  if (source.missing) return failure("cannot find " + shown(dir, kFirstFrameName));
  if (comparison.read_failure) return comparison.read_failure;
  check.frame_count = source.frame_count;
  check.vertex_count = source.vertex_count;
  check.stopped = source.stopped;
  check.notes = source.notes;
  check.source_triangle_count = source.triangles->triangle_count;
  check.same_vertex_count = comparison.same_vertex_count;
  check.same_frame_count = animation.frame_count == source.frame_count;
  check.mesh_difference = compare_mesh_file(mesh, *source.triangles, source.vertex_count);
  check.same_faces = check.mesh_difference.differing_triangle_count == 0 &&
                     mesh.vertices_per_frame == source.vertex_count &&
                     mesh.triangle_count == source.triangles->triangle_count;

  check.findings = std::move(comparison.findings);
  if (check.same_vertex_count) {
    check.compared_count = std::min<uint32_t>(source.frame_count, animation.frame_count);
    for (uint32_t f = 0; f < check.compared_count; ++f) {
      const FrameFindings& found = check.findings[f];
      for (int axis = 0; axis < 3; ++axis) {
        check.total.largest_error[axis] =
            std::max(check.total.largest_error[axis], found.largest_error[axis]);
      }
      check.total.wrapped_count += found.wrapped_count;
    }
  }
  double low[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, high[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  for (const FrameFindings& found : check.findings) {
    for (int axis = 0; axis < 3; ++axis) {
      low[axis] = std::min(low[axis], found.low[axis]);
      high[axis] = std::max(high[axis], found.high[axis]);
    }
  }
  check.advice = advise_export_scale(low, high);
  check.wrapped = std::move(comparison.wrapped);
  check.differ_count = comparison.differ_count;
  check.indices = indices_out_of_range(mesh, source.vertex_count);
  check.left_out = std::move(comparison.places);
  for (int kind = 0; kind < kLeftOutKinds; ++kind)
    check.left_out_counts[kind] = source.sequence.left_out[kind].count;
  check.problems = problems_of(check);
  return {};
}

std::vector<Problem> problems_of(const Check& check) {
  std::vector<Problem> problems;
  auto add = [&](const char* key, uint64_t count, const char* one, const char* many) {
    if (count > 0) problems.push_back({key, count, counted(count, one, many)});
  };
  add("frame_sequence_not_converted", !check.stopped.empty(), "frame sequence frameconv cannot convert", "");
  add("vertex_animation_file_of_other_frames", !check.same_vertex_count || !check.same_frame_count,
      "vertex animation file of other frames", "");
  add("mesh_file_of_other_faces", !check.same_faces, "mesh file of other faces", "");
  add("mesh_file_not_as_written", check.same_faces && !check.mesh_difference.same(),
      "mesh file not as frameconv writes it", "");
  add("wrapped_coordinates", check.wrapped.size(), "wrapped coordinate", "wrapped coordinates");
  add("vertices_stored_otherwise", check.differ_count, "vertex stored otherwise",
      "vertices stored otherwise");
  add("face_indices_out_of_range", check.indices.size(), "face index out of range",
      "face indices out of range");
  for (int kind = 0; kind < kLeftOutKinds; ++kind) {
    const uint32_t count = check.left_out_counts[kind];
    char words[kLeftOutWordsBytes];
    left_out_words(static_cast<LeftOutKind>(kind), count, check.vertex_count, words);
    add(kLeftOutKeys[kind], count, words, words);
  }
  return problems;
}
