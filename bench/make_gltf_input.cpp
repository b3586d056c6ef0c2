// Writes the inputs of the glTF size figures (gltf_sizes.sh).
//
//   make_gltf_input moving DIR FRAME_COUNT VERTEX_COUNT MOVING_COUNT
//       DIR/aniv00.3d: FRAME_COUNT frames of VERTEX_COUNT vertices on a
//       wavy strip, of which MOVING_COUNT (spread evenly over the strip)
//       move in every frame and the others never; DIR/data00.3d: the
//       strip's triangles
//   make_gltf_input clip-set DIR
//       for the merge of DIR/a1.3d .. DIR/a67.3d that clipmerge wrote to
//       DIR/aniv00.3d: DIR/clips.json naming each clip present after its
//       file ("a1", ...) with its frames in the merge, as the Blender add-on
//       writes it, and DIR/data00.3d, a strip of triangles over its vertices
//
// Exit status 0 when every file was written whole, 2 on bad arguments, a
// clip file that cannot be read or a failed write.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "file_names.h"
#include "le.h"
#include "mesh_format.h"
#include "vertex_animation.h"

namespace {

constexpr int kClipCount = 67;  // a1.3d .. a67.3d

int usage() {
  std::fprintf(stderr,
               "usage: make_gltf_input moving DIR FRAME_COUNT VERTEX_COUNT MOVING_COUNT\n"
               "       make_gltf_input clip-set DIR\n");
  return 2;
}

bool parse_count(const char* text, uint32_t least, uint32_t most, uint32_t& value) {
  char* end = nullptr;
  const unsigned long long parsed = std::strtoull(text, &end, 10);
  if (end == text || *end != 0 || parsed < least || parsed > most) return false;
  value = static_cast<uint32_t>(parsed);
  return true;
}

bool write_whole(const std::filesystem::path& path, const std::string& bytes) {
  FILE* file = std::fopen(path.string().c_str(), "wb");
  bool ok = file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  ok = file != nullptr && std::fclose(file) == 0 && ok;
  if (!ok) std::fprintf(stderr, "make_gltf_input: cannot write %s\n", path.string().c_str());
  return ok;
}

// A mesh file of a strip over `vertex_count` vertices: triangles (i, i + 1,
// i + 2), as many as the layout's 16-bit count allows.
std::string strip_mesh(uint16_t vertex_count) {
  const uint32_t triangle_count = vertex_count < 3 ? 0 : std::min<uint32_t>(vertex_count - 2, 0xFFFF);
  std::string bytes(mesh_file_bytes(static_cast<uint16_t>(triangle_count)), '\0');
  uint8_t* data = reinterpret_cast<uint8_t*>(bytes.data());
  uint8_t header[kMeshHeaderBytes];
  put_mesh_header(header, static_cast<uint16_t>(triangle_count), vertex_count);
  std::memcpy(data, header, sizeof header);
  for (uint32_t t = 0; t < triangle_count; ++t) {
    const uint16_t corners[3] = {uint16_t(t), uint16_t(t + 1), uint16_t(t + 2)};
    put_triangle_record(data + kMeshHeaderBytes + t * kTriangleRecordBytes, corners, uint8_t(t % 42 + 1));
  }
  return bytes;
}

int write_moving(int argc, char** argv) {
  uint32_t frame_count = 0, vertex_count = 0, moving_count = 0;
  if (argc != 6 || !parse_count(argv[3], 1, 0xFFFF, frame_count) ||
      !parse_count(argv[4], 1, 0xFFFF / 4, vertex_count) ||
      !parse_count(argv[5], 0, vertex_count, moving_count)) {
    return usage();
  }
  const std::filesystem::path dir = argv[2];
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  std::string animation(kVertexAnimationHeaderBytes + size_t{frame_count} * vertex_count * 4, '\0');
  uint8_t* data = reinterpret_cast<uint8_t*>(animation.data());
  put_u16(put_u16(data, static_cast<uint16_t>(frame_count)), static_cast<uint16_t>(vertex_count * 4));
  // The moving vertices: every (vertex_count / moving_count)-th from the first.
  std::vector<bool> moves(vertex_count, false);
  for (uint32_t m = 0; m < moving_count; ++m) moves[uint64_t{m} * vertex_count / moving_count] = true;
  for (uint32_t f = 0; f < frame_count; ++f) {
    for (uint32_t i = 0; i < vertex_count; ++i) {
      const double along = 100.0 * i / vertex_count - 50;
      const double phase = moves[i] ? f * 0.05 + i : 0;
      const uint32_t word = pack_vertex(along, 10 * std::sin(phase) + (i % 2 ? 3 : -3), 20 * std::cos(phase));
      put_u32(data + kVertexAnimationHeaderBytes + (size_t{f} * vertex_count + i) * 4, word);
    }
  }
  return write_whole(dir / kVertexAnimationName, animation) &&
                 write_whole(dir / kMeshName, strip_mesh(static_cast<uint16_t>(vertex_count)))
             ? 0
             : 2;
}

int write_clip_set(int argc, char** argv) {
  if (argc != 3) return usage();
  const std::filesystem::path dir = argv[2];
  std::string clips;
  uint32_t first = 0;
  uint16_t bytes_per_frame = 0;
  for (int clip = 1; clip <= kClipCount; ++clip) {
    char name[24];
    std::snprintf(name, sizeof name, kClipNameFormat, clip);
    FILE* file = std::fopen((dir / name).string().c_str(), "rb");
    if (file == nullptr) continue;
    uint8_t header[kVertexAnimationHeaderBytes];
    const bool read = std::fread(header, 1, sizeof header, file) == sizeof header;
    std::fclose(file);
    uint16_t frame_count = 0;
    if (!read || !get_u16(header, sizeof header, 0, frame_count) ||
        !get_u16(header, sizeof header, 2, bytes_per_frame)) {
      std::fprintf(stderr, "make_gltf_input: cannot read %s\n", name);
      return 2;
    }
    clips += std::string(clips.empty() ? "" : ", ") + "{\"name\": \"" +
             std::string(name, std::strlen(name) - 3) + "\", \"files\": [\"" + name +
             "\"], \"first_frame\": " + std::to_string(first) +
             ", \"frame_count\": " + std::to_string(frame_count) + "}";
    first += frame_count;
  }
  return write_whole(dir / kClipsName, "{\"clips\": [" + clips + "]}\n") &&
                 write_whole(dir / kMeshName, strip_mesh(bytes_per_frame / 4))
             ? 0
             : 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "moving") == 0) return write_moving(argc, argv);
  if (argc >= 2 && std::strcmp(argv[1], "clip-set") == 0) return write_clip_set(argc, argv);
  return usage();
}
