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

bool write_png(const std::string& name, const Image& image) {
  const std::vector<uint8_t> png = encode_png(image);
  if (png.empty() || output_slot(name.c_str()) == OutputSlot::kBlocked) return false;
  const std::string temp = name + ".tmp";
  FILE* out = std::fopen(temp.c_str(), "wb");
  if (!out) return false;
  bool ok = std::fwrite(png.data(), 1, png.size(), out) == png.size();
  ok = std::fflush(out) == 0 && ok;
  ok = std::fclose(out) == 0 && ok;
  ok = ok && replace_file(temp.c_str(), name.c_str());
  if (!ok) std::remove(temp.c_str());
  return ok;
}
