// A conversion as an animated binary glTF 2.0 file (.glb), written through
// tinygltf's model types:
//
//   one node, "aniv00", of one mesh with one triangle primitive: POSITION is
//     the first frame written as the engine reads it; the indices are the
//     triangle records in order, less those with an index at or beyond the
//     vertex count
//   each later frame written: one morph target of POSITION displacements
//     from the base, named in the mesh's extras.targetNames ("frame001", ...:
//     the frame numbers of the file)
//   one animation per GltfAnimation, named as it is: one weights channel,
//     STEP interpolation, keyframe k at k / fps seconds showing frame
//     first + k (weight 1 on its target, 0 on all others; the base frame all
//     0)
//
// Positions, by the encoding:
//
//   kQuantized  KHR_mesh_quantization (in extensionsUsed and
//               extensionsRequired): SHORT base positions, the packed fields
//               as whole numbers (x and y in eighths, z in quarters), SHORT
//               displacements of them, and the node's scale (1/8, 1/8, 1/4):
//               every position a viewer computes is exactly the engine's
//   kFloat      FLOAT positions in model units, no extension, no scale
//
// A target whose displacements are mostly 0 is a sparse accessor of the
// vertices that move, where that is smaller than the dense one; one with none
// has no data at all (glTF reads it as zeros). Likewise each animation's
// weights, where one keyframe in a target count is 1. Accessors of one kind
// share a buffer view, each at its own offset, and the keyframe times are
// one list whose first K serve every animation of K keyframes.
//
// Every accessor's min and max come from the values written. A mesh with no
// triangle in range is written as points, a single frame without targets or
// animation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "conversion.h"

// The most frames one file holds: the weights grow with the square of the
// frame count.
constexpr uint32_t kGltfFrameLimit = 1000;

enum class GltfEncoding { kQuantized, kFloat };

// One animation of the file: its name and the frames of the file it plays,
// first to last.
struct GltfAnimation {
  std::string name;
  uint32_t first = 0;
  uint32_t last = 0;
};

// What a .glb holds: animations in frame order, none overlapping another,
// each within the file; their frames together at most kGltfFrameLimit; fps >
// 0.
struct GltfPlan {
  std::vector<GltfAnimation> animations;
  bool clips = false;  // the animations are clips of clips.json, not the one take
  double fps = 30;
  GltfEncoding encoding = GltfEncoding::kQuantized;
};

// The frames `plan` writes, in order: each animation's, first to last.
std::vector<uint32_t> frames_written(const GltfPlan& plan);

// A .glb file in two pieces, so that its binary data is never copied: `head`
// (the 12-byte header, the JSON chunk and the 8-byte header of the binary
// chunk) and `bin`, the binary chunk's data, padded to 4 bytes.
struct Glb {
  std::string head;
  std::vector<unsigned char> bin;
};

// The .glb of `animation` (whose vertex count the mesh's indices refer to)
// and `mesh` as `plan` says, byte for byte what tinygltf writes of the model;
// `left_out_count` is set to the number of triangles left out for an index
// out of range. Fails if a frame cannot be read or the library fails.
Failure make_glb(const Animation& animation, const Mesh& mesh, const GltfPlan& plan, Glb& glb,
                 uint32_t& left_out_count);
