// A conversion as an animated binary glTF 2.0 file (.glb), written through
// tinygltf's model types:
//
//   one mesh, one triangle primitive: POSITION is frame `first` as the engine
//     reads it, in model units; the indices are the triangle records in order,
//     less those with an index at or beyond the vertex count
//   each later frame of the range: one morph target of POSITION displacements
//     from the base, named in the mesh's extras.targetNames ("frame001", ...:
//     the frame numbers of the file)
//   one animation, "frames": one weights channel, STEP interpolation, one
//     keyframe per frame at (frame - first) / fps seconds, weight 1 on that
//     frame's target and 0 on all others; the first keyframe is all 0
//
// Every accessor's min and max come from the values written. A mesh with no
// triangle in range is written as points, a range of one frame without
// targets or animation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "conversion.h"

// The most frames one file holds: the weights grow with the square of the
// frame count.
constexpr uint32_t kGltfFrameLimit = 1000;

// The frames written and their rate. first <= last < the animation's frame
// count, last - first < kGltfFrameLimit, fps > 0.
struct GltfRange {
  uint32_t first;
  uint32_t last;
  double fps;
};

// A .glb file in two pieces, so that its binary data is never copied: `head`
// (the 12-byte header, the JSON chunk and the 8-byte header of the binary
// chunk) and `bin`, the binary chunk's data, padded to 4 bytes.
struct Glb {
  std::string head;
  std::vector<unsigned char> bin;
};

// The .glb of `animation` (whose vertex count the mesh's indices refer to)
// and `mesh` over `range`, byte for byte what tinygltf writes of the model;
// `left_out_count` is set to the number of triangles left out for an index
// out of range. Fails if a frame cannot be read or the library fails (which
// says nothing of its own).
Failure make_glb(const Animation& animation, const Mesh& mesh, const GltfRange& range, Glb& glb,
                 uint32_t& left_out_count);

// The two pieces joined: the whole file.
std::string glb_bytes(const Glb& glb);
