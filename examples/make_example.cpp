// Writes the bundled example: a square column that twists back and forth over
// 24 frames, one Wavefront OBJ file per frame, as a 3D package exports it.
//
//   make_example DIR    writes DIR/anima000.obj .. DIR/anima023.obj
#include <cmath>
#include <cstdio>
#include <string>

namespace {

constexpr int kFrames = 24;
constexpr int kLevels = 6;  // rings of vertices up the column
constexpr int kRing = 8;    // vertices per ring: corners and edge midpoints
constexpr double kHalfWidth = 12.0;
constexpr double kHeight = 50.0;
constexpr double kPi = 3.14159265358979323846;

// The ring's vertices before twisting, counter-clockwise seen from above.
constexpr double kRingX[kRing] = {1, 0, -1, -1, -1, 0, 1, 1};
constexpr double kRingZ[kRing] = {1, 1, 1, 0, -1, -1, -1, 0};

int vertex_index(int level, int k) { return 1 + level * kRing + k % kRing; }

bool write_frame(const std::string& dir, int frame) {
  char name[32];
  std::snprintf(name, sizeof name, "/anima%03d.obj", frame);
  FILE* file = std::fopen((dir + name).c_str(), "wb");
  if (!file) return false;

  std::fprintf(file, "# twisting box: frame %d/%d\n", frame, kFrames);
  std::fprintf(file, "mtllib box.mtl\no TwistingBox\n");
  const double swing = std::sin(2 * kPi * frame / kFrames) * kPi / 2;
  for (int level = 0; level < kLevels; ++level) {
    const double angle = swing * level / (kLevels - 1);
    const double y = kHeight * level / (kLevels - 1);
    for (int k = 0; k < kRing; ++k) {
      const double x = kHalfWidth * (kRingX[k] * std::cos(angle) - kRingZ[k] * std::sin(angle));
      const double z = kHalfWidth * (kRingX[k] * std::sin(angle) + kRingZ[k] * std::cos(angle));
      std::fprintf(file, "v %.6f %.6f %.6f\n", x, y, z);
    }
  }
  std::fprintf(file, "v 0.000000 0.000000 0.000000\nv 0.000000 %.6f 0.000000\n", kHeight);
  for (int level = 0; level < kLevels; ++level) {
    for (int k = 0; k < kRing; ++k)
      std::fprintf(file, "vt %.6f %.6f\n", k / double(kRing), level / double(kLevels - 1));
  }
  std::fprintf(file, "vt 0.500000 0.000000\nvt 0.500000 1.000000\n");
  std::fprintf(file, "usemtl Painted\ns off\n");

  const int bottom = kLevels * kRing + 1, top = bottom + 1;
  for (int level = 0; level + 1 < kLevels; ++level) {
    for (int k = 0; k < kRing; ++k) {
      const int a = vertex_index(level, k), b = vertex_index(level, k + 1);
      const int c = vertex_index(level + 1, k + 1), d = vertex_index(level + 1, k);
      std::fprintf(file, "f %d/%d %d/%d %d/%d\nf %d/%d %d/%d %d/%d\n", a, a, b, b, c, c, a, a, c, c, d, d);
    }
  }
  for (int k = 0; k < kRing; ++k) {
    const int a = vertex_index(0, k), b = vertex_index(0, k + 1);
    std::fprintf(file, "f %d/%d %d/%d %d/%d\n", bottom, bottom, b, b, a, a);
    const int c = vertex_index(kLevels - 1, k), d = vertex_index(kLevels - 1, k + 1);
    std::fprintf(file, "f %d/%d %d/%d %d/%d\n", top, top, c, c, d, d);
  }
  return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_example DIR\n");
    return 2;
  }
  for (int frame = 0; frame < kFrames; ++frame) {
    if (!write_frame(argv[1], frame)) {
      std::fprintf(stderr, "make_example: cannot write frame %d in %s\n", frame, argv[1]);
      return 1;
    }
  }
  return 0;
}
