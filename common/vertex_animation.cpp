#include "vertex_animation.h"

#include <cassert>

#include "le.h"
#include "output.h"

static uint32_t fixed_field(double coordinate, double scale, uint32_t mask) {
  const double scaled = coordinate * scale;
  // Outside the signed 64-bit range the conversion would be undefined; such a
  // field (infinity included) holds 0.
  if (!(scaled >= -0x1p63 && scaled < 0x1p63)) return 0;
  return static_cast<uint32_t>(static_cast<int64_t>(scaled)) & mask;
}

uint32_t pack_vertex(double x, double y, double z) {
  return fixed_field(x, 8.0, 0x7FF) | fixed_field(y, 8.0, 0x7FF) << 11 | fixed_field(z, 4.0, 0x3FF) << 22;
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
