// The mesh file "data00.3d": the triangles of the first frame. All fields
// little-endian, no gaps:
//
//   mesh header, 48 bytes
//   offset  size  content
//   0       2     triangle count, unsigned
//   2       2     vertices per frame, unsigned
//   4       2     0
//   6       2     1
//   8       4     0x00010000
//   12      4     0
//   16      4     0
//   20      4     0x01000000
//   24      4     0x7F800000 (the bit pattern of +infinity as a float)
//   28      4     0x3F800000 (1.0 as a float)
//   32      4     0x00010000
//   36      4     0
//   40      4     0
//   44      4     0
//
//   then triangle count + 3 triangle records, 16 bytes each
//   offset  size  content
//   0       2     first vertex index: abs(a) - 1, low 16 bits
//   2       2     second vertex index: abs(b) - 1
//   4       2     third vertex index: abs(c) - 1
//   6       1     1
//   7       1     cycle byte: 1, 2, ..., 42, then 2, 3, ..., 42 again
//   8       8     0, 0x80, 0, 0x94, 2, 0x80, 0, 0
//
// a, b and c are the face's first three vertex references as written: a
// relative reference -5 is taken as 5, and indices are not checked against the
// vertex count. note: the three records after the last triangle are written as
// zero bytes; the engine's reader expects them to be there.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kMeshHeaderBytes = 48;
constexpr size_t kTriangleRecordBytes = 16;

// The triangle pass reads at most this many faces, and the table holds every
// one of them plus the three records written after the last.
constexpr uint32_t kTriangleLimit = 10000;
constexpr uint32_t kTrailingRecords = 3;

struct TriangleTable {
  uint16_t triangle_count;
  uint8_t bytes[(kTriangleLimit + kTrailingRecords) * kTriangleRecordBytes];
};

// The triangle pass: one record for each "f " of the first frame's text, at
// most 10,000, with the three records after the last set to zero.
void scan_triangles(const char* data, size_t end, TriangleTable& table);

// Creates or truncates `name` and writes the mesh header and triangle count + 3
// records. Checks every write, the flush and the close; on failure removes the
// partial file and returns false.
bool write_mesh_file(const char* name, uint16_t vertices_per_frame, const TriangleTable& table);
