// Little-endian field writers and readers. Every binary field of every file goes
// through these, by shifts, so the bytes on disk never depend on the host.
#pragma once

#include <cstddef>
#include <cstdint>

// Stores `value` at `p` and returns the position just past it.
inline uint8_t* put_u16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
  return p + 2;
}

inline uint8_t* put_u32(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
  p[2] = static_cast<uint8_t>(value >> 16);
  p[3] = static_cast<uint8_t>(value >> 24);
  return p + 4;
}

// Reads the field at `offset` of `data`, which holds `length` bytes actually
// read. Returns false, leaving `value` as it was, if the field does not lie
// wholly within them.
inline bool get_u16(const uint8_t* data, size_t length, size_t offset, uint16_t& value) {
  if (offset > length || length - offset < 2) return false;
  value = static_cast<uint16_t>(data[offset] | data[offset + 1] << 8);
  return true;
}

inline bool get_u32(const uint8_t* data, size_t length, size_t offset, uint32_t& value) {
  if (offset > length || length - offset < 4) return false;
  value = static_cast<uint32_t>(data[offset]) | static_cast<uint32_t>(data[offset + 1]) << 8 |
          static_cast<uint32_t>(data[offset + 2]) << 16 | static_cast<uint32_t>(data[offset + 3]) << 24;
  return true;
}
