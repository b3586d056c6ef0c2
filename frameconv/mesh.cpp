#include "mesh.h"

#include <cstring>

#include "output.h"
#include "scan.h"

// The cycle byte runs 1, 2, ..., 42 and then wraps to 2, not 1.
constexpr uint8_t kCycleLast = 42;
constexpr uint8_t kCycleRestart = 2;

// abs(reference) - 1 in 32 bits: 1 becomes 0, 0 becomes 0xFFFFFFFF. The
// record keeps its low 16 bits, so 0 and -2147483648 are stored as 0xFFFF.
static uint32_t vertex_index(int32_t reference) {
  const uint32_t magnitude =
      reference < 0 ? 0u - static_cast<uint32_t>(reference) : static_cast<uint32_t>(reference);
  return magnitude - 1;
}

void scan_triangles(const char* data, size_t end, uint32_t vertex_count, TriangleTable& table,
                    OutOfRange& indices, LeftOutNote left_out) {
  ScanCursor scan{data, end, 0};
  uint8_t cycle = 1;
  uint32_t count = 0;
  // note: not anchored to line starts; any 'f' and a space begin a record,
  // "leaf " in a material name too.
  while (count < kTriangleLimit && find_token(scan, "f ", 2)) {
    const size_t at = scan.cursor - 2;
    int32_t references[3];
    read_face_line(scan, references);
    if (face_goes_on(scan)) left_out(LeftOutKind::kFaceNotInFull, at);
    uint16_t kept[3];
    for (int corner = 0; corner < 3; ++corner) {
      const uint32_t index = vertex_index(references[corner]);
      kept[corner] = static_cast<uint16_t>(index);
      if (index < vertex_count) continue;
      if (indices.count++ == 0) indices.first_line = line_of(data, at);
    }
    put_triangle_record(table.bytes + count * kTriangleRecordBytes, kept, cycle);
    ++count;
    cycle = cycle < kCycleLast ? cycle + 1 : kCycleRestart;
  }
  // note: what the limit leaves out is only counted, from where the pass
  // stopped; the table and the file stay as they are.
  if (count == kTriangleLimit) {
    while (find_token(scan, "f ", 2)) left_out(LeftOutKind::kFacePastLimit, scan.cursor - 2);
  }
  std::memset(table.bytes + count * kTriangleRecordBytes, 0, kTrailingRecords * kTriangleRecordBytes);
  table.triangle_count = static_cast<uint16_t>(count);
}

bool write_mesh_file(const char* name, uint16_t vertices_per_frame, const TriangleTable& table) {
  uint8_t header[kMeshHeaderBytes];
  put_mesh_header(header, table.triangle_count, vertices_per_frame);
  return write_file(name, header, sizeof header, table.bytes,
                    (table.triangle_count + kTrailingRecords) * kTriangleRecordBytes);
}
