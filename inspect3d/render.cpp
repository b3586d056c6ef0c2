#include "render.h"

#include <algorithm>
#include <string>

namespace {

// The camera's axes in model space, unit vectors times kAxisScale, rounded:
// a view from 45 degrees to the right of the front (+z toward +x) and 30
// degrees above. right x up = toward, the direction to the viewer.
constexpr int64_t kAxisScale = 4096;
constexpr int64_t kRight[3] = {2896, 0, -2896};     // (cos 45, 0, -sin 45)
constexpr int64_t kUp[3] = {-1448, 3547, -1448};    // (-sin 45 sin 30, cos 30, -cos 45 sin 30)
constexpr int64_t kToward[3] = {2508, 2048, 2508};  // (sin 45 cos 30, sin 30, cos 45 cos 30)

// The light, from above, in front and a little to the right, in model space:
// tops are lit most, fronts less, right sides least. Its length is exactly 7.
constexpr int64_t kLight[3] = {2, 6, 3};
constexpr int64_t kLightLength = 7;
// Shading in 256ths: a quarter everywhere, the rest by the angle to the light.
constexpr int64_t kFullLight = 256, kAmbient = 64;

constexpr int64_t kSubpixels = 16;  // a pixel's width in the rasterizer's units

struct Model {
  int64_t v[3];  // eighths of a model unit
};

int32_t eighths(double coordinate) {
  // NaN fails both comparisons and is taken as the lower limit.
  if (!(coordinate > -kCoordinateLimit)) coordinate = -kCoordinateLimit;
  if (coordinate > kCoordinateLimit) coordinate = kCoordinateLimit;
  return static_cast<int32_t>(coordinate * 8.0 + (coordinate < 0 ? -0.5 : 0.5));
}

Model model_of(const Position& point) { return {{eighths(point.x), eighths(point.y), eighths(point.z)}}; }

constexpr int64_t dot(const int64_t (&a)[3], const int64_t (&b)[3]) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Rounded, each axis is still of length kAxisScale to within 1 / 2,048, and
// right and up are at right angles to each other and to toward.
constexpr bool near_unit(const int64_t (&axis)[3]) {
  const int64_t off = dot(axis, axis) - kAxisScale * kAxisScale;
  return off > -2 * kAxisScale && off < 2 * kAxisScale;
}
static_assert(near_unit(kRight) && near_unit(kUp) && near_unit(kToward), "unit axes");
static_assert(dot(kRight, kUp) == 0 && dot(kRight, kToward) == 0 && dot(kUp, kToward) < kAxisScale / 2,
              "axes at right angles");

// Floor of the square root of `n`, digit by digit: exact on every build.
uint64_t isqrt(uint64_t n) {
  uint64_t root = 0, bit = uint64_t{1} << 62;
  while (bit > n) bit >>= 2;
  for (; bit != 0; bit >>= 2) {
    if (n >= root + bit) {
      n -= root + bit;
      root = (root >> 1) + bit;
    } else {
      root >>= 1;
    }
  }
  return root;
}

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Where a tile's drawing area lies: below the label band, inside a margin.
struct TileLayout {
  int64_t left, top, width, height;  // pixels
};

TileLayout layout_of(uint32_t tile_px) {
  const int64_t inset = label_inset(tile_px);
  const int64_t band = inset + kGlyphRows * int64_t{label_scale(tile_px)} + inset;
  // The last column and row of a tile are its edge line.
  return {inset, band, tile_px - 1 - 2 * inset, tile_px - 1 - inset - band};
}

// The colour of a triangle of model corners `m`, lit on the side that faces
// the camera; false for a triangle of no area.
bool shade(const Model (&m)[3], Rgb base, Rgb& colour) {
  int64_t e1[3], e2[3];
  for (int a = 0; a < 3; ++a) {
    e1[a] = m[1].v[a] - m[0].v[a];
    e2[a] = m[2].v[a] - m[0].v[a];
  }
  int64_t normal[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                       e1[0] * e2[1] - e1[1] * e2[0]};
  const uint64_t length = isqrt(static_cast<uint64_t>(dot(normal, normal)));
  if (length == 0) return false;
  // Both sides are drawn: the side seen is the one lit.
  if (dot(normal, kToward) < 0) {
    for (int64_t& n : normal) n = -n;
  }
  const int64_t lit = std::max<int64_t>(0, dot(normal, kLight));
  const int64_t level =
      kAmbient + (kFullLight - kAmbient) * lit / (kLightLength * static_cast<int64_t>(length));
  colour = {static_cast<uint8_t>(base.r * level / kFullLight),
            static_cast<uint8_t>(base.g * level / kFullLight),
            static_cast<uint8_t>(base.b * level / kFullLight)};
  return true;
}

int64_t edge(const ScreenPoint& a, const ScreenPoint& b, int64_t x, int64_t y) {
  return (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x);
}

// One tile of the sheet: its pixels in the image and its depth buffer.
struct Tile {
  Image* image;
  uint32_t left, top, size;
  std::vector<int64_t>* depth;

