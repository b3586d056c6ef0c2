// The triangle pass and the writing of the mesh file "data00.3d" (its layout:
// mesh_format.h). The triangles come from the first frame only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mesh_format.h"
#include "scan.h"

// The triangle pass reads at most this many faces, and the table holds every
// one of them plus the three records written after the last.
constexpr uint32_t kTriangleLimit = 10000;

struct TriangleTable {
  uint16_t triangle_count;
  uint8_t bytes[(kTriangleLimit + kTrailingRecords) * kTriangleRecordBytes];
};

// The triangle pass: one record for each "f " of the first frame's text, at
// most 10,000, with the three records after the last set to zero. Counts in
// `indices` each index at or beyond `vertex_count`, taken in 32 bits before it
// is cut to the record's 16 (a reference of 0 or 65537 counts). Tells
// `left_out` of each face that goes on with a fourth reference and, when the
// pass stops at its limit, of each further "f " of the text.
void scan_triangles(const char* data, size_t end, uint32_t vertex_count, TriangleTable& table,
                    OutOfRange& indices, LeftOutNote left_out = {});

// Creates or truncates `name` and writes the mesh header and triangle count + 3
// records. Checks every write, the flush and the close; on failure removes the
// partial file and returns false.
bool write_mesh_file(const char* name, uint16_t vertices_per_frame, const TriangleTable& table);
