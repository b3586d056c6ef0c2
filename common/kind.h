// Which kind of .3d file a file is. Neither layout has a magic number, so the
// kind is decided from the file's size and the header fields each layout
// fixes: a vertex animation file is its 4-byte header and exactly the frames
// it announces, of whole packed words; a mesh file is its 48-byte header with
// the twelve fixed fields and exactly triangle count + 3 records.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mesh_format.h"
#include "vertex_animation.h"

enum class FileKind { kNeither, kVertexAnimation, kMesh, kBoth };

// The most of a file's first bytes the decision looks at.
constexpr size_t kKindHeadBytes = kMeshHeaderBytes;

// A file's first bytes decoded once: its kind, and its first four bytes as
// each layout's header reads them (all 0 when there are fewer).
struct FileHead {
  FileKind kind = FileKind::kNeither;
  AnimationHeader animation;
  MeshHeader mesh;
};

// Decodes the head of a file of `file_bytes` bytes whose first
// min(file_bytes, kKindHeadBytes) bytes are `head` (`head_bytes` of them), and
// decides its kind. Both layouts fit a few rare sizes at once (23 triangles of
// 20 vertices: 464 bytes, also 23 frames of 5 vertices); that is kBoth.
FileHead read_file_head(const uint8_t* head, size_t head_bytes, uint64_t file_bytes);
