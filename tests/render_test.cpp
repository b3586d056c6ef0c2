// The contact sheet at pixel level, on tiny meshes: where the camera puts
// things, what the depth buffer keeps, which triangles are red, what an empty
// frame and a label look like.
#include "render.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kPx = 64;

bool is_red(Rgb c) { return c.r > 2 * c.g && c.r > 2 * c.b; }
bool is_mesh(Rgb c) { return !(c == kBackground) && !(c == kTileEdge) && !(c == kLabelColour) && !is_red(c); }

// Pixel (x, y) of tile `tile`.
Rgb tile_at(const Image& image, uint32_t tile, uint32_t x, uint32_t y, uint32_t px = kPx) {
  return image.at(tile % kSheetColumns * px + x, tile / kSheetColumns * px + y);
}

uint32_t count_in_tile(const Image& image, uint32_t tile, const std::function<bool(Rgb)>& test,
                       uint32_t px = kPx) {
  uint32_t count = 0;
  for (uint32_t y = 0; y < px; ++y) {
    for (uint32_t x = 0; x < px; ++x) count += test(tile_at(image, tile, x, y, px));
  }
  return count;
}

// The number a tile's label shows, read back cell by cell with the font.
std::string read_label(const Image& image, uint32_t tile, uint32_t px) {
  const uint32_t scale = label_scale(px), inset = label_inset(px);
  std::string number;
  for (uint32_t d = 0;; ++d) {
    uint8_t rows[kGlyphRows] = {};
    bool any = false;
    for (int r = 0; r < kGlyphRows; ++r) {
      for (int c = 0; c < kGlyphColumns; ++c) {
        const uint32_t x = inset + (d * (kGlyphColumns + 1) + c) * scale + scale / 2;
        const uint32_t y = inset + r * scale + scale / 2;
        if (x >= px) return number;
        if (tile_at(image, tile, x, y, px) == kLabelColour) {
          rows[r] |= static_cast<uint8_t>(4 >> c);
          any = true;
        }
      }
    }
    if (!any) return number;
    int found = -1;
    for (int digit = 0; digit < 10; ++digit) {
      bool same = true;
      for (int r = 0; r < kGlyphRows; ++r) same = same && glyph_row(digit, r) == rows[r];
      if (same) found = digit;
    }
    if (found < 0) return number + "?";
    number += static_cast<char>('0' + found);
  }
}

SheetFrame frame_of(uint32_t number, const std::vector<Position>& points,
                    const std::vector<uint8_t>& out_of_range = {}) {
  return {number, points, out_of_range};
}

// An odd triangle, a different value on every axis.
const std::vector<Position> kTriangle = {{-3.5, 1.25, 2}, {4.125, -2, -1.5}, {0.5, 6.75, 0.25}};

TEST(Render, TriangleLandsWhereTheCameraSays) {
  const std::vector<Position> points = {kTriangle[0], kTriangle[1], kTriangle[2], {-9, -7, -8}, {10, 9, 11}};
  const std::vector<SheetFrame> frames = {frame_of(0, points)};
  const std::vector<Triangle> triangles = {{0, 1, 2}};
  const Image image = draw_sheet(frames, triangles, kPx);
  const Camera camera = frame_camera(bounds_of(frames), kPx);

  int64_t x_low = INT64_MAX, x_high = INT64_MIN, y_low = INT64_MAX, y_high = INT64_MIN, x_sum = 0, y_sum = 0;
  for (int c = 0; c < 3; ++c) {
    const ScreenPoint s = project(camera, kTriangle[c]);
    x_low = std::min(x_low, s.x / 16), x_high = std::max(x_high, s.x / 16);
    y_low = std::min(y_low, s.y / 16), y_high = std::max(y_high, s.y / 16);
    x_sum += s.x, y_sum += s.y;
  }
  EXPECT_TRUE(is_mesh(tile_at(image, 0, x_sum / 48, y_sum / 48))) << "the centroid";
  uint32_t inside = 0, outside = 0;
  for (uint32_t y = 0; y < kPx; ++y) {
    for (uint32_t x = 0; x < kPx; ++x) {
      if (!is_mesh(tile_at(image, 0, x, y))) continue;
      const bool in_box = x >= x_low && x <= x_high && y >= y_low && y <= y_high;
      (in_box ? inside : outside) += 1;
    }
  }
  EXPECT_GT(inside, 20u);
  EXPECT_EQ(outside, 0u);
}

// The view is from above, in front (+z) and to the right (+x): a step along
// each axis moves a point on the screen (x right, y down) and toward the
// viewer as listed.
TEST(Render, CameraLooksFromAboveFrontRight) {
  struct Case {
    const char* step;
    Position to;
    int right, down;  // signs of the move on the screen
  };
  const Case cases[] = {
      {"+x", {1, 0, 0}, +1, +1},
      {"+y", {0, 1, 0}, 0, -1},
      {"+z", {0, 0, 1}, -1, +1},
  };
  const Camera camera = frame_camera(Bounds{{-80, -80, -80}, {80, 80, 80}}, kPx);
  const ScreenPoint origin = project(camera, {0, 0, 0});
  for (const Case& c : cases) {
    const ScreenPoint moved = project(camera, c.to);
    const auto sign = [](int64_t v) { return (v > 0) - (v < 0); };
    EXPECT_EQ(sign(moved.x - origin.x), c.right) << c.step;
    EXPECT_EQ(sign(moved.y - origin.y), c.down) << c.step;
    EXPECT_GT(moved.depth, origin.depth) << c.step << " faces the viewer";
  }
}

