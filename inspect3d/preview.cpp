// inspect3d preview [--out FILE] [--size PX]: a PNG contact sheet of the
// frames of aniv00.3d and data00.3d of the current directory, with the
// triangles that touch a vertex out of range in its source frame drawn red.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "cli.h"
#include "png.h"
#include "render.h"

namespace {

// The contact sheet of a conversion and what drawing it found.
struct Preview {
  std::vector<uint32_t> numbers;     // the frames of the sheet, one a tile
  Image image;                       // the sheet
  uint32_t left_out = 0;             // triangles not drawn for an index out of range
  uint32_t red = 0;                  // triangles drawn red, over all tiles
  bool other_source = false;         // the source frames give another vertex count than the file
  uint32_t source_vertex_count = 0;  // the source frames' vertex count, if they were read
  Failure failure;                   // a frame or the source frames could not be read, or the sheet written
};

// Writes `image` as the PNG file `out`, staged as every output of inspect3d.
Failure write_png_file(const std::string& out, const Image& image) {
  const std::vector<uint8_t> png = encode_png(image);
  if (png.empty()) return failure("cannot write " + out + ": the sheet cannot be encoded as PNG");
  return write_output(out, std::string(png.begin(), png.end()));
}

constexpr char kDefaultOut[] = "preview.png";

// Marks, in each frame of the sheet, the vertices whose source position does
// not pack without wrapping: the test check reports wrapped coordinates by.
// Takes the frames as read_frame_sequence hands them over.
class RangeMarks {
 public:
  RangeMarks(const std::vector<uint32_t>& numbers, uint32_t vertex_count)
      : marks(numbers.size()), numbers_(numbers), vertex_count_(vertex_count) {}

  std::vector<std::vector<uint8_t>> marks;  // per tile, one flag a vertex; empty: no source

  void begin_frame(uint32_t frame, const char*) {
    const auto at = std::find(numbers_.begin(), numbers_.end(), frame);
    tile_ = at == numbers_.end() ? kNoTile : at - numbers_.begin();
    if (tile_ != kNoTile) marks[tile_].clear();
  }

  void vertex(const Vertex& v) {
    if (tile_ != kNoTile) marks[tile_].push_back(!position_packs_in_range(v.x, v.y, v.z));
  }

  // Marks only fit the vertices of the same mesh.
  void end_frame(uint32_t, uint32_t vertex_count) {
    if (tile_ != kNoTile && vertex_count != vertex_count_) marks[tile_].clear();
  }

  // frameconv stops at this frame: it has no source in the conversion.
  void drop_frame() {
    if (tile_ != kNoTile) marks[tile_].clear();
  }

  void left_out(LeftOutKind, uint32_t, const char*, size_t) {}

