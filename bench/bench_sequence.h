// Benchmark input: animated mesh sequences written the way a 3D package
// exports them, one Wavefront OBJ text per frame, and vertex animation clips.
//
// The mesh is a grid of columns x rows vertices (the last row may be short),
// rippling over the frames. Each frame's text is, in order:
//
//   2 comment lines, then "o", "g", "usemtl" and "s" lines
//   separate layout:    V "v x y z", then V "vt u v", then V "vn x y z" lines
//   interleaved layout: per vertex one "v", one "vn" and one "vt" line
//   then one "f a/a/a b/b/b c/c/c" line per triangle, two per grid cell
//
// Every number has six decimals; positions lie within -100..100, with single
// spaces between them. note: no line but a "v" line holds the bytes "v " and
// none but an "f" line holds "f ", since frameconv's searches are not
// anchored to line starts.
//
// Everything is a pure function of the shape and the seed: the same arguments
// give the same bytes on every run.
#pragma once

#include <cstdint>
#include <string>

#include "clipmerge.h"

enum class Layout { kSeparate, kInterleaved };

struct SequenceShape {
  uint32_t frame_count;   // at least 1
  uint32_t vertex_count;  // at least 1
  Layout layout;
  uint64_t seed;
};

// The grid a vertex count is laid out on: columns = ceil(sqrt(V)) and as many
// rows as needed; vertex i sits at column i % columns, row i / columns.
struct Grid {
  uint32_t columns;
  uint32_t rows;
};
Grid grid_of(uint32_t vertex_count);

// Triangles of the mesh: two for each grid cell whose four corners exist,
// about 2 x V.
uint32_t triangle_count(uint32_t vertex_count);

// A position in millionths, so that the text and the tests agree exactly.
struct MicroPosition {
  int64_t x, y, z;
};

// Where `vertex` is at `frame`: each axis within -100,000,000..100,000,000.
MicroPosition vertex_position(const SequenceShape& shape, uint32_t frame, uint32_t vertex);

// Appends the whole OBJ text of `frame` to `text`.
void append_frame_text(const SequenceShape& shape, uint32_t frame, std::string& text);

// Vertex animation clips a1.3d .. a67.3d, in the layout of aniv00.3d (u16 frame
// count, u16 bytes per frame, then the packed words), each holding whole
// frames of one kClipVertexCount-vertex mesh, so that all share one bytes per
// frame. Each clip's size is its share of all the clip limits together, scaled
// so that the 67 clips just fit the merge buffer: the long clips a1 .. a21
// hold three times what the short ones do, and every clip lies at the same
// fraction of its own limit. The limits themselves are not the bound: 67
// clips at their limits would hold 54,500,000 bytes.
constexpr uint32_t kClipVertexCount = 2000;  // 8,000 bytes per frame

// The frames clip `clip` (1 .. kClipCount of clipmerge.h) holds.
uint32_t clip_frame_count(int clip);

// Appends the whole file of clip `clip` to `bytes`.
void append_clip_bytes(int clip, uint64_t seed, std::string& bytes);
