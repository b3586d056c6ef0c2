#include "mesh_format.h"

#include <cstring>

#include "le.h"

void put_mesh_header(uint8_t (&header)[kMeshHeaderBytes], uint16_t triangle_count,
                     uint16_t vertices_per_frame) {
  put_u16(put_u16(header, triangle_count), vertices_per_frame);
  for (const MeshHeaderField& field : kMeshHeaderFixedFields) {
    if (field.bytes == 2) {
      put_u16(header + field.offset, static_cast<uint16_t>(field.value));
    } else {
      put_u32(header + field.offset, field.value);
    }
  }
}

void put_triangle_record(uint8_t* record, const uint16_t (&indices)[3], uint8_t cycle) {
  uint8_t* p = put_u16(put_u16(put_u16(record, indices[0]), indices[1]), indices[2]);
  *p++ = kRecordFlag;
  *p++ = cycle;
  std::memcpy(p, kRecordTail, sizeof kRecordTail);
}

bool has_mesh_header_fields(const uint8_t* data, size_t length) {
  if (length < kMeshHeaderBytes) return false;
  for (const MeshHeaderField& field : kMeshHeaderFixedFields) {
    uint32_t value = 0;
    if (field.bytes == 2) {
      uint16_t half = 0;
      get_u16(data, length, field.offset, half);
      value = half;
    } else {
      get_u32(data, length, field.offset, value);
    }
    if (value != field.value) return false;
  }
  return true;
}

bool get_mesh_header(const uint8_t* data, size_t length, MeshHeader& header) {
  uint16_t triangle_count = 0, vertices_per_frame = 0;
  if (!get_u16(data, length, 0, triangle_count) || !get_u16(data, length, 2, vertices_per_frame))
    return false;
  header = {triangle_count, vertices_per_frame};
  return true;
}

Triangle triangle_at(const uint8_t* data, size_t length, uint32_t triangle) {
  Triangle indices = {0, 0, 0};
  const size_t offset = kMeshHeaderBytes + size_t{triangle} * kTriangleRecordBytes;
  if (offset > length || length - offset < kTriangleRecordBytes) return indices;
  for (size_t i = 0; i < 3; ++i) get_u16(data, length, offset + 2 * i, indices[i]);
  return indices;
}
