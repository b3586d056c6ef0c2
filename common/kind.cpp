#include "kind.h"

#include "le.h"
#include "vertex_animation.h"

FileKind file_kind(const uint8_t* head, size_t head_bytes, uint64_t file_bytes) {
  uint16_t first = 0, second = 0;
  const bool has_header = get_u16(head, head_bytes, 0, first) && get_u16(head, head_bytes, 2, second);
  const bool animation = has_header && fits_vertex_animation_layout(file_bytes, first, second);
  const bool mesh = has_mesh_header_fields(head, head_bytes) && file_bytes == mesh_file_bytes(first);
  if (animation && mesh) return FileKind::kBoth;
  if (animation) return FileKind::kVertexAnimation;
  if (mesh) return FileKind::kMesh;
  return FileKind::kNeither;
}
