#include <algorithm>
#include <cmath>
#include <cstdio>

#include "bench_sequence.h"
#include "le.h"
#include "vertex_animation.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// The grid spans -90..90 in x and y; the sway, the ripple and the jitter keep
// every coordinate within -100..100, and the clamp makes sure of it.
constexpr double kHalfExtent = 90.0;
constexpr double kSway = 3.0;
constexpr int64_t kJitterMicro = 500000;  // each axis moves by up to +-0.5 per frame
constexpr int64_t kLimitMicro = 100000000;

// splitmix64: one well-mixed word from a counter, so that every vertex of every
// frame gets its own jitter without a shared generator state.
uint64_t mix(uint64_t z) {
  z += 0x9E3779B97F4A7C15u;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

int64_t jitter(uint64_t seed, uint32_t frame, uint32_t vertex, int axis) {
  const uint64_t word = mix(mix(mix(seed) ^ frame) ^ (uint64_t{vertex} << 2 | static_cast<uint64_t>(axis)));
  return static_cast<int64_t>(word % (2 * kJitterMicro + 1)) - kJitterMicro;
}

int64_t to_micro(double value) { return std::llround(value * 1e6); }

// The grid point of a vertex, each axis in 0..1.
void grid_point(uint32_t vertex_count, uint32_t vertex, double& u, double& v) {
  const Grid grid = grid_of(vertex_count);
  const uint32_t column = vertex % grid.columns, row = vertex / grid.columns;
  u = grid.columns > 1 ? static_cast<double>(column) / (grid.columns - 1) : 0.5;
  v = grid.rows > 1 ? static_cast<double>(row) / (grid.rows - 1) : 0.5;
}

// The rippling surface at one grid point and time: its height and slopes.
struct Surface {
  double x, y, z, slope_x, slope_y;
};

Surface surface(const SequenceShape& shape, uint32_t frame, uint32_t vertex) {
  double u, v;
  grid_point(shape.vertex_count, vertex, u, v);
  const double t = 2 * kPi * frame / shape.frame_count;  // one cycle over the sequence
  const double gx = kHalfExtent * (2 * u - 1), gy = kHalfExtent * (2 * v - 1);
  const double a = 0.07 * gx + t, b = 0.05 * gy - t, c = 0.2 * (gx + gy) - 2 * t;
  Surface s;
  s.x = gx + kSway * std::sin(t + 0.05 * gy);
  s.y = gy;
  s.z = 40 * std::sin(a) * std::cos(b) + 8 * std::sin(c);
  s.slope_x = 40 * 0.07 * std::cos(a) * std::cos(b) + 8 * 0.2 * std::cos(c);
  s.slope_y = -40 * 0.05 * std::sin(a) * std::sin(b) + 8 * 0.2 * std::cos(c);
  return s;
}

char* put_unsigned(char* p, uint64_t value) {
  char digits[20];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) *p++ = digits[--count];
  return p;
}

// A number in millionths as a package writes it: "-12.345678".
char* put_fixed6(char* p, int64_t micro) {
  if (micro < 0) *p++ = '-';
  const uint64_t magnitude = micro < 0 ? 0 - static_cast<uint64_t>(micro) : static_cast<uint64_t>(micro);
  p = put_unsigned(p, magnitude / 1000000);
  *p++ = '.';
  uint64_t fraction = magnitude % 1000000;
  for (int i = 5; i >= 0; --i) {
    p[i] = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  return p + 6;
}

// One statement line: the keyword, a space, the numbers with single spaces.
void put_line(std::string& text, const char* keyword, const int64_t* micro, int count) {
  char line[96];
  char* p = line;
  while (*keyword) *p++ = *keyword++;
  for (int i = 0; i < count; ++i) {
    *p++ = ' ';
    p = put_fixed6(p, micro[i]);
  }
  *p++ = '\n';
  text.append(line, static_cast<size_t>(p - line));
}

void put_position(std::string& text, const SequenceShape& shape, uint32_t frame, uint32_t vertex) {
  const MicroPosition position = vertex_position(shape, frame, vertex);
  const int64_t micro[3] = {position.x, position.y, position.z};
  put_line(text, "v", micro, 3);
}

void put_texture(std::string& text, const SequenceShape& shape, uint32_t vertex) {
  double u, v;
  grid_point(shape.vertex_count, vertex, u, v);
  const int64_t micro[2] = {to_micro(u), to_micro(v)};
  put_line(text, "vt", micro, 2);
}

void put_normal(std::string& text, const SequenceShape& shape, uint32_t frame, uint32_t vertex) {
  const Surface s = surface(shape, frame, vertex);
  const double length = std::sqrt(s.slope_x * s.slope_x + s.slope_y * s.slope_y + 1);
  const int64_t micro[3] = {to_micro(-s.slope_x / length), to_micro(-s.slope_y / length),
                            to_micro(1 / length)};
  put_line(text, "vn", micro, 3);
}

// "f a/a/a b/b/b c/c/c": position, texture and normal share their index, as
// there is one of each per vertex.
void put_face(std::string& text, uint32_t a, uint32_t b, uint32_t c) {
  char line[96];
  char* p = line;
  *p++ = 'f';
  for (const uint32_t index : {a, b, c}) {
    *p++ = ' ';
    p = put_unsigned(p, index);
    *p++ = '/';
    p = put_unsigned(p, index);
    *p++ = '/';
    p = put_unsigned(p, index);
  }
  *p++ = '\n';
  text.append(line, static_cast<size_t>(p - line));
}

}  // namespace

