// Drawing a conversion: a contact sheet of frames, one square tile per frame,
// each seen by the same orthographic camera from a fixed three-quarter angle
// (above, in front and to the right of the mesh), flat-shaded with one light.
//
// The model is taken as OBJ files have it: y up, the front facing +z, so the
// camera looks from (+x, +y, +z) toward the origin.
//
// Once each coordinate is rounded to eighths of a unit (exact for decoded
// positions, which are whole eighths or quarters), everything down to the
// pixels is integer arithmetic (the camera's axes as fixed-point integers,
// pixels in sixteenths), so that a sheet is the same bytes on every build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "conversion.h"

// Tiles of a sheet: at most 12, in rows of 4.
constexpr uint32_t kSheetTileLimit = 12;
constexpr uint32_t kSheetColumns = 4;

// Tile sizes in pixels: the label needs 32 to fit, and 1,024 keeps every
// product of the rasterizer within 64 bits (and a sheet within 36 MB).
constexpr uint32_t kTileSmallest = 32;
constexpr uint32_t kTileLargest = 1024;
constexpr uint32_t kTileDefault = 256;

// Coordinates are taken within +-1,024 model units (a decoded frame lies
// within +-128); beyond that they are clamped, so products cannot overflow.
constexpr double kCoordinateLimit = 1024.0;

struct SheetFrame {
  uint32_t number = 0;                    // the frame number its tile shows
  std::span<const Position> points;       // every vertex, in model units
  std::span<const uint8_t> out_of_range;  // per vertex, nonzero: its triangles are red; empty: none are
};

struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb&) const = default;
};

// An RGB image, rows from the top, 3 bytes a pixel.
struct Image {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgb;
  Rgb at(uint32_t x, uint32_t y) const {
    const size_t i = (size_t{y} * width + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
  }
};

constexpr Rgb kBackground = {38, 42, 50};
constexpr Rgb kTileEdge = {20, 22, 27};  // the last column and row of every tile
constexpr Rgb kLabelColour = {250, 250, 250};
constexpr Rgb kMeshColour = {205, 212, 224};  // lit fully; shading scales it down
constexpr Rgb kOutOfRangeColour = {240, 48, 40};

// The bounding box of points, in eighths of a model unit.
struct Bounds {
  int32_t low[3] = {0, 0, 0};
  int32_t high[3] = {0, 0, 0};
};

// A point as the rasterizer sees it: x and y in sixteenths of a pixel from the
// top left corner of its tile, x to the right, y down; depth larger nearer.
struct ScreenPoint {
  int64_t x, y, depth;
};

// The one mapping from model to pixels: the camera's axes, then a scale and
// offset that centre `bounds` in the part of a tile below its label.
struct Camera {
  uint32_t tile_px = 0;
  int64_t centre_x = 0, centre_y = 0;    // of the framed box, in camera units
  int64_t scale_num = 1, scale_den = 1;  // sixteenths of a pixel per camera unit
  int64_t origin_x = 0, origin_y = 0;    // where the centre lands, in sixteenths of a pixel
};

// The frame numbers of a sheet for a file of `frame_count` frames: all of
// them up to 12, else 12 evenly spaced from the first to the last.
std::vector<uint32_t> sheet_frame_numbers(uint32_t frame_count);

// The bounding box of every point of every frame (all zero if there are none).
Bounds bounds_of(std::span<const SheetFrame> frames);

// The camera that frames `bounds` in a tile of `tile_px` pixels.
Camera frame_camera(const Bounds& bounds, uint32_t tile_px);

ScreenPoint project(const Camera& camera, const Position& point);

// Draws `frames`, framed together by their bounding box, into tiles of
// `tile_px` pixels (kTileSmallest to kTileLargest), 4 to a row: an image
// 4 x tile_px wide and one tile_px a row high. A triangle with an index at or
// beyond a frame's point count is left out of that frame.
Image draw_sheet(std::span<const SheetFrame> frames, std::span<const Triangle> triangles, uint32_t tile_px);

// The label of a tile: the frame number's digits from a 3 x 5 bitmap font,
// each cell label_scale pixels square, one empty cell between digits, the top
// left at label_inset pixels from the tile's corner.
constexpr int kGlyphColumns = 3, kGlyphRows = 5;
uint32_t label_scale(uint32_t tile_px);
uint32_t label_inset(uint32_t tile_px);
// Row r (from the top) of the glyph of `digit`: bit 2 the left column.
uint8_t glyph_row(int digit, int r);
