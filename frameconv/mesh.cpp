#include "mesh.h"

#include <cassert>
#include <cstring>

#include "le.h"
#include "output.h"
#include "scan.h"

// The cycle byte runs 1, 2, ..., 42 and then wraps to 2, not 1.
constexpr uint8_t kCycleLast = 42;
constexpr uint8_t kCycleRestart = 2;

// abs(reference) - 1 in 32 bits, kept to its low 16: 1 becomes 0, 0 and
// -2147483648 become 0xFFFF.
static uint16_t vertex_index(int32_t reference) {
  const uint32_t magnitude =
      reference < 0 ? 0u - static_cast<uint32_t>(reference) : static_cast<uint32_t>(reference);
  return static_cast<uint16_t>(magnitude - 1);
}

void scan_triangles(const char* data, size_t end, TriangleTable& table) {
  static constexpr uint8_t kRecordTail[] = {0, 0x80, 0, 0x94, 2, 0x80, 0, 0};
  static_assert(3 * 2 + 2 + sizeof kRecordTail == kTriangleRecordBytes, "three indices, 1, cycle, tail");
  ScanCursor scan{data, end, 0};
  uint8_t cycle = 1;
  uint32_t count = 0;
  // note: not anchored to line starts; any 'f' and a space begin a record,
  // "leaf " in a material name too.
  while (count < kTriangleLimit && find_token(scan, "f ", 2)) {
    int32_t references[3];
    read_face_line(scan, references);
    uint8_t* record = table.bytes + count * kTriangleRecordBytes;
    uint8_t* p = put_u16(put_u16(put_u16(record, vertex_index(references[0])), vertex_index(references[1])),
                         vertex_index(references[2]));
    *p++ = 1;
    *p++ = cycle;
    std::memcpy(p, kRecordTail, sizeof kRecordTail);
    ++count;
    cycle = cycle < kCycleLast ? cycle + 1 : kCycleRestart;
  }
  std::memset(table.bytes + count * kTriangleRecordBytes, 0, kTrailingRecords * kTriangleRecordBytes);
  table.triangle_count = static_cast<uint16_t>(count);
}

bool write_mesh_file(const char* name, uint16_t vertices_per_frame, const TriangleTable& table) {
  uint8_t header[kMeshHeaderBytes];
  uint8_t* p = put_u16(header, table.triangle_count);
  p = put_u16(p, vertices_per_frame);
  p = put_u16(p, 0);
  p = put_u16(p, 1);
  p = put_u32(p, 0x00010000);
  p = put_u32(p, 0);
  p = put_u32(p, 0);
  p = put_u32(p, 0x01000000);
  p = put_u32(p, 0x7F800000);
  p = put_u32(p, 0x3F800000);
  p = put_u32(p, 0x00010000);
  p = put_u32(p, 0);
  p = put_u32(p, 0);
  p = put_u32(p, 0);
  assert(p == header + sizeof header);
  return write_file(name, header, sizeof header, table.bytes,
                    (table.triangle_count + kTrailingRecords) * kTriangleRecordBytes);
}
