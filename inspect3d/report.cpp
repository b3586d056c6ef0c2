#include <cstdio>

#include "commands.h"

std::string counted(uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string frames_of(uint32_t frame_count, uint32_t vertex_count) {
  return counted(frame_count, "frame", "frames") + " of " + counted(vertex_count, "vertex", "vertices");
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