  void put(uint32_t x, uint32_t y, Rgb colour) {
    const size_t i = (size_t{top + y} * image->width + left + x) * 3;
    image->rgb[i] = colour.r;
    image->rgb[i + 1] = colour.g;
    image->rgb[i + 2] = colour.b;
  }
};

// Fills the triangle `s` in `colour` where it is nearer than what the tile
// holds, sampling each pixel at its centre.
void fill_triangle(Tile& tile, ScreenPoint s0, ScreenPoint s1, ScreenPoint s2, Rgb colour) {
  int64_t area = edge(s0, s1, s2.x, s2.y);
  if (area == 0) return;
  if (area < 0) {
    std::swap(s1, s2);
    area = -area;
  }
  const int64_t last = int64_t{tile.size} - 1;
  const int64_t x_low = std::max<int64_t>(0, floor_div(std::min({s0.x, s1.x, s2.x}), kSubpixels));
  const int64_t x_high = std::min<int64_t>(last, floor_div(std::max({s0.x, s1.x, s2.x}), kSubpixels));
  const int64_t y_low = std::max<int64_t>(0, floor_div(std::min({s0.y, s1.y, s2.y}), kSubpixels));
  const int64_t y_high = std::min<int64_t>(last, floor_div(std::max({s0.y, s1.y, s2.y}), kSubpixels));
  for (int64_t y = y_low; y <= y_high; ++y) {
    const int64_t sample_y = y * kSubpixels + kSubpixels / 2;
    for (int64_t x = x_low; x <= x_high; ++x) {
      const int64_t sample_x = x * kSubpixels + kSubpixels / 2;
      const int64_t w0 = edge(s1, s2, sample_x, sample_y);
      const int64_t w1 = edge(s2, s0, sample_x, sample_y);
      const int64_t w2 = edge(s0, s1, sample_x, sample_y);
      if (w0 < 0 || w1 < 0 || w2 < 0) continue;
      const int64_t depth = (w0 * s0.depth + w1 * s1.depth + w2 * s2.depth) / area;
      int64_t& held = (*tile.depth)[static_cast<size_t>(y * tile.size + x)];
      if (depth <= held) continue;
      held = depth;
      tile.put(static_cast<uint32_t>(x), static_cast<uint32_t>(y), colour);
    }
  }
}

void draw_label(Tile& tile, uint32_t number) {
  const std::string digits = std::to_string(number);
  const uint32_t scale = label_scale(tile.size), inset = label_inset(tile.size);
  for (size_t d = 0; d < digits.size(); ++d) {
    for (int r = 0; r < kGlyphRows; ++r) {
      for (int c = 0; c < kGlyphColumns; ++c) {
        if ((glyph_row(digits[d] - '0', r) & (4 >> c)) == 0) continue;
        const uint32_t x0 = inset + static_cast<uint32_t>(d * (kGlyphColumns + 1) + c) * scale;
        const uint32_t y0 = inset + r * scale;
        for (uint32_t y = y0; y < y0 + scale && y < tile.size; ++y) {
          for (uint32_t x = x0; x < x0 + scale && x < tile.size; ++x) tile.put(x, y, kLabelColour);
        }
      }
    }
  }
}

void draw_tile(Tile& tile, const Camera& camera, const SheetFrame& frame,
               std::span<const Triangle> triangles) {
  for (uint32_t y = 0; y < tile.size; ++y) {
    for (uint32_t x = 0; x < tile.size; ++x) {
      tile.put(x, y, x + 1 == tile.size || y + 1 == tile.size ? kTileEdge : kBackground);
    }
  }
  std::fill(tile.depth->begin(), tile.depth->end(), INT64_MIN);
  const size_t point_count = frame.points.size();
  for (const Triangle& triangle : triangles) {
    if (triangle[0] >= point_count || triangle[1] >= point_count || triangle[2] >= point_count) continue;
    bool red = false;
    Model corners[3];
    ScreenPoint screen[3];
    for (int c = 0; c < 3; ++c) {
      const uint16_t index = triangle[c];
      red = red || (index < frame.out_of_range.size() && frame.out_of_range[index] != 0);
      corners[c] = model_of(frame.points[index]);
      screen[c] = project(camera, frame.points[index]);
    }
    Rgb colour;
    if (!shade(corners, red ? kOutOfRangeColour : kMeshColour, colour)) continue;
    fill_triangle(tile, screen[0], screen[1], screen[2], colour);
  }
  draw_label(tile, frame.number);
}

// Digits 0-9, five rows of three columns each, bit 2 the left column.
constexpr uint8_t kGlyphs[10][kGlyphRows] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};

}  // namespace

