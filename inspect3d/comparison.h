// inspect3d check's comparison: aniv00.3d and data00.3d against what
// frameconv makes of the frames anima000.obj, ... beside them, as plain data
// that the report prints as text or as JSON.
#pragma once

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "conversion.h"
#include "export_scale.h"

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
  // The smallest and largest source coordinate of each axis.
  double low[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL};
  double high[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
};

// Compares the source vertices of each frame, as the scanner visits them,
// with the frame's words in the vertex animation file.
class FrameComparison : public SourceVisitor {
 public:
  explicit FrameComparison(const Animation& animation) : animation_(animation) {}

  std::vector<Wrapped> wrapped;
  std::vector<FrameFindings> findings;  // of each frame visited and not dropped
  uint64_t differ_count = 0;            // words that are not what frameconv makes of the source
  bool same_vertex_count = false;
  bool read_failed = false;  // a frame of the file could not be read (said on standard error)

  void begin_frame(uint32_t frame, uint32_t vertex_count, const char* text) override {
    same_vertex_count = vertex_count == animation_.vertex_count;
    // Words are compared only once the vertex counts are known to agree.
    compare_ = same_vertex_count && frame < animation_.frame_count;
    // One frame of the file at a time, as the source frames come.
    if (compare_ && !read_frames(animation_, frame, 1, frame_bytes_)) {
      read_failed = true;
      compare_ = false;
    }
    frame_ = frame;
    text_ = text;
    vertex_ = 0;
    line_at_ = 0;
    line_ = 1;
    wrapped_before_ = wrapped.size();
    differ_before_ = differ_count;
    findings.push_back({});
  }

  void vertex(size_t at, double x, double y, double z) override {
    FrameFindings& found = findings.back();
    const double source[3] = {x, y, z};
    for (int axis = 0; axis < 3; ++axis) {
      found.low[axis] = std::min(found.low[axis], source[axis]);
      found.high[axis] = std::max(found.high[axis], source[axis]);
    }
    if (!compare_) return;
    const uint32_t word = word_in_frame(frame_bytes_.data(), frame_bytes_.size(), vertex_);
    if (word != pack_vertex(x, y, z)) ++differ_count;
    const Position p = unpack_vertex(word);
    const double stored[3] = {p.x, p.y, p.z};
    for (int axis = 0; axis < 3; ++axis) {
      if (packs_in_range(source[axis], axis)) {
        found.largest_error[axis] =
            std::max(found.largest_error[axis], std::fabs(source[axis] - stored[axis]));
        continue;
      }
      for (; line_at_ < at; ++line_at_) line_ += text_[line_at_] == '\n';
      wrapped.push_back({frame_, vertex_, axis, source[axis], stored[axis], line_});
      ++found.wrapped_count;
    }
    ++vertex_;
  }

  // What is read of a frame frameconv stops at counts for nothing.
  void drop_frame() override {
    wrapped.resize(wrapped_before_);
    differ_count = differ_before_;
    findings.pop_back();
  }

 private:
  const Animation& animation_;
  std::vector<uint8_t> frame_bytes_;  // the words of the frame at hand
  const char* text_ = nullptr;
  uint32_t frame_ = 0;
  uint32_t vertex_ = 0;
  size_t line_at_ = 0;  // the line count is kept up to this offset
  uint32_t line_ = 1;
  bool compare_ = false;  // false for a frame the file does not hold
  size_t wrapped_before_ = 0;
  uint64_t differ_before_ = 0;
};

// Where a mesh file differs from the one frameconv writes of the same frame.
struct MeshDifference {
  bool header = false;
  uint32_t first_differing_triangle = 0;
  uint32_t differing_triangle_count = 0;
  bool trailing_records = false;

  bool same() const { return !header && differing_triangle_count == 0 && !trailing_records; }

  // "the header, triangle 4 (and 2 more) and the trailing records differ".
  std::string parts() const;
};

// Compares the whole of `mesh` with the mesh file frameconv writes of
// `triangles` and `vertex_count`: the 48-byte header, each triangle record
// (one the other file does not have differs too) and the three trailing
// records. The file is known to be of the mesh layout.
MeshDifference compare_mesh_file(const Mesh& mesh, const TriangleTable& triangles, uint32_t vertex_count);

// One kind of problem check counts, for its result line: a name for scripts
// ("wrapped_coordinates"), the count and its words ("2 wrapped coordinates").
struct Problem {
  const char* key;
  uint64_t count;
  std::string words;
};

// Everything check found.
struct Check {
  // What was read.
  uint32_t frame_count = 0, vertex_count = 0;  // of the source frames
  std::string stopped;                         // why frameconv would write nothing, if it would
  std::vector<std::string> notes;              // what frameconv never looks at
  AnimationHeader animation;
  MeshHeader mesh;
  uint16_t source_triangle_count = 0;
  // Whether the outputs are the conversion of the frames.
  bool same_vertex_count = false, same_frame_count = false, same_faces = false;
  MeshDifference mesh_difference;
  // Fidelity: the frames compared, each with its largest error per axis.
  std::vector<FrameFindings> findings;  // every frame read, compared or not
  uint32_t compared_count = 0;          // the first frames, held by both
  FrameFindings total;                  // over the frames compared
  std::vector<Wrapped> wrapped;
  uint64_t differ_count = 0;  // words that are not what frameconv makes of the source
  std::vector<FaceIndexOutOfRange> indices;
  std::vector<LeftOutPlace> left_out;
  uint32_t left_out_counts[kLeftOutKinds] = {};
  ExportAdvice advice;
  std::vector<Problem> problems;  // those with a count above 0, in the order of the result line
};

// Compares the conversion in `dir` with its source frames. kOk when the
// comparison was made (whatever it found); kBadUsage when a file cannot be
// read, said on standard error.
int compare_conversion(const std::filesystem::path& dir, Check& check);

// The problems of a comparison, in the order of check's result line; only
// those with a count above 0. Pure: from the other fields of `check`.
std::vector<Problem> problems_of(const Check& check);

// The keys of the left-out kinds, in their order.
extern const char* const kLeftOutKeys[kLeftOutKinds];
