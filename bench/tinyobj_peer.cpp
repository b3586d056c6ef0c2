// The peer: tinyobjloader, a general OBJ loader, loading each named frame file
// in full (positions, texture coordinates, normals, faces, triangulated), one
// after another, each frame's data freed before the next.
//
//   tinyobj_peer FILE...   prints "<vertices> vertices, <faces> faces, <files> files"
//
// Exit status 0, or 1 when tinyobjloader reports an error.
#include <tiny_obj_loader.h>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  unsigned long long vertex_count = 0, face_count = 0;
  for (int i = 1; i < argc; ++i) {
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warning, error;
    if (!tinyobj::LoadObj(&attrib, &shapes, &materials, &warning, &error, argv[i])) {
      std::fprintf(stderr, "tinyobj_peer: %s: %s\n", argv[i], error.c_str());
      return 1;
    }
    vertex_count += attrib.vertices.size() / 3;
    for (const tinyobj::shape_t& shape : shapes) face_count += shape.mesh.num_face_vertices.size();
  }
  std::printf("%llu vertices, %llu faces, %d files\n", vertex_count, face_count, argc - 1);
  return 0;
}
