#include "vertex_animation.h"

#include <cassert>
#include <cmath>

#include "le.h"
#include "output.h"

static uint32_t fixed_field(double coordinate, const PackedField& field) {
  const double scaled = coordinate * field.scale;
  // Outside the signed 64-bit range the conversion would be undefined; such a
  // field (infinity included) holds 0.
  if (!(scaled >= -0x1p63 && scaled < 0x1p63)) return 0;
  const uint32_t mask = (1u << field.bits) - 1;
  return (static_cast<uint32_t>(static_cast<int64_t>(scaled)) & mask) << field.shift;
}

uint32_t pack_vertex(double x, double y, double z) {
  return fixed_field(x, kPackedFields[0]) | fixed_field(y, kPackedFields[1]) |
         fixed_field(z, kPackedFields[2]);
}

static double field_value(uint32_t word, const PackedField& field) {
  const uint32_t raw = word >> field.shift & ((1u << field.bits) - 1);
  const uint32_t sign = 1u << (field.bits - 1);
  // Sign extension by subtraction: raw - 2^bits when the top bit is set.
  const int32_t value = static_cast<int32_t>(raw ^ sign) - static_cast<int32_t>(sign);
  return value / field.scale;
}

Position unpack_vertex(uint32_t word) {
  return {field_value(word, kPackedFields[0]), field_value(word, kPackedFields[1]),
          field_value(word, kPackedFields[2])};
}

bool get_animation_header(const uint8_t* data, size_t length, AnimationHeader& header) {
  uint16_t frame_count = 0, bytes_per_frame = 0;
  if (!get_u16(data, length, 0, frame_count) || !get_u16(data, length, 2, bytes_per_frame)) return false;
  header.frame_count = frame_count;
  header.bytes_per_frame = bytes_per_frame;
  header.vertex_count = bytes_per_frame / kPackedVertexBytes;
  return true;
}

uint32_t word_in_frame(const uint8_t* frame, size_t length, uint32_t vertex) {
  uint32_t word = 0;
  get_u32(frame, length, size_t{vertex} * kPackedVertexBytes, word);
  return word;
}

void decode_frame(const uint8_t* frame, size_t length, uint32_t vertex_count, Position* positions) {
  for (uint32_t i = 0; i < vertex_count; ++i) positions[i] = unpack_vertex(word_in_frame(frame, length, i));
}

bool packs_in_range(double coordinate, int axis) {
  const PackedField& field = kPackedFields[axis];
  const double scaled = std::trunc(coordinate * field.scale);
  const double half_range = static_cast<double>(1u << (field.bits - 1));
  return scaled >= -half_range && scaled < half_range;
}

bool fits_vertex_animation_layout(uint64_t file_bytes, uint16_t frame_count, uint16_t bytes_per_frame) {
  if (bytes_per_frame == 0 || bytes_per_frame % kPackedVertexBytes != 0) return false;
  return file_bytes == kVertexAnimationHeaderBytes + uint64_t{frame_count} * bytes_per_frame;
}

void append_word(VertexStore& store, uint32_t word) {
  assert(store.word_count < kVertexStoreWords);
  put_u32(store.bytes + store.word_count * kPackedVertexBytes, word);
  ++store.word_count;
}

bool write_vertex_animation_file(const char* name, uint16_t frame_count, uint16_t bytes_per_frame,
                                 const uint8_t* data, size_t data_length) {
  uint8_t header[kVertexAnimationHeaderBytes];
  put_u16(put_u16(header, frame_count), bytes_per_frame);
  return write_file(name, header, sizeof header, data, data_length);
}
