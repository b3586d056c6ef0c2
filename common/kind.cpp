#include "kind.h"

FileHead read_file_head(const uint8_t* head, size_t head_bytes, uint64_t file_bytes) {
  FileHead read;
  const bool has_header = get_animation_header(head, head_bytes, read.animation);
  get_mesh_header(head, head_bytes, read.mesh);
  const bool animation = has_header && fits_vertex_animation_layout(file_bytes, read.animation.frame_count,
                                                                    read.animation.bytes_per_frame);
  const bool mesh =
      has_mesh_header_fields(head, head_bytes) && file_bytes == mesh_file_bytes(read.mesh.triangle_count);
  read.kind = animation && mesh ? FileKind::kBoth
              : animation       ? FileKind::kVertexAnimation
              : mesh            ? FileKind::kMesh
                                : FileKind::kNeither;
  return read;
}
