// End-to-end runs of `inspect3d preview` on conversions made by the built
// frameconv (and clipmerge), each in a fresh directory; the PNG it writes is
// read back with stb_image.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "run.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include "stb_image.h"

namespace {

// The programs under test: the built ones, or others named in the environment
// (the Windows executables under Wine, tests/run.h).
const std::string kInspect = program_under_test("ANIM3D_INSPECT3D", INSPECT3D_PROGRAM);
const std::string kFrameconv = program_under_test("ANIM3D_FRAMECONV", FRAMECONV_PROGRAM);
const std::string kClipmerge = CLIPMERGE_PROGRAM;

// A PNG file read back: 8-bit RGB, rows from the top.
struct Png {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  bool red_at(int x, int y) const {
    const uint8_t* p = &rgb[(size_t(y) * width + x) * 3];
    return p[0] > 2 * p[1] && p[0] > 2 * p[2];
  }
  // The number of red pixels of the tile `tile` of `px` pixels, 4 to a row.
  int red_in_tile(int tile, int px) const {
    int count = 0;
    for (int y = tile / 4 * px; y < (tile / 4 + 1) * px; ++y) {
      for (int x = tile % 4 * px; x < (tile % 4 + 1) * px; ++x) count += red_at(x, y);
    }
    return count;
  }
};

Png read_png(const std::filesystem::path& file) {
  Png png;
  const auto bytes = read_bytes(file);
  if (!bytes) return png;
  int channels = 0;
  stbi_uc* pixels =
      stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(bytes->data()), static_cast<int>(bytes->size()),
                            &png.width, &png.height, &channels, 3);
  if (!pixels) return Png{};
  png.rgb.assign(pixels, pixels + size_t(png.width) * png.height * 3);
  stbi_image_free(pixels);
  return png;
}

// 7 frames of 5 vertices, two triangles; vertex 4 moves, and in frame 3 its
// x is 130, beyond the range, so it wraps.
void write_frames(const TempDir& dir) {
  for (int f = 0; f < 7; ++f) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "o Thing\nv -6 0 1\nv -1 0.5 1\nv -5.5 6 0.25\nv 2 -3 -1\nv %g %g 2.5\nf 1 2 3\nf 2 4 5\n",
                  f == 3 ? 130.0 : 4.0 + f, 3.0 - 0.5 * f);
    char name[32];
    std::snprintf(name, sizeof name, "anima%03d.obj", f);
    write_bytes(dir / name, text);
  }
}

// Converts the frames of `dir`. Some tests' frames wrap a coordinate on
// purpose, which frameconv's closing text counts after "Conversion Complete".
void convert(const TempDir& dir) {
  const auto messages = run_program(kFrameconv, dir.path).messages;
  ASSERT_EQ(messages.size(), 1u);
  ASSERT_TRUE(messages[0].starts_with("Conversion Complete") &&
              messages[0].ends_with(": Conversion Complete"))
      << messages[0];
}

TEST(Preview, SheetOfATinyConversionWithAWrappedVertex) {
  TempDir dir;
  write_frames(dir);
  convert(dir);
  const CapturedRun run = run_program(kInspect, dir.path, {"preview", "--size", "48", "--out", "sheet.png"});
  EXPECT_EQ(run.exit_status, 1) << run.err;
  EXPECT_EQ(run.out,
            "wrote sheet.png, 192 x 96 pixels: frames 0, 1, 2, 3, 4, 5, 6 of 7 frames of 5 vertices\n");
  EXPECT_EQ(run.err,
            "inspect3d: drew 1 triangle red for a vertex out of range in its source frame (inspect3d check "
            "lists them)\n");
  const Png png = read_png(dir / "sheet.png");
  ASSERT_EQ(png.width, 4 * 48);
  ASSERT_EQ(png.height, 2 * 48);
  for (int tile = 0; tile < 8; ++tile) {
    if (tile == 3) {
      EXPECT_GT(png.red_in_tile(tile, 48), 0);
    } else {
      EXPECT_EQ(png.red_in_tile(tile, 48), 0) << tile;
    }
  }
  EXPECT_EQ(list_dir(dir.path).back(), "sheet.png") << "and no temporary left";

  // Without the source frames nothing is red, and the sheet is otherwise the same.
  for (int f = 0; f < 7; ++f) std::filesystem::remove(dir / ("anima00" + std::to_string(f) + ".obj"));
  const CapturedRun alone = run_program(kInspect, dir.path, {"preview", "--size", "48"});
  EXPECT_EQ(alone.exit_status, 0) << alone.err;
  EXPECT_EQ(alone.err, "");
  const Png plain = read_png(dir / "preview.png");
  ASSERT_EQ(plain.rgb.size(), png.rgb.size());
  size_t differ = 0, differ_elsewhere = 0;
  for (size_t i = 0; i < png.rgb.size(); ++i) {
    const size_t x = i / 3 % png.width, y = i / 3 / png.width;
    differ += plain.rgb[i] != png.rgb[i];
    differ_elsewhere += plain.rgb[i] != png.rgb[i] && !(x >= 3 * 48 && y < 48);
  }
  EXPECT_GT(differ, 0u);
  EXPECT_EQ(differ_elsewhere, 0u) << "only tile 3 had red";
  EXPECT_EQ(plain.red_in_tile(3, 48), 0);
}

