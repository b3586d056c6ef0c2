// The vertex animation file ("aniv00.3d", and the clips "a1.3d" .. "a67.3d"):
// the position of every vertex of one mesh in every frame, each packed into one
// 32-bit word. All fields little-endian, no gaps, no magic number, no trailer:
//
//   offset  size                         field
//   0       2                            frame count, unsigned
//   2       2                            bytes per frame, unsigned (4 x vertices per frame)
//   4       frame count x bytes per frame  packed vertex words, frame after frame
//
// Packed vertex word (unsigned 32-bit, little-endian):
//
//   bits 0-10   x: low 11 bits of trunc(x * 8)
//   bits 11-21  y: low 11 bits of trunc(y * 8)
//   bits 22-31  z: low 10 bits of trunc(z * 4)
//
// note: z has a scale of 4, not 8, and coordinates are truncated toward zero,
// never rounded. Read back as two's-complement fields, x and y cover -128 to
// 127.875 and z -128 to 127.75; a coordinate outside wraps (no clamping), since
// that is what the engine's reader expects of the bits.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kVertexAnimationHeaderBytes = 4;
constexpr size_t kPackedVertexBytes = 4;

// Room for every frame's packed words together: 20 frames of 10,000 vertices,
// or more frames of fewer. Fixed so that nothing grows during a run.
constexpr uint32_t kVertexStoreWords = 200000;

struct VertexStore {
  uint32_t word_count;                                    // words stored, frame after frame
  uint8_t bytes[kVertexStoreWords * kPackedVertexBytes];  // the words, little-endian
};

// The word's three fields, x, y and z in this order: the scale a coordinate is
// multiplied by, the lowest bit and the width.
struct PackedField {
  double scale;
  unsigned shift;
  unsigned bits;
};
constexpr PackedField kPackedFields[3] = {{8.0, 0, 11}, {8.0, 11, 11}, {4.0, 22, 10}};

// Packs three coordinates into one word as laid out above. A scaled coordinate
// that does not fit a signed 64-bit integer (an infinity included) gives its
// field 0.
uint32_t pack_vertex(double x, double y, double z);

// A position as the engine reads it from a packed word, in model units.
struct Position {
  double x, y, z;
};

// Reads the three fields of `word` back as two's-complement values divided by
// their scale: exactly the position the engine sees.
Position unpack_vertex(uint32_t word);

// True if `coordinate` packs into field `axis` (0 x, 1 y, 2 z) without
// wrapping, so that it reads back less than one step (1 / scale) nearer zero
// at most. False for a coordinate outside the field's range, and for one that
// pack_vertex stores as 0 because it is too large to convert.
bool packs_in_range(double coordinate, int axis);

// True if a file of `file_bytes` bytes whose header reads `frame_count` and
// `bytes_per_frame` is laid out as a vertex animation file: the header and
// exactly frame count x bytes per frame bytes of whole packed words, at least
// one word a frame.
bool fits_vertex_animation_layout(uint64_t file_bytes, uint16_t frame_count, uint16_t bytes_per_frame);

struct AnimationHeader {
  uint16_t frame_count = 0;
  uint16_t bytes_per_frame = 0;
  uint32_t vertex_count = 0;  // whole packed words a frame: bytes per frame / 4
};

// Reads the header from the `length` bytes at `data`. False, leaving `header`
// as it was, if they are fewer than its 4 bytes.
bool get_animation_header(const uint8_t* data, size_t length, AnimationHeader& header);

constexpr uint64_t frame_offset(const AnimationHeader& header, uint32_t frame) {
  return kVertexAnimationHeaderBytes + uint64_t{frame} * header.bytes_per_frame;
}

// The packed word of vertex `vertex` of one frame, whose `length` bytes read
// are at `frame`: 0 where the word does not lie wholly within them.
uint32_t word_in_frame(const uint8_t* frame, size_t length, uint32_t vertex);

// Decodes the first `vertex_count` vertices of one frame (its `length` bytes
// read at `frame`) into `positions`, which has room for them; a word beyond
// the bytes decodes as 0. The one decoding of a frame every reader uses.
void decode_frame(const uint8_t* frame, size_t length, uint32_t vertex_count, Position* positions);

// note: the store must have room: callers check before each frame.
void append_word(VertexStore& store, uint32_t word);

// Creates or truncates `name` and writes the header and `data_length` bytes of
// frame data. Every write, the flush and the close are checked; on any failure
// the partial file is removed and the result is false.
bool write_vertex_animation_file(const char* name, uint16_t frame_count, uint16_t bytes_per_frame,
                                 const uint8_t* data, size_t data_length);
