// Writing a drawn image as a PNG file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "render.h"

// The PNG encoding of `image` (8-bit RGB), by stb_image_write; empty if the
// encoder fails or the image has no pixels.
std::vector<uint8_t> encode_png(const Image& image);