 private:
  static constexpr ptrdiff_t kNoTile = -1;
  const std::vector<uint32_t>& numbers_;
  uint32_t vertex_count_;
  ptrdiff_t tile_ = kNoTile;
};

bool parse_tile_size(const char* text, uint32_t& px) {
  const char* end = text + std::strlen(text);
  const auto result = std::from_chars(text, end, px);
  return result.ec == std::errc() && result.ptr == end && px >= kTileSmallest && px <= kTileLargest;
}

bool is_tile_size(const std::string& text) {
  uint32_t px = 0;
  return parse_tile_size(text.c_str(), px);
}

enum { kOut, kSize };
static_assert(kTileSmallest == 32 && kTileLargest == 1024, "the tile sizes --size names");
constexpr OptionSpec kOptions[] = {
    {"--out", "--out needs a file name", nullptr},
    {"--size", "--size needs a tile size from 32 to 1024 pixels", is_tile_size},
};

// "0, 2, 4, ..., 23".
std::string listed(const std::vector<uint32_t>& numbers) {
  std::string text;
  for (uint32_t n : numbers) text += (text.empty() ? "" : ", ") + std::to_string(n);
  return text;
}

// The number of triangles of the sheet drawn red, over all tiles.
uint32_t count_red(const std::vector<Triangle>& triangles, const std::vector<std::vector<uint8_t>>& marks) {
  uint32_t count = 0;
  for (const std::vector<uint8_t>& flags : marks) {
    if (flags.empty()) continue;
    for (const Triangle& t : triangles) count += flags[t[0]] || flags[t[1]] || flags[t[2]];
  }
  return count;
}

// Draws the contact sheet of `conversion` in tiles of `px` pixels, with the
// source frames of the current directory, where there are some, marking the
// vertices out of range, and writes it as the PNG file `out`.
Preview write_preview(const Conversion& conversion, uint32_t px, const std::string& out) {
  const Animation& animation = conversion.animation;
  Preview preview;
  // The frames of the sheet, decoded, and the triangles every frame draws.
  preview.numbers = sheet_frame_numbers(animation.frame_count);
  std::vector<std::vector<Position>> positions(preview.numbers.size());
  for (size_t t = 0; t < preview.numbers.size(); ++t) {
    preview.failure = frame_positions(animation, preview.numbers[t], positions[t]);
    if (preview.failure) return preview;
  }
  const std::vector<Triangle> triangles =
      triangles_in_range(conversion.mesh, animation.vertex_count, preview.left_out);

  // The source frames, where they are beside the conversion, mark the
  // vertices out of range; without them nothing is red.
  RangeMarks range(preview.numbers, animation.vertex_count);
  SourceFrames source;
  preview.failure = read_source_frames(".", range, source);
  if (preview.failure) return preview;
  preview.source_vertex_count = source.vertex_count;
  preview.other_source = !source.missing && source.vertex_count != animation.vertex_count;

  std::vector<SheetFrame> frames(preview.numbers.size());
  for (size_t t = 0; t < frames.size(); ++t) frames[t] = {preview.numbers[t], positions[t], range.marks[t]};
  preview.image = draw_sheet(frames, triangles, px);
  preview.red = count_red(triangles, range.marks);
  preview.failure = write_png_file(out, preview.image);
  return preview;
}

// Says what write_preview found and wrote to `out`; returns the exit status.
int print_preview(const Preview& preview, const std::string& out, const Animation& animation) {
  if (preview.other_source) {
    std::fprintf(stderr,
                 "inspect3d: the frames %s, ... give %s, %s %u: they are not its source, so "
                 "nothing is drawn red\n",
                 frame_file_name(0).c_str(),
                 counted(preview.source_vertex_count, "vertex", "vertices").c_str(), kVertexAnimationName,
                 animation.vertex_count);
  }
  if (preview.failure) return say(preview.failure);
  const Image& image = preview.image;

  std::printf("wrote %s, %u x %u pixels: frame%s %s of %s\n", out.c_str(), image.width, image.height,
              preview.numbers.size() == 1 ? "" : "s", listed(preview.numbers).c_str(),
              frames_of(animation.frame_count, animation.vertex_count).c_str());
  int status = kDone;
  if (preview.left_out > 0) {
    say_left_out(preview.left_out, animation.vertex_count);
    status = kProblemsFound;
  }
  if (preview.red > 0) {
    std::fprintf(stderr,
                 "inspect3d: drew %s red for a vertex out of range in its source frame (inspect3d check "
                 "lists them)\n",
                 counted(preview.red, "triangle", "triangles").c_str());
    status = kProblemsFound;
  }
  return status;
}

}  // namespace

int cmd_preview(int argc, char** argv) {
  Arguments args;
  if (const std::optional<int> end = read_arguments(argc, argv, kOptions, Operands::kNone, args)) return *end;
  const std::vector<OptionValue>& options = args.options;
  const std::string out = options[kOut].given ? options[kOut].text : kDefaultOut;
  uint32_t px = kTileDefault;
  if (options[kSize].given) parse_tile_size(options[kSize].text.c_str(), px);

  Conversion conversion;
  if (Failure read = read_conversion(".", conversion)) return say(read);
  if (Failure undecodable = cannot_decode(conversion)) return say(undecodable);

  return print_preview(write_preview(conversion, px, out), out, conversion.animation);
}
