// Writes benchmark input (see bench_sequence.h for what the files hold).
//
//   make_sequence frames DIR FRAME_COUNT VERTEX_COUNT separate|interleaved [SEED]
//       writes DIR/anima000.obj .. one file per frame
//   make_sequence clips DIR [SEED]
//       writes DIR/a1.3d .. DIR/a67.3d, together just under the merge buffer
//
// DIR is created if missing. Exit status 0 when every file was written whole,
// 2 on bad arguments or a failed write.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench_sequence.h"

namespace {

constexpr uint64_t kDefaultSeed = 7;
constexpr uint32_t kMostFrames = 1000;  // anima000.obj .. anima999.obj
constexpr uint32_t kMostVertices = 1000000;

int usage() {
  std::fprintf(stderr,
               "usage: make_sequence frames DIR FRAME_COUNT VERTEX_COUNT separate|interleaved [SEED]\n"
               "       make_sequence clips DIR [SEED]\n");
  return 2;
}

bool parse_count(const char* text, uint32_t most, uint32_t& value) {
  char* end = nullptr;
  const unsigned long long parsed = std::strtoull(text, &end, 10);
  if (end == text || *end != 0 || parsed < 1 || parsed > most) return false;
  value = static_cast<uint32_t>(parsed);
  return true;
}

bool parse_seed(int argc, char** argv, int index, uint64_t& seed) {
  seed = kDefaultSeed;
  if (argc <= index) return true;
  char* end = nullptr;
  seed = std::strtoull(argv[index], &end, 10);
  return end != argv[index] && *end == 0;
}

bool write_whole(const std::filesystem::path& path, const std::string& bytes) {
  FILE* file = std::fopen(path.string().c_str(), "wb");
  if (!file) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  ok = std::fclose(file) == 0 && ok;
  if (!ok) std::fprintf(stderr, "make_sequence: cannot write %s\n", path.string().c_str());
  return ok;
}

bool make_directory(const std::filesystem::path& dir) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) std::fprintf(stderr, "make_sequence: cannot create %s\n", dir.string().c_str());
  return !error;
}

int write_frames(int argc, char** argv) {
  SequenceShape shape{};
  if (argc < 6 || argc > 7 || !parse_count(argv[3], kMostFrames, shape.frame_count) ||
      !parse_count(argv[4], kMostVertices, shape.vertex_count) || !parse_seed(argc, argv, 6, shape.seed)) {
    return usage();
  }
  if (std::strcmp(argv[5], "separate") == 0) {
    shape.layout = Layout::kSeparate;
  } else if (std::strcmp(argv[5], "interleaved") == 0) {
    shape.layout = Layout::kInterleaved;
  } else {
    return usage();
  }
  const std::filesystem::path dir = argv[2];
  if (!make_directory(dir)) return 2;
  std::string text;
  for (uint32_t frame = 0; frame < shape.frame_count; ++frame) {
    char name[24];
    std::snprintf(name, sizeof name, "anima%03u.obj", frame);
    text.clear();
    append_frame_text(shape, frame, text);
    if (!write_whole(dir / name, text)) return 2;
  }
  return 0;
}

int write_clips(int argc, char** argv) {
  uint64_t seed;
  if (argc < 3 || argc > 4 || !parse_seed(argc, argv, 3, seed)) return usage();
  const std::filesystem::path dir = argv[2];
  if (!make_directory(dir)) return 2;
  std::string bytes;
  for (int clip = 1; clip <= kClipCount; ++clip) {
    char name[24];
    std::snprintf(name, sizeof name, "a%d.3d", clip);
    bytes.clear();
    append_clip_bytes(clip, seed, bytes);
    if (!write_whole(dir / name, bytes)) return 2;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "frames") == 0) return write_frames(argc, argv);
  if (argc >= 2 && std::strcmp(argv[1], "clips") == 0) return write_clips(argc, argv);
  return usage();
}
