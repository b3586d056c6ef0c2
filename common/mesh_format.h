// The mesh file ("data00.3d"): the triangles of the mesh that a vertex
// animation file animates. All fields little-endian, no gaps:
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
//
// There is no magic number: a mesh file is known by its size, 48 + 16 x
// (triangle count + 3) bytes, and by the twelve fixed header fields.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

constexpr size_t kMeshHeaderBytes = 48;
constexpr size_t kTriangleRecordBytes = 16;
constexpr uint32_t kTrailingRecords = 3;

// One fixed field of the mesh header: the same value in every mesh file.
struct MeshHeaderField {
  size_t offset;
  size_t bytes;  // 2 or 4
  uint32_t value;
};

// The header after the triangle count and the vertices per frame, field by
// field as in the table above.
constexpr MeshHeaderField kMeshHeaderFixedFields[] = {
    {4, 2, 0},           {6, 2, 1},           {8, 4, 0x00010000},  {12, 4, 0},
    {16, 4, 0},          {20, 4, 0x01000000}, {24, 4, 0x7F800000}, {28, 4, 0x3F800000},
    {32, 4, 0x00010000}, {36, 4, 0},          {40, 4, 0},          {44, 4, 0},
};
static_assert(kMeshHeaderFixedFields[11].offset + kMeshHeaderFixedFields[11].bytes == kMeshHeaderBytes,
              "the fixed fields end the 48-byte header");

// Bytes 6 and 8-15 of every triangle record.
constexpr uint8_t kRecordFlag = 1;
constexpr uint8_t kRecordTail[] = {0, 0x80, 0, 0x94, 2, 0x80, 0, 0};
static_assert(3 * 2 + 2 + sizeof kRecordTail == kTriangleRecordBytes, "three indices, flag, cycle, tail");

void put_mesh_header(uint8_t (&header)[kMeshHeaderBytes], uint16_t triangle_count,
                     uint16_t vertices_per_frame);

void put_triangle_record(uint8_t* record, const uint16_t (&indices)[3], uint8_t cycle);

constexpr uint64_t mesh_file_bytes(uint16_t triangle_count) {
  return kMeshHeaderBytes + uint64_t{kTriangleRecordBytes} * (triangle_count + kTrailingRecords);
}

// True if the `length` bytes at `data` hold a whole mesh header whose twelve
// fixed fields have their values. Reads nothing past `length`.
bool has_mesh_header_fields(const uint8_t* data, size_t length);

struct MeshHeader {
  uint16_t triangle_count = 0;
  uint16_t vertices_per_frame = 0;
};

// Reads them from the `length` bytes at `data`. False, leaving `header` as it
// was, if the bytes are fewer than 4.
bool get_mesh_header(const uint8_t* data, size_t length, MeshHeader& header);

using Triangle = std::array<uint16_t, 3>;

// The three vertex indices of triangle record `triangle` of a mesh file of
// `length` bytes at `data`: {0, 0, 0} where the record does not lie wholly
// within them.
Triangle triangle_at(const uint8_t* data, size_t length, uint32_t triangle);