// Two squares, one behind the other, one of them red (two of its vertices out
// of range): the nearer one shows, whatever the order and winding they come in.
TEST(Render, DepthBufferKeepsTheNearerSideOfEitherWinding) {
  // A square in the plane z = 2 (nearer) and one at z = -2, both facing +z.
  const std::vector<Position> points = {{-2, -2, 2},  {2, -2, 2},  {2, 2, 2},  {-2, 2, 2},
                                        {-2, -2, -2}, {2, -2, -2}, {2, 2, -2}, {-2, 2, -2}};
  struct Case {
    const char* name;
    std::vector<Triangle> triangles;
  };
  const std::vector<Case> cases = {
      {"near first", {{0, 1, 2}, {0, 2, 3}, {4, 5, 6}, {4, 6, 7}}},
      {"near last", {{4, 5, 6}, {4, 6, 7}, {0, 1, 2}, {0, 2, 3}}},
      {"near wound backwards", {{4, 5, 6}, {4, 6, 7}, {2, 1, 0}, {3, 2, 0}}},
      {"far wound backwards", {{6, 5, 4}, {7, 6, 4}, {0, 1, 2}, {0, 2, 3}}},
  };
  for (const bool near_is_red : {true, false}) {
    std::vector<uint8_t> flags(8, 0);
    flags[near_is_red ? 0 : 4] = 1;
    flags[near_is_red ? 2 : 6] = 1;
    const std::vector<SheetFrame> frames = {frame_of(0, points, flags)};
    const Camera camera = frame_camera(bounds_of(frames), kPx);
    // The centre of the near square hides the far one.
    const ScreenPoint centre = project(camera, {0, 0, 2});
    for (const Case& c : cases) {
      const Image image = draw_sheet(frames, c.triangles, kPx);
      const Rgb seen =
          tile_at(image, 0, static_cast<uint32_t>(centre.x / 16), static_cast<uint32_t>(centre.y / 16));
      EXPECT_EQ(is_red(seen), near_is_red) << c.name;
      EXPECT_TRUE(is_red(seen) || is_mesh(seen)) << c.name;
    }
  }
}

// Two frames of a triangle that moves: the tiles differ where it was and
// where it went, and nowhere else but in the label; a frame like the first
// draws the same tile.
TEST(Render, TilesDifferWhereTheMeshMoved) {
  std::vector<Position> moved = kTriangle;
  for (Position& p : moved) p.x += 5;
  const std::vector<SheetFrame> frames = {frame_of(3, kTriangle), frame_of(4, moved), frame_of(5, kTriangle)};
  const std::vector<Triangle> triangles = {{2, 0, 1}};
  const Image image = draw_sheet(frames, triangles, kPx);
  const Camera camera = frame_camera(bounds_of(frames), kPx);
  int64_t x_low = INT64_MAX, x_high = INT64_MIN, y_low = INT64_MAX, y_high = INT64_MIN;
  for (const std::vector<Position>* points :
       std::initializer_list<const std::vector<Position>*>{&kTriangle, &moved}) {
    for (const Position& p : *points) {
      const ScreenPoint s = project(camera, p);
      x_low = std::min(x_low, s.x / 16), x_high = std::max(x_high, s.x / 16);
      y_low = std::min(y_low, s.y / 16), y_high = std::max(y_high, s.y / 16);
    }
  }
  const uint32_t band = 2 * label_inset(kPx) + kGlyphRows * label_scale(kPx);
  uint32_t differ = 0, differ_outside = 0, differ_from_same = 0;
  for (uint32_t y = band; y < kPx; ++y) {
    for (uint32_t x = 0; x < kPx; ++x) {
      const bool differs = !(tile_at(image, 0, x, y) == tile_at(image, 1, x, y));
      differ += differs;
      differ_outside += differs && !(x >= x_low && x <= x_high && y >= y_low && y <= y_high);
      differ_from_same += !(tile_at(image, 0, x, y) == tile_at(image, 2, x, y));
    }
  }
  EXPECT_GT(differ, 40u);
  EXPECT_EQ(differ_outside, 0u);
  EXPECT_EQ(differ_from_same, 0u);
}

