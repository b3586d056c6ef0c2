// End-to-end runs of the built inspect3d, on outputs of the built frameconv,
// each in a fresh directory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "run.h"

namespace {

// The programs under test: the built ones, or others named in the environment
// (the Windows executables under Wine, tests/run.h).
const std::string kInspect = program_under_test("ANIM3D_INSPECT3D", INSPECT3D_PROGRAM);
const std::string kFrameconv = program_under_test("ANIM3D_FRAMECONV", FRAMECONV_PROGRAM);

struct Vertex {
  double x, y, z;
};

// The source of a test animation: vertex positions per frame and the faces,
// as the first frame gives them.
struct Source {
  std::vector<std::vector<Vertex>> frames;
  std::string faces;
};

std::string frame_name(int frame) {
  char name[32];
  std::snprintf(name, sizeof name, "anima%03d.obj", frame);
  return name;
}

std::string frame_text(const std::vector<Vertex>& vertices, const std::string& faces) {
  std::string text = "# exported\no Thing\n";
  for (const Vertex& v : vertices) {
    char line[128];
    std::snprintf(line, sizeof line, "v %.17g %.17g %.17g\n", v.x, v.y, v.z);
    text += line;
  }
  return text + "vn 0 1 0\n" + faces;
}

void write_source(const TempDir& dir, const Source& source) {
  for (size_t f = 0; f < source.frames.size(); ++f) {
    write_bytes(dir / frame_name(static_cast<int>(f)), frame_text(source.frames[f], source.faces));
  }
}

// Converts the frames in `dir`; frameconv's closing text says what it could
// not store, in the terms check reports it.
void convert(const TempDir& dir, const std::string& text = "Conversion Complete") {
  ASSERT_EQ(run_program(kFrameconv, dir.path).messages,
            std::vector<std::string>{text + ": Conversion Complete"});
}

// 7 frames of 5 vertices, every coordinate within range and different per
// frame, vertex and axis, some near the edges of the range.
Source in_range_source() {
  Source source;
  for (int f = 0; f < 7; ++f) {
    std::vector<Vertex> vertices;
    for (int i = 0; i < 5; ++i)
      vertices.push_back({0.37 * f - 1.3 * i, 2.11 * i + f * 0.05, -0.6 * f + 0.93 * i});
    source.frames.push_back(vertices);
  }
  source.frames[3][1] = {127.99, -128.1, 127.99};
  source.frames[5][4] = {-128.12, 127.874, -128.24};
  source.faces = "f 1 2 3\nf 5/1/1 4/2/2 3/3/3\nf 2 4 5\n";
  return source;
}

// The `v` and `f` lines of an OBJ file inspect3d wrote.
struct Decoded {
  std::vector<Vertex> vertices;
  std::vector<std::vector<int>> faces;
};

Decoded parse_obj(const std::string& text) {
  Decoded decoded;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string kind;
    fields >> kind;
    if (kind == "v") {
      Vertex v{};
      fields >> v.x >> v.y >> v.z;
      decoded.vertices.push_back(v);
    } else if (kind == "f") {
      std::vector<int> face;
      for (int index; fields >> index;) face.push_back(index);
      decoded.faces.push_back(face);
    }
  }
  return decoded;
}

// Truncation moves a coordinate toward zero by less than one step.
void expect_within_one_step(double source, double decoded, double step, const std::string& where) {
  EXPECT_LE(std::fabs(decoded), std::fabs(source)) << where;
  EXPECT_LT(std::fabs(source - decoded), step) << where;
}

// The numbers of check's error table row for `label` ("0", "1", ..., "all"):
// the largest error in x, y and z, and the wrapped count.
std::vector<double> error_row(const std::string& out, const std::string& label) {
  const std::string start = "\n" + std::string(5 - label.size(), ' ') + label + " ";
  const size_t at = out.find(start);
  if (at == std::string::npos) return {};
  std::istringstream fields(out.substr(at + start.size(), out.find('\n', at + 1) - at - start.size()));
  std::vector<double> row;
  for (double value; fields >> value;) row.push_back(value);
  return row;
}

