#include "png.h"

#include <climits>
#include <cstdio>

#include "platform.h"

// The one place the PNG writer's implementation is compiled.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include "stb_image_write.h"

namespace {

void append_bytes(void* context, void* data, int size) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  const auto* bytes = static_cast<const uint8_t*>(data);
  out->insert(out->end(), bytes, bytes + size);
}

}  // namespace

std::vector<uint8_t> encode_png(const Image& image) {
  std::vector<uint8_t> png;
  if (image.width == 0 || image.height == 0 || image.width > INT_MAX / 3 || image.height > INT_MAX)
    return png;
  const int stride = static_cast<int>(image.width * 3);
  if (stbi_write_png_to_func(append_bytes, &png, static_cast<int>(image.width),
                             static_cast<int>(image.height), 3, image.rgb.data(), stride) == 0) {
    png.clear();
  }
  return png;
}
