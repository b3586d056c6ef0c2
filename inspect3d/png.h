// Writing a drawn image as a PNG file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "render.h"

// The PNG encoding of `image` (8-bit RGB), by stb_image_write; empty if the
// encoder fails or the image has no pixels.
std::vector<uint8_t> encode_png(const Image& image);

// Writes `image` as the PNG file `name`: first to `name` + ".tmp", checking
// every write and the close, then moved over `name`. On failure removes the
// temporary, leaves `name` as it was and returns false.
bool write_png(const std::string& name, const Image& image);