TEST(Inspect3d, ConvertDecodeCompareRoundTrip) {
  TempDir dir;
  const Source source = in_range_source();
  write_source(dir, source);
  convert(dir);

  const CapturedRun run = run_program(kInspect, dir.path, {"obj", "--all", "--out", "decoded"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, "wrote 7 files, decoded/frame000.obj to frame006.obj\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(list_dir(dir / "decoded"),
            (std::vector<std::string>{"frame000.obj", "frame001.obj", "frame002.obj", "frame003.obj",
                                      "frame004.obj", "frame005.obj", "frame006.obj"}));
  for (int f = 0; f < 7; ++f) {
    const auto text = read_bytes(dir / "decoded" / ("frame00" + std::to_string(f) + ".obj"));
    ASSERT_TRUE(text);
    const Decoded decoded = parse_obj(*text);
    ASSERT_EQ(decoded.vertices.size(), 5u) << f;
    for (int i = 0; i < 5; ++i) {
      const Vertex& s = source.frames[f][i];
      const Vertex& d = decoded.vertices[i];
      const std::string where = "frame " + std::to_string(f) + " vertex " + std::to_string(i);
      expect_within_one_step(s.x, d.x, 0.125, where + " x");
      expect_within_one_step(s.y, d.y, 0.125, where + " y");
      expect_within_one_step(s.z, d.z, 0.25, where + " z");
    }
    EXPECT_EQ(decoded.faces, (std::vector<std::vector<int>>{{1, 2, 3}, {5, 4, 3}, {2, 4, 5}})) << f;
  }

  const CapturedRun check = run_program(kInspect, dir.path, {"check"});
  EXPECT_EQ(check.exit_status, 0) << check.out;
  EXPECT_NE(check.out.find("\nwrapped coordinates: none\n"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("\nresult: ok\n"), std::string::npos) << check.out;
  for (const char* label : {"0", "3", "5", "6", "all"}) {
    const std::vector<double> row = error_row(check.out, label);
    ASSERT_EQ(row.size(), 4u) << label << "\n" << check.out;
    EXPECT_LT(row[0], 0.125) << label;
    EXPECT_LT(row[1], 0.125) << label;
    EXPECT_LT(row[2], 0.25) << label;
    EXPECT_EQ(row[3], 0) << label;
  }
  // The near-edge vertices of frame 5 lose the most: 127.874 in y is stored
  // as 127.75, -128.24 in z as -128.
  const std::vector<double> frame5 = error_row(check.out, "5");
  ASSERT_EQ(frame5.size(), 4u);
  EXPECT_NEAR(frame5[1], 0.124, 1e-6);
  EXPECT_NEAR(frame5[2], 0.24, 1e-6);
}

TEST(Inspect3d, OneFrameOnlyAndNeverOverTheSource) {
  TempDir dir;
  write_source(dir, in_range_source());
  convert(dir);
  const auto before = list_dir(dir.path);
  const CapturedRun run = run_program(kInspect, dir.path, {"obj", "--frame", "6"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, "wrote frame006.obj\n");
  auto after = before;
  after.push_back("frame006.obj");
  std::sort(after.begin(), after.end());
  EXPECT_EQ(list_dir(dir.path), after);
  EXPECT_EQ(read_bytes(dir / "anima006.obj"),
            frame_text(in_range_source().frames[6], in_range_source().faces));
}

TEST(Inspect3d, WrappedCoordinatesAreFoundExactly) {
  TempDir dir;
  Source source = in_range_source();
  source.frames[2][4].x = 130.0;
  source.frames[1][2].y = 128.0;
  source.frames[6][0].z = -128.25;
  write_source(dir, source);
  convert(dir, "Conversion Complete, but 3 coordinates out of range (first in anima001.obj line 5)");
  const CapturedRun run = run_program(kInspect, dir.path, {"check"});
  EXPECT_EQ(run.exit_status, 1);
  // Each frame file starts with two lines before its first "v ".
  const std::string expected =
      "\nwrapped coordinates:\n"
      "  frame 1 vertex 2 y: 128 (anima001.obj line 5) reads back as -128\n"
      "  frame 2 vertex 4 x: 130 (anima002.obj line 7) reads back as -126\n"
      "  frame 6 vertex 0 z: -128.25 (anima006.obj line 3) reads back as 127.75\n"
      "face indices out of range (at or beyond 5): none\n"
      "\nresult: 3 wrapped coordinates\n";
  const size_t at = run.out.find("\nwrapped coordinates:");
  ASSERT_NE(at, std::string::npos) << run.out;
  EXPECT_EQ(run.out.substr(at), expected);
  const std::vector<double> frame2 = error_row(run.out, "2");
  ASSERT_EQ(frame2.size(), 4u) << run.out;
  EXPECT_LT(frame2[0], 0.125) << "the wrapped x is not counted as an error of 256";
  EXPECT_EQ(frame2[3], 1);
}

TEST(Inspect3d, CheckJsonHoldsWhatTheReportSays) {
  TempDir dir;
  Source source = in_range_source();
  write_source(dir, source);
  convert(dir);
  const CapturedRun ok = run_program(kInspect, dir.path, {"check", "--json"});
  EXPECT_EQ(ok.exit_status, 0) << ok.err;
  const nlohmann::json clean = nlohmann::json::parse(ok.out, nullptr, false);
  ASSERT_TRUE(clean.is_object()) << ok.out;
  EXPECT_EQ(clean["result"], "ok");
  EXPECT_EQ(clean["ok"], true);
  EXPECT_EQ(clean["problems"], nlohmann::json::array());
  EXPECT_EQ(clean["frames_read"]["frame_count"], source.frames.size());
  EXPECT_EQ(clean["largest_error"]["frames"].size(), source.frames.size());

  source.frames[2][4].x = 130.0;
  source.frames[1][2].y = 128.0;
  write_source(dir, source);
  convert(dir, "Conversion Complete, but 2 coordinates out of range (first in anima001.obj line 5)");
  const CapturedRun wrapped = run_program(kInspect, dir.path, {"check", "--json", "."});
  EXPECT_EQ(wrapped.exit_status, 1) << wrapped.err;
  const nlohmann::json found = nlohmann::json::parse(wrapped.out, nullptr, false);
  ASSERT_TRUE(found.is_object()) << wrapped.out;
  EXPECT_EQ(found["result"], "2 wrapped coordinates");
  EXPECT_EQ(found["ok"], false);
  ASSERT_EQ(found["problems"].size(), 1u) << wrapped.out;
  const nlohmann::json& problem = found["problems"][0];
  EXPECT_EQ(problem["problem"], "wrapped_coordinates");
  EXPECT_EQ(problem["count"], 2);
  ASSERT_EQ(problem["places"].size(), 2u);
  EXPECT_EQ(problem["places"][0],
            nlohmann::json::parse(R"({"frame": 1, "vertex": 2, "axis": "y", "source": 128,
      "stored": -128, "file": "anima001.obj", "line": 5})"));
  EXPECT_EQ(problem["places"][1]["file"], "anima002.obj");
  EXPECT_EQ(found["largest_error"]["frames"][2]["wrapped"], 1);
  EXPECT_LT(found["largest_error"]["frames"][2]["error"]["x"], 0.125) << "a wrapped x is no error of 256";
  EXPECT_LT(found["export_scale"]["suggested"], 1) << "coordinates that wrap need a scale below 1";
  EXPECT_EQ(found["export_scale"]["max"]["x"], 130);

  const CapturedRun twice = run_program(kInspect, dir.path, {"check", "--json", "--json"});
  EXPECT_EQ(twice.exit_status, 2);
  EXPECT_EQ(twice.err.substr(0, 35), "inspect3d: check takes --json once\n");
}

TEST(Inspect3d, FaceIndicesOutOfRangeAreListedAndLeftOutOfTheObj) {
  TempDir dir;
  Source source = in_range_source();
  source.faces = "f 1 2 3\nf 3 4 9\nf 6 1 2\n";
  write_source(dir, source);
  convert(dir, "Conversion Complete, but 2 face indices out of range (first in anima000.obj line 10)");

  const CapturedRun check = run_program(kInspect, dir.path, {"check"});
  EXPECT_EQ(check.exit_status, 1);
  const size_t at = check.out.find("face indices out of range");
  ASSERT_NE(at, std::string::npos) << check.out;
  EXPECT_EQ(check.out.substr(at),
            "face indices out of range (at or beyond 5):\n"
            "  triangle 1 corner 2: index 8\n"
            "  triangle 2 corner 0: index 5\n"
            "\nresult: 2 face indices out of range\n");

  const CapturedRun info = run_program(kInspect, dir.path, {"info", "data00.3d"});
  EXPECT_EQ(info.exit_status, 1);
  EXPECT_EQ(info.out,
            "data00.3d: mesh file, 144 bytes\n"
            "  triangle count      3\n"
            "  vertices per frame  5\n"
            "  fixed header fields as frameconv writes them\n"
            "  face indices at or beyond 5:\n"
            "    triangle 1 corner 2: index 8\n"
            "    triangle 2 corner 0: index 5\n");

  const CapturedRun obj = run_program(kInspect, dir.path, {"obj", "--frame", "0"});
  EXPECT_EQ(obj.exit_status, 1);
  EXPECT_NE(obj.err.find("left out 2 triangles"), std::string::npos) << obj.err;
  const auto text = read_bytes(dir / "frame000.obj");
  ASSERT_TRUE(text);
  EXPECT_EQ(parse_obj(*text).faces, (std::vector<std::vector<int>>{{1, 2, 3}}));
}

// Outputs that are not the conversion of the frames beside them.
struct StaleCase {
  const char* name;
  void (*change)(const TempDir&, const Source&);
  std::string result;
};

void vertex_moved(const TempDir& dir, const Source& source) {
  auto frame = source.frames[4];
  frame[3].y += 1;
  write_bytes(dir / frame_name(4), frame_text(frame, source.faces));
}
void frame_added(const TempDir& dir, const Source& source) {
  write_bytes(dir / frame_name(7), frame_text(source.frames[0], source.faces));
}
void frame_removed(const TempDir& dir, const Source&) { std::filesystem::remove(dir / frame_name(6)); }
void face_changed(const TempDir& dir, const Source& source) {
  write_bytes(dir / frame_name(0), frame_text(source.frames[0], "f 1 2 3\nf 5 4 2\nf 2 4 5\n"));
}
void vertex_added(const TempDir& dir, const Source& source) {
  auto frame = source.frames[0];
  frame.push_back({1, 2, 3});
  write_bytes(dir / frame_name(0), frame_text(frame, source.faces));
}
void later_frame_short(const TempDir& dir, const Source& source) {
  auto frame = source.frames[2];
  frame.pop_back();
  frame[0].x += 1;  // what is read of a frame frameconv stops at counts for nothing
  write_bytes(dir / frame_name(2), frame_text(frame, source.faces));
}

TEST(Inspect3d, OutputsOfOtherFramesAreFound) {
  const StaleCase cases[] = {
      {"a vertex moved", vertex_moved, "result: 1 vertex stored otherwise\n"},
      {"a frame added", frame_added, "result: 1 vertex animation file of other frames\n"},
      {"a frame removed", frame_removed, "result: 1 vertex animation file of other frames\n"},
      {"a face changed", face_changed, "result: 1 mesh file of other faces\n"},
      {"a vertex added to the first frame", vertex_added,
       "result: 1 frame sequence frameconv cannot convert, 1 vertex animation file of other frames, 1 mesh "
       "file of other faces\n"},
      {"a later frame short", later_frame_short,
       "result: 1 frame sequence frameconv cannot convert, 1 vertex animation file of other frames\n"},
  };
  for (const StaleCase& c : cases) {
    TempDir dir;
    const Source source = in_range_source();
    write_source(dir, source);
    convert(dir);
    c.change(dir, source);
    const CapturedRun run = run_program(kInspect, dir.path, {"check"});
    EXPECT_EQ(run.exit_status, 1) << c.name;
    const size_t at = run.out.rfind("result: ");
    ASSERT_NE(at, std::string::npos) << c.name << "\n" << run.out;
    EXPECT_EQ(run.out.substr(at), c.result) << c.name;
  }
}

TEST(Inspect3d, SaysWhichFramesTheConversionRead) {
  TempDir dir;
  write_source(dir, in_range_source());
  std::filesystem::rename(dir / frame_name(3), dir / "anima009.obj");
  std::filesystem::rename(dir / frame_name(4), dir / "anima012.obj");
  convert(dir);
  const CapturedRun run = run_program(kInspect, dir.path, {"check"});
  EXPECT_EQ(run.exit_status, 0) << run.out;
  EXPECT_EQ(run.out.substr(0, run.out.find("\n\n")),
            "frames read: anima000.obj to anima002.obj, 3 frames of 5 vertices\n"
            "note: anima005.obj and 3 more after the missing anima003.obj are never read\n"
            "aniv00.3d: 3 frames of 5 vertices\n"
            "data00.3d: 3 triangles of 5 vertices, the faces of anima000.obj");
}

TEST(Inspect3d, ListsWhatTheReadLimitsLeaveOut) {
  TempDir dir;
  std::vector<Vertex> vertices;
  for (int i = 0; i < 10001; ++i) vertices.push_back({i % 7 * 0.5, i % 11 * -0.25, i % 13 * 1.0});
  std::string faces;
  for (int t = 0; t < 10001; ++t) faces += "f 1 2 3\n";
  write_bytes(dir / frame_name(0), frame_text(vertices, faces));
  const std::string long_frame = frame_text(vertices, "#" + std::string(5000000, '-'));
  write_bytes(dir / frame_name(1), long_frame);
  // Two lines before the first "v ", then 10,001 vertices and "vn" before the faces.
  convert(dir,
          "Conversion Complete, but 1 face past the limit of 10000 (first in anima000.obj line 20005) and 2 "
          "frames with more than 10000 vertices (first in anima000.obj line 10003) and 1 frame longer than "
          "5000000 bytes (first anima001.obj)");
  const CapturedRun run = run_program(kInspect, dir.path, {"check"});
  EXPECT_EQ(run.exit_status, 1) << run.out;
  EXPECT_EQ(run.out.substr(0, run.out.find("\n\n")),
            "frames read: anima000.obj to anima001.obj, 2 frames of 10000 vertices\n"
            "aniv00.3d: 2 frames of 10000 vertices\n"
            "data00.3d: 10000 triangles of 10000 vertices, the faces of anima000.obj");
  const size_t at = run.out.find("left out of the conversion:");
  ASSERT_NE(at, std::string::npos) << run.out;
  EXPECT_EQ(
      run.out.substr(at),
      "left out of the conversion:\n"
      "  anima000.obj line 20005: face past the limit of 10000\n"
      "  anima000.obj line 10003: frame with more than 10000 vertices\n"
      "  anima001.obj line 10003: frame with more than 10000 vertices\n"
      "  anima001.obj: frame longer than 5000000 bytes\n"
      "\nresult: 1 face past the limit of 10000, 2 frames with more than 10000 vertices, 1 frame longer "
      "than 5000000 bytes\n");
}

// Frames that frameconv reads otherwise than written, or in part: its
// closing text names each part, and check lists each one with its place and
// sums them up on its result line in the same words.
struct LeftOutCase {
  const char* name;
  std::vector<std::string> frames;
  std::string parts;   // of the closing text after "Conversion Complete, but "; "" for none
  std::string listed;  // check's lines under "left out of the conversion:"
};

// Five vertices on lines 1 to 5, and a face on line 6.
const std::string kFive = "v 1 2 3\nv 4 5 6\nv 7 8 9\nv 1 1 1\nv 2 2 2\n";

// `text` padded with a comment to `size` bytes.
std::string padded(const std::string& text, size_t size) {
  std::string bytes = text + "#";
  bytes.resize(size, '-');
  return bytes;
}

// The first frame of the case with every part at once, twice each.
std::string every_part_first_frame() {
  std::string text = "v  1 2 3\nv 1  2 3\nv 200 -200 3\nv 4 5 6\nv 7 8 9\nf 1 2 3 4\nf 1 2 3 4 5\nf 0 9 2\n";
  for (int face = 0; face < 9999; ++face) text += "f 1 2 3\n";
  return text;
}

// check's result line for a closing text's parts: the same counts and words,
// without the places, with its own words for coordinates out of range.
std::string result_of(std::string parts) {
  if (parts.empty()) return "ok";
  std::string result;
  for (size_t at = 0; at < parts.size();) {
    const size_t place = parts.find(" (first ", at);
    std::string part = parts.substr(at, place - at);
    for (const auto& [said, checked] : {std::pair{"coordinates out of range", "wrapped coordinates"},
                                        {"coordinate out of range", "wrapped coordinate"}}) {
      const size_t word = part.find(said);
      if (word != std::string::npos) part.replace(word, std::string(said).size(), checked);
    }
    result += (result.empty() ? "" : ", ") + part;
    const size_t next = parts.find(") and ", place);
    at = next == std::string::npos ? parts.size() : next + 6;
  }
  return result;
}

// Whether `messages` is the one closing message `expected`. Wine's trace shows
// only the start of a long message box text, ending in "...": that start must
// then be the expected text's.
bool is_closing_message(const std::vector<std::string>& messages, const std::string& expected) {
  if (messages.size() != 1) return false;
  const std::string caption = ": Conversion Complete";
  const std::string& shown = messages[0];
  if (shown == expected + caption) return true;
  const size_t cut = shown.size() - caption.size() - 3;
  return running_under_wine() && shown.size() > caption.size() + 3 &&
         shown.compare(cut, std::string::npos, "..." + caption) == 0 && cut >= 200 &&
         expected.compare(0, cut, shown, 0, cut) == 0;
}

TEST(Inspect3d, FrameconvAndCheckNameWhatTheReadingLeftOut) {
  const std::string crlf_five = "v 1 2 3\r\nv 4 5 6\r\nv 7 8 9\r\nv 1 1 1\r\nv 2 2 2\r\n";
  const LeftOutCase cases[] = {
      {"two spaces after v",
       {"v  1 2 3\n" + kFive},
       "1 vertex not read as written (first in anima000.obj line 1)",
       "  anima000.obj line 1: vertex not read as written\n"},
      {"two spaces before y",
       {"v 1 2 3\nv 4  5 6\nv 7 8 9\nv 1 1 1\nv 2 2 2\nf 1 2 3\n"},
       "1 vertex not read as written (first in anima000.obj line 2)",
       "  anima000.obj line 2: vertex not read as written\n"},
      {"a short line takes z from the next",
       {"v 1 2 3\nv 4 5 6\nv 7 8\nv 1 1 1\nv 2 2 2\nf 1 2 3\n"},
       "1 vertex not read as written (first in anima000.obj line 3)",
       "  anima000.obj line 3: vertex not read as written\n"},
      {"colours after the coordinates are read as written",
       {"v 1 2 3 0.5 0.5 0.5\nv 4 5 6 1 1 1\nf 1 2 2\n"},
       "",
       ""},
      {"a quad",
       {kFive + "f 1 2 3 4\n"},
       "1 face not read in full (first in anima000.obj line 6)",
       "  anima000.obj line 6: face not read in full\n"},
      {"an n-gon and a quad",
       {kFive + "f 1 2 3 4 5\nf 2 3 4 5\n"},
       "2 faces not read in full (first in anima000.obj line 6)",
       "  anima000.obj line 6: face not read in full\n  anima000.obj line 7: face not read in full\n"},
      {"two spaces after f",
       {kFive + "f  1 2 3\n"},
       "1 face not read in full (first in anima000.obj line 6)",
       "  anima000.obj line 6: face not read in full\n"},
      {"a comment after a triangle", {kFive + "f 1 2 3 # comment 4\n"}, "", ""},
      {"a quad with texture references",
       {kFive + "f 1/1 2/2 3/3 4/4\n"},
       "1 face not read in full (first in anima000.obj line 6)",
       "  anima000.obj line 6: face not read in full\n"},
      {"a triangle and a line starting with a digit", {kFive + "f 1 2 3\n42 4\n"}, "", ""},
      {"CR LF lines",
       {crlf_five + "f 1 2 3\r\nf 1 2 3 4\r\n", crlf_five},
       "1 face not read in full (first in anima000.obj line 7)",
       "  anima000.obj line 7: face not read in full\n"},
      {"a later frame with one vertex more",
       {kFive, kFive + "v 3 3 3\n", kFive},
       "1 frame with more than 5 vertices (first in anima001.obj line 6)",
       "  anima001.obj line 6: frame with more than 5 vertices\n"},
      {"a comment with a v after a later frame's vertices",
       {kFive, kFive, kFive + "# v 1\n"},
       "1 frame with more than 5 vertices (first in anima002.obj line 6)",
       "  anima002.obj line 6: frame with more than 5 vertices\n"},
      {"10,001 vertices and 10,001 faces",
       {[] {
         std::string text;
         for (int i = 0; i < 10001; ++i) text += "v 1 2 3\n";
         for (int i = 0; i < 10001; ++i) text += "f 1 2 3\n";
         return text;
       }()},
       "1 face past the limit of 10000 (first in anima000.obj line 20002) and 1 frame with more than 10000 "
       "vertices "
       "(first in anima000.obj line 10001)",
       "  anima000.obj line 20002: face past the limit of 10000\n"
       "  anima000.obj line 10001: frame with more than 10000 vertices\n"},
      {"a frame of 5,000,000 bytes is read whole", {padded(kFive, 5000000)}, "", ""},
      {"a frame of 5,000,001 bytes",
       {padded(kFive, 5000001)},
       "1 frame longer than 5000000 bytes (first anima000.obj)",
       "  anima000.obj: frame longer than 5000000 bytes\n"},
      {"every part, twice",
       {every_part_first_frame(), padded(kFive + "v 3 3 3\n", 5000100), padded(kFive + "v 3 3 3\n", 5000100)},
       "2 coordinates out of range (first in anima000.obj line 3) and 2 face indices out of range (first in "
       "anima000.obj line 8) and 2 vertices not read as written (first in anima000.obj line 1) and 2 faces "
       "not read "
       "in full (first in anima000.obj line 6) and 2 faces past the limit of 10000 (first in anima000.obj "
       "line "
       "10006) and 2 frames with more than 5 vertices (first in anima001.obj line 6) and 2 frames longer "
       "than "
       "5000000 bytes (first anima001.obj)",
       "  anima000.obj line 1: vertex not read as written\n"
       "  anima000.obj line 2: vertex not read as written\n"
       "  anima000.obj line 6: face not read in full\n"
       "  anima000.obj line 7: face not read in full\n"
       "  anima000.obj line 10006: face past the limit of 10000\n"
       "  anima000.obj line 10007: face past the limit of 10000\n"
       "  anima001.obj line 6: frame with more than 5 vertices\n"
       "  anima002.obj line 6: frame with more than 5 vertices\n"
       "  anima001.obj: frame longer than 5000000 bytes\n"
       "  anima002.obj: frame longer than 5000000 bytes\n"},
  };
  for (const LeftOutCase& c : cases) {
    TempDir dir;
    for (size_t f = 0; f < c.frames.size(); ++f)
      write_bytes(dir / frame_name(static_cast<int>(f)), c.frames[f]);
    const RunResult conversion = run_program(kFrameconv, dir.path);
    const std::string text = c.parts.empty() ? "Conversion Complete" : "Conversion Complete, but " + c.parts;
    EXPECT_TRUE(is_closing_message(conversion.messages, text))
        << c.name << "\n"
        << (conversion.messages.empty() ? "" : conversion.messages[0]);
    const CapturedRun check = run_program(kInspect, dir.path, {"check"});
    EXPECT_EQ(check.exit_status, c.parts.empty() ? 0 : 1) << c.name;
    const size_t listed = check.out.find("left out of the conversion:\n");
    const size_t result = check.out.rfind("\nresult: ");
    ASSERT_NE(result, std::string::npos) << c.name << "\n" << check.out;
    const std::string list =
        listed == std::string::npos ? "" : check.out.substr(listed + 28, result - listed - 28);
    EXPECT_EQ(list, c.listed) << c.name;
    EXPECT_EQ(check.out.substr(result), "\nresult: " + result_of(c.parts) + "\n") << c.name;
  }
}

// Models of every size, two frames each: check's suggested export scale, the
// advice after it, and an exit status that the advice leaves alone.
struct ScaleCase {
  const char* name;
  std::vector<Vertex> first, later;
  std::string advice;  // from the "suggested export scale" line to the blank line after it
  int exit_status;
};

TEST(Inspect3d, CheckSuggestsTheExportScale) {
  const std::string smaller = "The model uses a small part of the range: exported with a scale of ";
  const ScaleCase cases[] = {
      {"far too small: metres, largest y 0.45 in the later frame",
       {{0.3, 0.1, -0.4}, {-0.2, 0.1, 0.25}},
       {{0.1, 0.45, -0.1}, {0, 0, 0}},
       "suggested export scale: 284\n" + smaller + "284 it would be stored 284 times finer.\n",
       0},
      {"far too large: centimetres, 2500 x 0.0512 is 128 exactly",
       {{1800, -40, 95}, {-300, 2500, -1000}},
       {{1700, -30, 90}, {-250, 2400, -900}},
       "suggested export scale: 0.0511\n"
       "Coordinates wrap around now: exported with a scale of 0.0511 they would not.\n",
       1},
      {"the extremes the fields hold",
       {{127.875, -128, 127.75}, {-128, 127.875, -128}},
       {{1, 2, 3}, {4, 5, 6}},
       "suggested export scale: 1.00\n",
       0},
      {"the strict bounds themselves",
       {{128, 1, 1}, {-1, -128.125, -128.25}},
       {{1, 2, 3}, {4, 5, 6}},
       "suggested export scale: 0.999\n"
       "Coordinates wrap around now: exported with a scale of 0.999 they would not.\n",
       1},
      {"a factor of exactly 2 reaches a bound",
       {{64, 0.5, 0.5}, {-1, -1, -1}},
       {{1, 2, 3}, {-64.0625, 5, 6}},
       "suggested export scale: 1.99\n",
       0},
      {"all coordinates 0",
       {{0, 0, 0}, {0, 0, 0}},
       {{0, 0, 0}, {0, 0, 0}},
       "suggested export scale: none (all coordinates are 0)\n",
       0},
      {"near the largest number",
       {{1e308, 1, 1}, {1, 1, 1}},
       {{1, 1, 1}, {1, 1, 1}},
       "suggested export scale: 1.27e-306\n"
       "Coordinates wrap around now: exported with a scale of 1.27e-306 they would not.\n",
       1},
  };
  for (const ScaleCase& c : cases) {
    TempDir dir;
    write_bytes(dir / frame_name(0), frame_text(c.first, "f 1 2 2\n"));
    write_bytes(dir / frame_name(1), frame_text(c.later, ""));
    ASSERT_EQ(run_program(kFrameconv, dir.path).exit_status, 1) << c.name;
    const CapturedRun run = run_program(kInspect, dir.path, {"check"});
    EXPECT_EQ(run.exit_status, c.exit_status) << c.name;
    const size_t at = run.out.find("suggested export scale: ");
    ASSERT_NE(at, std::string::npos) << c.name << "\n" << run.out;
    EXPECT_EQ(run.out.substr(at, run.out.find("\n\n", at) + 1 - at), c.advice) << c.name;
  }

  // A coordinate read as infinity: no factor brings it into range.
  TempDir dir;
  write_bytes(dir / frame_name(0), "v 1e400 2 3\nv 1 1 1\n");
  ASSERT_EQ(run_program(kFrameconv, dir.path).exit_status, 1);
  const CapturedRun run = run_program(kInspect, dir.path, {"check"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.out.find("\nsuggested export scale: none (a coordinate is too large for any number)\n\n"),
            std::string::npos)
      << run.out;
}

// The text of fenced block number `block` (from 0) after `heading` in
// docs/inspect3d.md.
std::string page_block_after(const std::string& heading, int block) {
  const auto page = read_bytes(INSPECT3D_PAGE);
  if (!page) return "no docs/inspect3d.md";
  size_t at = page->find(heading);
  for (int i = 0; i <= block && at != std::string::npos; ++i) {
    at = page->find("```", at);
    if (at != std::string::npos) at = page->find('\n', at) + 1;
    if (i < block && at != std::string::npos) at = page->find("```", at) + 3;
  }
  if (at == std::string::npos) return "no such block";
  return page->substr(at, page->find("```", at) - at);
}

TEST(Inspect3d, BundledExampleAsTheDocsShowIt) {
  TempDir dir;
  for (const auto& entry : std::filesystem::directory_iterator(EXAMPLE_DIR)) {
    std::filesystem::copy_file(entry.path(), dir / entry.path().filename().string());
  }
  convert(dir);
  const CapturedRun check = run_program(kInspect, dir.path, {"check"});
  EXPECT_EQ(check.exit_status, 0);
  EXPECT_EQ(check.out, page_block_after("## Checking a conversion", 1));

  const CapturedRun info = run_program(kInspect, dir.path, {"info", "aniv00.3d", "data00.3d"});
  EXPECT_EQ(info.exit_status, 0);
  EXPECT_EQ(info.out.substr(0, info.out.find('\n')), "aniv00.3d: vertex animation file, 4804 bytes");
  EXPECT_NE(info.out.find("\n\ndata00.3d: mesh file, 1632 bytes\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("\n     23    -15.75     15.75         0        50    -15.75     15.75\n"),
            std::string::npos)
      << "the last frame's bounding box\n"
      << info.out;
}

TEST(Inspect3d, InfoSaysWhichKindEachFileIs) {
  TempDir dir;
  write_source(dir, in_range_source());
  convert(dir);
  write_bytes(dir / "empty.3d", "");
  write_bytes(dir / "one.3d", std::string("\x01\x00\x04\x00\x08\x00\x00\x00", 8));
  write_bytes(dir / "cut.3d", std::string("\x01\x00\x04\x00\x08\x00", 6));
  const CapturedRun run = run_program(
      kInspect, dir.path, {"info", "data00.3d", "anima000.obj", "aniv00.3d", "empty.3d", "one.3d", "cut.3d"});
  EXPECT_EQ(run.exit_status, 1) << "files of neither kind";
  std::vector<std::string> firsts;
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line[0] != ' ') firsts.push_back(line.substr(0, line.find(',')));
  }
  EXPECT_EQ(firsts, (std::vector<std::string>{"data00.3d: mesh file",
                                              "anima000.obj: neither a vertex animation file nor a mesh file",
                                              "aniv00.3d: vertex animation file",
                                              "empty.3d: neither a vertex animation file nor a mesh file",
                                              "one.3d: vertex animation file",
                                              "cut.3d: neither a vertex animation file nor a mesh file"}));
  for (const char* said : {"  frame count      7\n  bytes per frame  20 (5 vertices a frame)\n",
                           "  bytes per frame  4 (1 vertex a frame)\n",
                           "  not a vertex animation file: 1 frame of 4 bytes make 8 bytes\n"}) {
    EXPECT_NE(run.out.find(said), std::string::npos) << said << run.out;
  }
}

struct UsageCase {
  std::vector<std::string> args;
  int exit_status;
  std::string err_start;
};

TEST(Inspect3d, UsageErrorsAndUnreadableInputExitWithTwo) {
  TempDir dir;
  write_source(dir, in_range_source());
  convert(dir);
  std::filesystem::create_directory(dir / "empty");
  write_bytes(dir / "empty" / "anima000.obj", "v 1 2 3\n");
  const UsageCase cases[] = {
      {{}, 2, "inspect3d: no command given\nusage:"},
      {{"convert"}, 2, "inspect3d: unknown command convert\n"},
      {{"info"}, 2, "inspect3d: info needs at least one file\n"},
      {{"obj", "--frame"}, 2, "inspect3d: --frame needs a frame number\n"},
      {{"obj", "--frame", "two"}, 2, "inspect3d: --frame needs a frame number\n"},
      {{"obj", "--frame", "-1"}, 2, "inspect3d: --frame needs a frame number\n"},
      {{"obj", "--frame", "1", "--all"}, 2, "inspect3d: obj takes --frame N or --all, not both\n"},
      {{"obj", "--all", "--all"}, 2, "inspect3d: obj takes --all once\n"},
      {{"obj", "--out"}, 2, "inspect3d: --out needs a directory\n"},
      {{"obj", "frame3"}, 2, "inspect3d: obj does not take frame3\n"},
      {{"check", ".", "."}, 2, "inspect3d: check takes at most one directory\n"},
      {{"check", "--all"}, 2, "inspect3d: check does not take --all\n"},
      {{"obj", "--frame", "7"}, 2, "inspect3d: there is no frame 7: aniv00.3d holds frames 0 to 6\n"},
      {{"info", "missing.3d"}, 2, "inspect3d: cannot read missing.3d\n"},
      {{"check", "nowhere"}, 2, "inspect3d: nowhere is not a directory\n"},
      {{"check", "empty"}, 2, "inspect3d: cannot read empty/aniv00.3d\n"},
      {{"info", "empty"}, 2, "inspect3d: cannot read empty\n"},
  };
  for (const UsageCase& c : cases) {
    const CapturedRun run = run_program(kInspect, dir.path, c.args);
    std::string what;
    for (const std::string& arg : c.args) what += " " + arg;
    EXPECT_EQ(run.exit_status, c.exit_status) << what;
    EXPECT_EQ(run.out, "") << what;
    EXPECT_EQ(run.err.substr(0, c.err_start.size()), c.err_start) << what;
  }

  const CapturedRun version = run_program(kInspect, dir.path, {"--version"});
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_EQ(version.out, "inspect3d " ANIM3D_VERSION "\n");
  EXPECT_EQ(version.err, "");

  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--help"}, {"-h"}, {"help"}, {"check", "--help"}, {"obj", "--all", "-h"}}) {
    const CapturedRun help = run_program(kInspect, dir.path, args);
    EXPECT_EQ(help.exit_status, 0) << args.back();
    EXPECT_EQ(help.out.substr(0, 29), "usage: inspect3d info FILE...") << args.back();
    EXPECT_EQ(help.err, "") << args.back();
  }
  // The value of an option is never a request for help.
  const CapturedRun into_h = run_program(kInspect, dir.path, {"obj", "--frame", "0", "--out", "-h"});
  EXPECT_EQ(into_h.exit_status, 0) << into_h.err;
  EXPECT_TRUE(std::filesystem::is_regular_file(dir / "-h" / "frame000.obj"));
}

TEST(Inspect3d, FilesOfTheWrongKindAreRefused) {
  TempDir dir;
  write_source(dir, in_range_source());
  convert(dir);
  std::filesystem::rename(dir / "aniv00.3d", dir / "swap");
  std::filesystem::rename(dir / "data00.3d", dir / "aniv00.3d");
  std::filesystem::rename(dir / "swap", dir / "data00.3d");
  for (const char* command : {"obj", "check"}) {
    const CapturedRun run = run_program(kInspect, dir.path, {command});
    EXPECT_EQ(run.exit_status, 2) << command;
    EXPECT_EQ(run.err, "inspect3d: aniv00.3d is not a vertex animation file (see inspect3d info)\n")
        << command;
  }
}

// Inputs that no file-system call and no allocation may fail on: each ends
// with a message naming the file, never an abort.
struct FaultCase {
  const char* name;
  std::function<void(const TempDir&)> change;
  std::vector<std::string> args;
  int exit_status;
  std::string err;                 // all of standard error
  std::string out_has;             // a line standard output must hold
  bool needs_permissions = false;  // permission bits do not stop root
};

constexpr uintmax_t kTerabyte = uintmax_t{1} << 40;

void sparse(const std::filesystem::path& file, uintmax_t size) {
  if (!std::filesystem::exists(file)) write_bytes(file, "");
  std::filesystem::resize_file(file, size);
}

TEST(Inspect3d, HugeFilesLongNamesAndLockedDirectoriesEndWithTwo) {
  const std::string long_name(5000, 'n');
  const auto lock = [](const std::filesystem::path& path, std::filesystem::perms perms) {
    std::filesystem::permissions(path, perms);
  };
  const FaultCase cases[] = {
      {"a 1 TB sparse file to info",
       [](const TempDir& d) { sparse(d / "big.3d", kTerabyte); },
       {"info", "big.3d"},
       2,
       "inspect3d: big.3d is 1099511627776 bytes, more than a .3d file can hold (4294836229)\n",
       "",
       false},
      {"a 1 TB aniv00.3d",
       [](const TempDir& d) { sparse(d / "aniv00.3d", kTerabyte); },
       {"obj"},
       2,
       "inspect3d: aniv00.3d is 1099511627776 bytes, more than a vertex animation file can hold "
       "(4294836229)\n",
       "",
       false},
      {"a data00.3d one byte over the largest mesh file",
       [](const TempDir& d) { sparse(d / "data00.3d", 48 + 16 * 65538 + 1); },
       {"check"},
       2,
       "inspect3d: data00.3d is 1048657 bytes, more than a mesh file can hold (1048656)\n",
       "",
       false},
      {"a 1 TB frame is read only up to the limit",
       [](const TempDir& d) { sparse(d / "anima001.obj", kTerabyte); },
       {"check"},
       1,
       "",
       "  anima001.obj: frame longer than 5000000 bytes\n",
       false},
      {"a 5,000-character name to info",
       nullptr,
       {"info", long_name},
       2,
       "inspect3d: cannot read " + long_name + "\n",
       "",
       false},
      {"a 5,000-character name to check",
       nullptr,
       {"check", long_name},
       2,
       // note: Windows reports a name that long as absent, not as too long.
       running_under_wine() ? "inspect3d: " + long_name + " is not a directory\n"
                            : "inspect3d: cannot read " + long_name + "\n",
       "",
       false},
      {"a 5,000-character name as obj's --out",
       nullptr,
       {"obj", "--out", long_name},
       2,
       "inspect3d: cannot make the directory " + long_name + "\n",
       "",
       false},
      {"a directory that cannot be read",
       [&](const TempDir& d) {
         std::filesystem::create_directory(d / "locked");
         lock(d / "locked", std::filesystem::perms::none);
       },
       {"check", "locked"},
       2,
       "inspect3d: cannot read locked/aniv00.3d\n",
       "",
       true},
      {"a directory that cannot be listed, with a gap in the frames",
       [&](const TempDir& d) {
         std::filesystem::create_directory(d / "locked");
         for (const char* name : {"aniv00.3d", "data00.3d", "anima000.obj", "anima001.obj", "anima002.obj",
                                  "anima003.obj", "anima004.obj", "anima005.obj", "anima006.obj"}) {
           std::filesystem::copy_file(d / name, d / "locked" / name);
         }
         lock(d / "locked", std::filesystem::perms::owner_write | std::filesystem::perms::owner_exec);
       },
       {"check", "locked"},
       2,
       "inspect3d: cannot read the directory locked\n",
       "",
       true},
      {"a frame that cannot be read",
       [&](const TempDir& d) { lock(d / "anima003.obj", std::filesystem::perms::none); },
       {"check"},
       2,
       "inspect3d: cannot read anima003.obj\n",
       "",
       true},
  };
  for (const FaultCase& c : cases) {
    if (c.needs_permissions && geteuid() == 0) {
      std::printf("skipped \"%s\": running as root, whom permission bits do not stop\n", c.name);
      continue;
    }
    TempDir dir;
    write_source(dir, in_range_source());
    convert(dir);
    if (c.change) c.change(dir);
    const CapturedRun run = run_program(kInspect, dir.path, c.args);
    EXPECT_EQ(run.exit_status, c.exit_status) << c.name << "\n" << run.err;
    EXPECT_EQ(run.err, c.err) << c.name;
    EXPECT_NE(run.out.find(c.out_has), std::string::npos) << c.name << "\n" << run.out;
    if (c.exit_status == 2) {
      EXPECT_EQ(run.out, "") << c.name;
    }
    // Give the temporary directory back its permissions, so that it can be removed.
    std::error_code error;
    std::filesystem::permissions(dir / "locked", std::filesystem::perms::owner_all, error);
    std::filesystem::permissions(dir / "anima003.obj", std::filesystem::perms::owner_all, error);
  }
}

// data00.3d changed after the conversion, part by part.
struct MeshChange {
  const char* name;
  size_t offset;  // of the byte changed
  uint8_t value;
  std::string says;  // the end of check's data00.3d line
  std::string result;
};

TEST(Inspect3d, CheckComparesTheWholeMeshFile) {
  // 3 triangles: the header, records 0 to 2 at 48, 64 and 80, the trailing
  // records at 96 to 143.
  const MeshChange cases[] = {
      {"the vertices per frame", 2, 6, "not what frameconv makes of anima000.obj: the header differs",
       "result: 1 mesh file of other faces\n"},
      {"an index of triangle 1", 64 + 2, 0, "not what frameconv makes of anima000.obj: triangle 1 differs",
       "result: 1 mesh file of other faces\n"},
      {"the cycle byte of triangle 2", 80 + 7, 9,
       "not what frameconv makes of anima000.obj: triangle 2 differs",
       "result: 1 mesh file of other faces\n"},
      {"a byte of the tail of triangle 0", 48 + 15, 1,
       "not what frameconv makes of anima000.obj: triangle 0 differs",
       "result: 1 mesh file of other faces\n"},
      {"the last trailing byte", 143, 0xFF,
       "not what frameconv makes of anima000.obj: the trailing records differ",
       "result: 1 mesh file not as frameconv writes it\n"},
      {"the first trailing byte", 96, 1,
       "not what frameconv makes of anima000.obj: the trailing records differ",
       "result: 1 mesh file not as frameconv writes it\n"},
  };
  for (const MeshChange& c : cases) {
    TempDir dir;
    write_source(dir, in_range_source());
    convert(dir);
    std::string mesh = *read_bytes(dir / "data00.3d");
    ASSERT_EQ(mesh.size(), 144u);
    mesh[c.offset] = static_cast<char>(c.value);
    write_bytes(dir / "data00.3d", mesh);
    const CapturedRun run = run_program(kInspect, dir.path, {"check"});
    EXPECT_EQ(run.exit_status, 1) << c.name << "\n" << run.err;
    const std::string line =
        "data00.3d: 3 triangles of " + std::string(c.offset == 2 ? "6" : "5") + " vertices, " + c.says + "\n";
    EXPECT_NE(run.out.find("\n" + line), std::string::npos) << c.name << "\n" << run.out;
    EXPECT_EQ(run.out.substr(run.out.rfind("result: ")), c.result) << c.name;
  }

  // A file of one more triangle: its count, in the header, and the record
  // anima000.obj does not give.
  TempDir dir;
  Source source = in_range_source();
  source.faces += "f 1 3 5\n";
  write_source(dir, source);
  convert(dir);
  write_source(dir, in_range_source());
  const CapturedRun run = run_program(kInspect, dir.path, {"check"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.out.find("\ndata00.3d: 4 triangles of 5 vertices, not what frameconv makes of anima000.obj: "
                         "the header and triangle 3 differ\n"),
            std::string::npos)
      << run.out;
}

}  // namespace
