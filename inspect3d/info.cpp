// inspect3d info FILE...: the kind of each .3d file and what its header and
// records hold.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "commands.h"
#include "le.h"

// Prints the header and each frame's bounding box, reading one frame at a
// time. False if a frame cannot be read (said on standard error).
static bool print_animation_info(const Animation& animation) {
  std::printf("  frame count      %u\n", animation.frame_count);
  std::printf("  bytes per frame  %u (%u vertices a frame)\n", animation.bytes_per_frame,
              animation.vertex_count);
  if (animation.frame_count == 0) return true;
  std::printf("  bounding box of each frame, in model units:\n");
  std::printf("  %5s %9s %9s %9s %9s %9s %9s\n", "frame", "x min", "x max", "y min", "y max", "z min",
              "z max");
  std::vector<Position> positions;
  for (uint32_t f = 0; f < animation.frame_count; ++f) {
    // The layout has at least one vertex a frame.
    double low[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, high[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    if (!frame_positions(animation, f, positions)) return false;
    for (const Position& p : positions) {
      const double at[3] = {p.x, p.y, p.z};
      for (int axis = 0; axis < 3; ++axis) {
        low[axis] = std::min(low[axis], at[axis]);
        high[axis] = std::max(high[axis], at[axis]);
      }
    }
    std::printf("  %5u %9g %9g %9g %9g %9g %9g\n", f, low[0], high[0], low[1], high[1], low[2], high[2]);
  }
  return true;
}

// Returns the number of face indices out of range.
static uint32_t print_mesh_info(const Mesh& mesh) {
  std::printf("  triangle count      %u\n", mesh.triangle_count);
  std::printf("  vertices per frame  %u\n", mesh.vertices_per_frame);
  std::printf("  fixed header fields as frameconv writes them\n");
  std::printf("  face indices at or beyond %u:", mesh.vertices_per_frame);
  const std::vector<FaceIndexOutOfRange> indices = indices_out_of_range(mesh, mesh.vertices_per_frame);
  std::printf(indices.empty() ? " none\n" : "\n");
  print_indices_out_of_range(indices, "    ");
  return static_cast<uint32_t>(indices.size());
}

// Says why a file fits neither layout, from its head.
static void print_why_neither(const OpenedFile& opened) {
  uint16_t first = 0, second = 0;
  if (opened.size < kVertexAnimationHeaderBytes) {
    std::printf("  too short for either header\n");
    return;
  }
  get_u16(opened.head, opened.head_bytes, 0, first);
  get_u16(opened.head, opened.head_bytes, 2, second);
  if (second == 0 || second % kPackedVertexBytes != 0) {
    std::printf("  not a vertex animation file: %u bytes per frame is not a whole number of vertices\n",
                second);
  } else {
    std::printf("  not a vertex animation file: %u frames of %u bytes make %llu bytes\n", first, second,
                static_cast<unsigned long long>(kVertexAnimationHeaderBytes + uint64_t{first} * second));
  }
  if (!has_mesh_header_fields(opened.head, opened.head_bytes)) {
    std::printf("  not a mesh file: the fixed header fields differ\n");
  } else {
    std::printf("  not a mesh file: %u triangles make %llu bytes\n", first,
                static_cast<unsigned long long>(mesh_file_bytes(first)));
  }
}

int cmd_info(int argc, char** argv) {
  if (argc < 2) return usage_error("info needs at least one file");
  int status = kOk;
  for (int n = 1; n < argc; ++n) {
    const std::string name = argv[n];
    OpenedFile opened;
    // No .3d file is larger than the largest vertex animation file.
    if (!open_file(path_of(name), name, kVertexAnimationFileLimit, "a .3d file", opened)) {
      status = kBadUsage;
      continue;
    }
    if (n > 1) std::printf("\n");
    const unsigned long long size = opened.size;
    const FileKind kind = kind_of(opened);
    switch (kind) {
      case FileKind::kVertexAnimation: {
        std::printf("%s: vertex animation file, %llu bytes\n", name.c_str(), size);
        Animation animation;
        get_animation_header(opened.head, opened.head_bytes, animation);
        animation.file = opened.file.get();
        animation.shown_name = name;
        if (!print_animation_info(animation)) status = kBadUsage;
        break;
      }
      case FileKind::kMesh:
      case FileKind::kBoth: {
        std::printf("%s: mesh file, %llu bytes\n", name.c_str(), size);
        if (kind == FileKind::kBoth) {
          // The twelve fixed fields make the mesh file far the likelier.
          AnimationHeader animation;
          get_animation_header(opened.head, opened.head_bytes, animation);
          std::printf("  (its size would also fit a vertex animation file of %s)\n",
                      frames_of(animation.frame_count, animation.vertex_count).c_str());
        }
        // A mesh file is at most about 1 MB: read whole.
        opened.file.reset();
        std::vector<uint8_t> bytes;
        if (!read_whole_file(path_of(name), name, kMeshFileLimit, "a mesh file", bytes)) {
          status = kBadUsage;
          break;
        }
        if (print_mesh_info(mesh_of(bytes)) > 0 && status == kOk) status = kProblems;
        break;
      }
      case FileKind::kNeither:
        std::printf("%s: neither a vertex animation file nor a mesh file, %llu bytes\n", name.c_str(), size);
        print_why_neither(opened);
        if (status == kOk) status = kProblems;
        break;
    }
  }
  return status;
}