// Red marks the triangles that touch a vertex out of range in their frame.
TEST(Render, RedWhereAVertexIsOutOfRange) {
  // Two triangles apart; vertex 4 is out of range in frame 1 only.
  const std::vector<Position> points = {{-8, 0, 0}, {-3, 0, 0}, {-8, 5, 0}, {3, 0, 0}, {8, 0, 0}, {3, 5, 0}};
  const std::vector<uint8_t> none(6, 0), vertex_4 = {0, 0, 0, 0, 1, 0};
  const std::vector<SheetFrame> frames = {frame_of(0, points, none), frame_of(1, points, vertex_4),
                                          frame_of(2, points)};
  const std::vector<Triangle> triangles = {{0, 1, 2}, {3, 4, 5}};
  const Image image = draw_sheet(frames, triangles, kPx);
  const Camera camera = frame_camera(bounds_of(frames), kPx);
  const auto centre_of = [&](uint32_t tile, int t) {
    int64_t x = 0, y = 0;
    for (int c = 0; c < 3; ++c) {
      const ScreenPoint s = project(camera, points[triangles[t][c]]);
      x += s.x, y += s.y;
    }
    return tile_at(image, tile, static_cast<uint32_t>(x / 48), static_cast<uint32_t>(y / 48));
  };
  EXPECT_TRUE(is_mesh(centre_of(0, 0)));
  EXPECT_TRUE(is_mesh(centre_of(0, 1)));
  EXPECT_TRUE(is_mesh(centre_of(1, 0)));
  EXPECT_TRUE(is_red(centre_of(1, 1)));
  EXPECT_EQ(count_in_tile(image, 0, is_red), 0u);
  EXPECT_EQ(count_in_tile(image, 2, is_red), 0u) << "no flags: none red";
  EXPECT_EQ(count_in_tile(image, 1, is_mesh) + count_in_tile(image, 1, is_red),
            count_in_tile(image, 0, is_mesh));
}

// A frame with nothing to draw is its background, its edge and its label:
// no triangles, only triangles with an index out of range, or only
// triangles seen edge on.
TEST(Render, EmptyFrameIsBackgroundAndLabel) {
  struct Case {
    const char* name;
    std::vector<Triangle> triangles;
  };
  const std::vector<Position> points = {{0, 0, 0}, {1, 2, 3}, {2, 4, 6}, {-5, 1, 4}};
  const std::vector<Case> cases = {
      {"no triangles", {}},
      {"indices out of range", {{0, 1, 4}, {7, 2, 3}}},
      {"no area", {{0, 1, 2}, {3, 3, 3}}},
  };
  for (const Case& c : cases) {
    const std::vector<SheetFrame> frames = {frame_of(17, points)};
    const Image image = draw_sheet(frames, c.triangles, kPx);
    EXPECT_EQ(count_in_tile(image, 0,
                            [](Rgb p) { return !(p == kBackground || p == kTileEdge || p == kLabelColour); }),
              0u)
        << c.name;
    EXPECT_EQ(count_in_tile(image, 0, [](Rgb p) { return p == kTileEdge; }), 2 * kPx - 1) << c.name;
    EXPECT_EQ(read_label(image, 0, kPx), "17") << c.name;
  }
}

// Every tile shows its frame number, at every tile size, and a sheet is 4
// tiles wide and one tile a row high.
TEST(Render, TilesAreLabelledInRowsOfFour) {
  struct Case {
    uint32_t frame_count, px, rows;
  };
  const Case cases[] = {{1, kTileSmallest, 1}, {4, 48, 1},     {5, 64, 2},
                        {24, kTileDefault, 3}, {1000, 100, 3}, {3, kTileLargest, 1}};
  for (const Case& c : cases) {
    const std::vector<uint32_t> numbers = sheet_frame_numbers(c.frame_count);
    std::vector<SheetFrame> frames;
    for (uint32_t n : numbers) frames.push_back(frame_of(n, kTriangle));
    const Image image = draw_sheet(frames, std::vector<Triangle>{{0, 1, 2}}, c.px);
    ASSERT_EQ(image.width, 4 * c.px) << c.frame_count;
    ASSERT_EQ(image.height, c.rows * c.px) << c.frame_count;
    for (uint32_t t = 0; t < numbers.size(); ++t) {
      EXPECT_EQ(read_label(image, t, c.px), std::to_string(numbers[t])) << c.frame_count << " tile " << t;
      EXPECT_GT(count_in_tile(image, t, is_mesh, c.px), 0u) << c.frame_count << " tile " << t;
    }
    // Tiles past the last frame are background.
    for (uint32_t t = static_cast<uint32_t>(numbers.size()); t < c.rows * kSheetColumns; ++t) {
      EXPECT_EQ(count_in_tile(
                    image, t, [](Rgb p) { return p == kBackground; }, c.px),
                c.px * c.px);
    }
  }
}

TEST(Render, SheetFramesAreEvenlySpacedFromFirstToLast) {
  struct Case {
    uint32_t frame_count;
    std::vector<uint32_t> numbers;
  };
  const std::vector<Case> cases = {
      {0, {}},
      {1, {0}},
      {5, {0, 1, 2, 3, 4}},
      {12, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
      {13, {0, 1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 12}},
      {24, {0, 2, 4, 6, 8, 10, 13, 15, 17, 19, 21, 23}},
      {65535, {0, 5958, 11915, 17873, 23831, 29788, 35746, 41703, 47661, 53619, 59576, 65534}},
  };
  for (const Case& c : cases) EXPECT_EQ(sheet_frame_numbers(c.frame_count), c.numbers) << c.frame_count;
}

}  // namespace