Grid grid_of(uint32_t vertex_count) {
  uint32_t columns = static_cast<uint32_t>(std::sqrt(static_cast<double>(vertex_count)));
  while (static_cast<uint64_t>(columns) * columns < vertex_count) ++columns;
  columns = std::max(columns, 1u);
  return {columns, (vertex_count + columns - 1) / columns};
}

uint32_t triangle_count(uint32_t vertex_count) {
  const Grid grid = grid_of(vertex_count);
  const uint32_t full_rows = vertex_count / grid.columns, short_row = vertex_count % grid.columns;
  if (full_rows == 0) return 0;
  uint32_t cells = (full_rows - 1) * (grid.columns - 1);
  if (short_row >= 2) cells += short_row - 1;
  return 2 * cells;
}

MicroPosition vertex_position(const SequenceShape& shape, uint32_t frame, uint32_t vertex) {
  const Surface s = surface(shape, frame, vertex);
  auto axis = [&](double value, int index) {
    return std::clamp(to_micro(value) + jitter(shape.seed, frame, vertex, index), -kLimitMicro, kLimitMicro);
  };
  return {axis(s.x, 0), axis(s.y, 1), axis(s.z, 2)};
}

void append_frame_text(const SequenceShape& shape, uint32_t frame, std::string& text) {
  const uint32_t vertex_count = shape.vertex_count, triangles = triangle_count(vertex_count);
  char header[256];
  std::snprintf(header, sizeof header,
                "# anim3d benchmark sequence, frame %u/%u\n"
                "# %u vertices, %u triangles, seed %llu\n"
                "o WaveSurface\n"
                "g WaveSurface_Skin\n"
                "usemtl Skin\n"
                "s 1\n",
                frame, shape.frame_count, vertex_count, triangles,
                static_cast<unsigned long long>(shape.seed));
  text += header;

  if (shape.layout == Layout::kSeparate) {
    for (uint32_t i = 0; i < vertex_count; ++i) put_position(text, shape, frame, i);
    for (uint32_t i = 0; i < vertex_count; ++i) put_texture(text, shape, i);
    for (uint32_t i = 0; i < vertex_count; ++i) put_normal(text, shape, frame, i);
  } else {
    for (uint32_t i = 0; i < vertex_count; ++i) {
      put_position(text, shape, frame, i);
      put_normal(text, shape, frame, i);
      put_texture(text, shape, i);
    }
  }

  // OBJ indices count from 1.
  const Grid grid = grid_of(vertex_count);
  for (uint32_t row = 0; row + 1 < grid.rows; ++row) {
    for (uint32_t column = 0; column + 1 < grid.columns; ++column) {
      const uint32_t a = row * grid.columns + column + 1, b = a + 1, d = a + grid.columns, c = d + 1;
      if (c > vertex_count) continue;  // a corner lies past the short last row
      put_face(text, a, b, c);
      put_face(text, a, c, d);
    }
  }
}

uint32_t clip_frame_count(int clip) {
  constexpr uint64_t kFrameBytes = kClipVertexCount * kPackedVertexBytes;
  uint64_t all_limits = 0;
  for (int k = 1; k <= kClipCount; ++k) all_limits += clip_read_limit(k);
  // Rounded down, in whole frames: the sum stays within the buffer.
  return static_cast<uint32_t>(clip_read_limit(clip) * kMergeBufferBytes / all_limits / kFrameBytes);
}

void append_clip_bytes(int clip, uint64_t seed, std::string& bytes) {
  const uint32_t frame_count = clip_frame_count(clip);
  const SequenceShape shape{frame_count, kClipVertexCount, Layout::kSeparate,
                            seed + static_cast<uint64_t>(clip)};
  uint8_t field[4];
  put_u16(field, static_cast<uint16_t>(frame_count));
  put_u16(field + 2, static_cast<uint16_t>(kClipVertexCount * kPackedVertexBytes));
  bytes.append(reinterpret_cast<const char*>(field), 4);
  for (uint32_t frame = 0; frame < frame_count; ++frame) {
    for (uint32_t vertex = 0; vertex < kClipVertexCount; ++vertex) {
      const MicroPosition p = vertex_position(shape, frame, vertex);
      put_u32(field, pack_vertex(p.x / 1e6, p.y / 1e6, p.z / 1e6));
      bytes.append(reinterpret_cast<const char*>(field), 4);
    }
  }
}