// Digits 15 pixels high in a tile of 256, 10 in one of 128.
uint32_t label_scale(uint32_t tile_px) { return std::max<uint32_t>(1, (tile_px + 40) / 80); }

uint32_t label_inset(uint32_t tile_px) { return std::max<uint32_t>(2, tile_px / 32); }

uint8_t glyph_row(int digit, int r) { return kGlyphs[digit][r]; }

std::vector<uint32_t> sheet_frame_numbers(uint32_t frame_count) {
  std::vector<uint32_t> numbers;
  const uint32_t count = std::min(frame_count, kSheetTileLimit);
  if (count == 1) numbers.push_back(0);
  if (count < 2) return numbers;
  // Tile i shows the frame nearest i / (count - 1) of the way, halves rounded up.
  for (uint32_t i = 0; i < count; ++i) {
    numbers.push_back(
        static_cast<uint32_t>((uint64_t{i} * (frame_count - 1) + (count - 1) / 2) / (count - 1)));
  }
  return numbers;
}

Bounds bounds_of(std::span<const SheetFrame> frames) {
  Bounds bounds;
  bool first = true;
  for (const SheetFrame& frame : frames) {
    for (const Position& point : frame.points) {
      const Model m = model_of(point);
      for (int a = 0; a < 3; ++a) {
        const int32_t v = static_cast<int32_t>(m.v[a]);
        bounds.low[a] = first ? v : std::min(bounds.low[a], v);
        bounds.high[a] = first ? v : std::max(bounds.high[a], v);
      }
      first = false;
    }
  }
  return bounds;
}

Camera frame_camera(const Bounds& bounds, uint32_t tile_px) {
  // The box's extent on the screen: the span of its eight corners.
  int64_t low_x = INT64_MAX, high_x = INT64_MIN, low_y = INT64_MAX, high_y = INT64_MIN;
  for (int corner = 0; corner < 8; ++corner) {
    const int64_t m[3] = {(corner & 1) ? bounds.high[0] : bounds.low[0],
                          (corner & 2) ? bounds.high[1] : bounds.low[1],
                          (corner & 4) ? bounds.high[2] : bounds.low[2]};
    low_x = std::min(low_x, dot(m, kRight));
    high_x = std::max(high_x, dot(m, kRight));
    low_y = std::min(low_y, dot(m, kUp));
    high_y = std::max(high_y, dot(m, kUp));
  }
  const TileLayout area = layout_of(tile_px);
  const int64_t extent_x = high_x - low_x, extent_y = high_y - low_y;
  Camera camera;
  camera.tile_px = tile_px;
  camera.centre_x = (low_x + high_x) / 2;
  camera.centre_y = (low_y + high_y) / 2;
  // The smaller of the two scales that fit, so that the whole box shows.
  if (area.width * extent_y <= area.height * extent_x) {
    camera.scale_num = area.width * kSubpixels;
    camera.scale_den = extent_x;
  } else {
    camera.scale_num = area.height * kSubpixels;
    camera.scale_den = extent_y;
  }
  if (camera.scale_den == 0) camera.scale_den = 1;  // a single point
  camera.origin_x = area.left * kSubpixels + area.width * kSubpixels / 2;
  camera.origin_y = area.top * kSubpixels + area.height * kSubpixels / 2;
  return camera;
}

ScreenPoint project(const Camera& camera, const Position& point) {
  const Model m = model_of(point);
  return {camera.origin_x + (dot(m.v, kRight) - camera.centre_x) * camera.scale_num / camera.scale_den,
          camera.origin_y - (dot(m.v, kUp) - camera.centre_y) * camera.scale_num / camera.scale_den,
          dot(m.v, kToward)};
}

Image draw_sheet(std::span<const SheetFrame> frames, std::span<const Triangle> triangles, uint32_t tile_px) {
  Image image;
  const uint32_t rows = static_cast<uint32_t>((frames.size() + kSheetColumns - 1) / kSheetColumns);
  image.width = kSheetColumns * tile_px;
  image.height = rows * tile_px;
  image.rgb.resize(size_t{image.width} * image.height * 3);
  // Tiles with no frame at the end of the last row.
  for (size_t i = 0; i < image.rgb.size(); i += 3) {
    image.rgb[i] = kBackground.r;
    image.rgb[i + 1] = kBackground.g;
    image.rgb[i + 2] = kBackground.b;
  }
  const Camera camera = frame_camera(bounds_of(frames), tile_px);
  std::vector<int64_t> depth(size_t{tile_px} * tile_px);
  for (size_t f = 0; f < frames.size(); ++f) {
    Tile tile{&image, static_cast<uint32_t>(f % kSheetColumns) * tile_px,
              static_cast<uint32_t>(f / kSheetColumns) * tile_px, tile_px, &depth};
    draw_tile(tile, camera, frames[f], triangles);
  }
  return image;
}