// A merged file of two clips: 14 frames, of which the sheet shows 12 from
// the first to the last, at the default tile size.
TEST(Preview, MergedClips) {
  TempDir dir;
  write_frames(dir);
  convert(dir);
  std::filesystem::rename(dir / "aniv00.3d", dir / "a1.3d");
  std::filesystem::copy_file(dir / "a1.3d", dir / "a2.3d");
  for (int f = 0; f < 7; ++f) std::filesystem::remove(dir / ("anima00" + std::to_string(f) + ".obj"));
  ASSERT_EQ(run_program(kClipmerge, dir.path).messages,
            std::vector<std::string>{"Conversion Complete: Conversion Complete"});
  const CapturedRun run = run_program(kInspect, dir.path, {"preview"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out,
            "wrote preview.png, 1024 x 768 pixels: frames 0, 1, 2, 4, 5, 6, 7, 8, 9, 11, 12, 13 of 14 frames "
            "of 5 vertices\n");
  const Png png = read_png(dir / "preview.png");
  EXPECT_EQ(png.width, 1024);
  EXPECT_EQ(png.height, 768);
}

// The picture in the README is what the command draws of the bundled example.
TEST(Preview, BundledExampleAsTheReadmeShowsIt) {
  TempDir dir;
  for (const auto& entry : std::filesystem::directory_iterator(EXAMPLE_DIR)) {
    std::filesystem::copy_file(entry.path(), dir / entry.path().filename().string());
  }
  convert(dir);
  const CapturedRun run = run_program(kInspect, dir.path, {"preview"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  const Png drawn = read_png(dir / "preview.png");
  const Png shown = read_png(README_PREVIEW);
  EXPECT_EQ(drawn.width, 1024);
  EXPECT_EQ(drawn.height, 768);
  EXPECT_EQ(shown.width, drawn.width);
  EXPECT_EQ(shown.height, drawn.height);
  EXPECT_TRUE(shown.rgb == drawn.rgb) << "docs/preview.png is out of date: ./build.sh preview draws it again";
}

TEST(Preview, UsageErrorsAndUnwritableOutputExitWithTwo) {
  TempDir dir;
  write_frames(dir);
  convert(dir);
  std::filesystem::create_directory(dir / "taken.png");
  struct Case {
    std::vector<std::string> args;
    std::string err_start;
  };
  const Case cases[] = {
      {{"preview", "--size"}, "inspect3d: --size needs a tile size from 32 to 1024 pixels\nusage:"},
      {{"preview", "--size", "31"}, "inspect3d: --size needs a tile size from 32 to 1024 pixels\n"},
      {{"preview", "--size", "1025"}, "inspect3d: --size needs a tile size from 32 to 1024 pixels\n"},
      {{"preview", "--size", "64px"}, "inspect3d: --size needs a tile size from 32 to 1024 pixels\n"},
      {{"preview", "--size", "64", "--size", "64"}, "inspect3d: preview takes --size once\n"},
      {{"preview", "--out"}, "inspect3d: --out needs a file name\n"},
      {{"preview", "--out", ""}, "inspect3d: --out needs a file name\n"},
      {{"preview", "--frames", "1-2"}, "inspect3d: preview does not take --frames\n"},
      {{"preview", "--out", "taken.png"},
       "inspect3d: cannot write taken.png: its name is taken by a folder, a read-only file or a file in "
       "use\n"},
      {{"preview", "--out", "nowhere/sheet.png"},
       "inspect3d: cannot write nowhere/sheet.png: its folder is missing or cannot be written in\n"},
  };
  for (const Case& c : cases) {
    const CapturedRun run = run_program(kInspect, dir.path, c.args);
    std::string what;
    for (const std::string& arg : c.args) what += " " + arg;
    EXPECT_EQ(run.exit_status, 2) << what;
    EXPECT_EQ(run.out, "") << what;
    EXPECT_EQ(run.err.substr(0, c.err_start.size()), c.err_start) << what;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "preview.png"));
  EXPECT_FALSE(std::filesystem::exists(dir / "taken.png~inspect3d-new"));

  std::filesystem::remove(dir / "aniv00.3d");
  const CapturedRun missing = run_program(kInspect, dir.path, {"preview"});
  EXPECT_EQ(missing.exit_status, 2);
  EXPECT_EQ(missing.err, "inspect3d: cannot read aniv00.3d\n");
}

}  // namespace
