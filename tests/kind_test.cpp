// Telling the two .3d layouts, and foreign files, apart.
#include "kind.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "run.h"

namespace {

std::string mesh_file(uint16_t triangle_count, uint16_t vertices_per_frame) {
  uint8_t header[kMeshHeaderBytes];
  put_mesh_header(header, triangle_count, vertices_per_frame);
  return std::string(reinterpret_cast<const char*>(header), sizeof header) +
         std::string(kTriangleRecordBytes * (triangle_count + kTrailingRecords), '\0');
}

std::string animation_file(uint16_t frame_count, uint16_t bytes_per_frame) {
  return u16le(frame_count) + u16le(bytes_per_frame) +
         std::string(size_t{frame_count} * bytes_per_frame, 'w');
}

std::string with_byte(std::string bytes, size_t offset, char value) {
  bytes[offset] = value;
  return bytes;
}

FileKind kind(const std::string& bytes) {
  return read_file_head(reinterpret_cast<const uint8_t*>(bytes.data()),
                        std::min(bytes.size(), kKindHeadBytes), bytes.size())
      .kind;
}

struct KindCase {
  std::string bytes;
  FileKind kind;
  const char* why;
};

TEST(FileKind, FromSizesAndTheMeshHeadersFixedFields) {
  const std::string mesh = mesh_file(2, 4);
  const std::string animation = animation_file(7, 20);
  const KindCase cases[] = {
      {animation, FileKind::kVertexAnimation, "7 frames of 5 vertices"},
      {animation.substr(0, animation.size() - 1), FileKind::kNeither, "a vertex animation file cut short"},
      {animation + "x", FileKind::kNeither, "one byte past the frames"},
      {animation_file(1, 4), FileKind::kVertexAnimation, "one frame of one vertex"},
      {u16le(0) + u16le(200), FileKind::kVertexAnimation, "a header announcing no frames"},
      {animation_file(3, 6), FileKind::kNeither, "frames of a word and a half"},
      {u16le(5) + u16le(0), FileKind::kNeither, "frames of no vertices"},
      {mesh, FileKind::kMesh, "2 triangles of 4 vertices"},
      {mesh_file(0, 1), FileKind::kMesh, "no triangles: header and three empty records"},
      {mesh.substr(0, mesh.size() - 16), FileKind::kNeither, "a trailing record missing"},
      {mesh + std::string(16, '\0'), FileKind::kNeither, "a record too many"},
      {with_byte(mesh, 27, 0x7E), FileKind::kNeither, "the infinity field changed"},
      {with_byte(mesh, 6, 0), FileKind::kNeither, "the 1 at offset 6 changed"},
      {mesh_file(23, 20), FileKind::kBoth, "464 bytes: also 23 frames of 20 bytes"},
      {mesh_file(1, 108), FileKind::kBoth, "112 bytes: also 1 frame of 108 bytes"},
      {"", FileKind::kNeither, "an empty file"},
      {"abc", FileKind::kNeither, "shorter than either header"},
      {"# twisting box\nv 12 0 12\nv 0 0 12\n", FileKind::kNeither, "an OBJ file"},
      {std::string(96, '\0'), FileKind::kNeither, "96 zero bytes: a mesh's size, not its fields"},
  };
  for (const KindCase& c : cases) {
    EXPECT_EQ(kind(c.bytes), c.kind) << c.why;
  }
}

}  // namespace
