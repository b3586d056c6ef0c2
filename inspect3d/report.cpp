#include <cstdio>

#include "commands.h"
#include "platform.h"

bool write_output(const std::string& file, const std::string& bytes) {
  const std::string temp = file + ".tmp";
  FILE* out = std::fopen(temp.c_str(), "wb");
  if (!out) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  ok = std::fclose(out) == 0 && ok;
  ok = ok && replace_file(temp.c_str(), file.c_str());
  if (!ok) std::remove(temp.c_str());
  return ok;
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
