// A vertex animation file in memory, read as inspect3d reads one from disk.
#pragma once

#include <cstdint>
#include <vector>

#include "conversion.h"

// `bytes` as a vertex animation file; it must outlive the result.
inline Animation animation_in(const std::vector<uint8_t>& bytes) {
  Animation animation;
  get_animation_header(bytes.data(), bytes.size(), animation);
  animation.data = bytes.data();
  animation.size = bytes.size();
  return animation;
}
