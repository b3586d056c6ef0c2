// tinygltf, header only, as every file of inspect3d includes it: glTF models,
// their JSON and their binary form, and no image code (no image is written).
#pragma once

#define TINYGLTF_NO_STB_IMAGE
#define TINYGLTF_NO_STB_IMAGE_WRITE
#define TINYGLTF_NO_EXTERNAL_IMAGE
#include <tiny_gltf.h>
