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

// The line of offsets asked in rising order, counted on from the last asked;
// an offset before it starts the count again.
struct LineCount {
  size_t at = 0;
  uint32_t line = 1;
  uint32_t of(const char* text, size_t offset);
};

// Compares the source vertices of each frame, as read_frame_sequence hands
// them over (the Frames of frameconv's sequence.h), with the frame's words in
// the vertex animation file, and keeps the place of each thing left out.
// The first frame is compared as it comes, before its vertex count is known;
// should the count differ from the file's, what it found of the words is
// taken back.
class FrameComparison {
 public:
  explicit FrameComparison(const Animation& animation) : animation_(animation) {}

  std::vector<Wrapped> wrapped;
  std::vector<FrameFindings> findings;  // of each frame read and not dropped
  uint64_t differ_count = 0;            // words that are not what frameconv makes of the source
  bool same_vertex_count = false;
  Failure read_failure;              // a frame of the file could not be read
  std::vector<LeftOutPlace> places;  // of each thing the reading left out, in the order read

  void begin_frame(uint32_t frame, const char* text);
  void vertex(const Vertex& vertex);
  void end_frame(uint32_t frame, uint32_t vertex_count);
  void drop_frame();
  void left_out(LeftOutKind kind, uint32_t frame, const char* text, size_t at);

 private:
  const Animation& animation_;
  std::vector<uint8_t> frame_bytes_;  // the words of the frame at hand
  const char* text_ = nullptr;
  uint32_t frame_ = 0;
  uint32_t vertex_ = 0;
  LineCount lines_;
  bool compare_ = false;  // false for a frame the file does not hold
  Failure first_unread_;  // the file's first frame could not be read: it counts only if compared
  size_t wrapped_before_ = 0, places_before_ = 0;
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

// Compares the conversion in the directory `dir` with its source frames,
// whatever it finds; fails when `dir` is no directory, a file cannot be read
// or there is no source frame.
Failure compare_conversion(const std::filesystem::path& dir, Check& check);

// The problems of a comparison, in the order of check's result line; only
// those with a count above 0. Pure: from the other fields of `check`.
std::vector<Problem> problems_of(const Check& check);

// The keys of the left-out kinds, in their order.
extern const char* const kLeftOutKeys[kLeftOutKinds];
