#include <algorithm>
#include <cstdio>
#include <vector>

#include "commands.h"
#include "output.h"
#include "platform.h"

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
  for (uint32_t frame = 0; frame <= 999 && file_identity(frame_file_name(frame).c_str(), identity); ++frame) {
    identities.push_back(identity);
  }
  return identities;
}

bool write_output(const std::string& file, const std::string& bytes) {
  FileIdentity identity;
  if (file_identity(file.c_str(), identity) &&
      std::find(inputs().begin(), inputs().end(), identity) != inputs().end()) {
    std::fprintf(stderr, "inspect3d: %s is a file this command reads; it is not written over\n",
                 file.c_str());
    return false;
  }
  return write_output_file(file.c_str(), reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
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

std::string counted(uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string frames_of(uint32_t frame_count, uint32_t vertex_count) {
  return counted(frame_count, "frame", "frames") + " of " + counted(vertex_count, "vertex", "vertices");
}

void say_left_out(uint32_t left_out, uint32_t vertex_count) {
  std::fprintf(
      stderr,
      "inspect3d: left out %u %s with a vertex index at or beyond %u (inspect3d info %s lists them)\n",
      left_out, left_out == 1 ? "triangle" : "triangles", vertex_count, kMeshName);
}

uint32_t count_indices_out_of_range(const Mesh& mesh, uint32_t vertex_count) {
  uint32_t count = 0;
  for (uint32_t t = 0; t < mesh.triangle_count; ++t) {
    for (uint16_t index : triangle_at(mesh, t)) count += index >= vertex_count;
  }
  return count;
}

uint32_t list_indices_out_of_range(const Mesh& mesh, uint32_t vertex_count, const char* indent) {
  uint32_t count = 0;
  for (uint32_t t = 0; t < mesh.triangle_count; ++t) {
    const Triangle triangle = triangle_at(mesh, t);
    for (int corner = 0; corner < 3; ++corner) {
      if (triangle[corner] < vertex_count) continue;
      std::printf("%striangle %u corner %d: index %u\n", indent, t, corner, triangle[corner]);
      ++count;
    }
  }
  return count;
}
