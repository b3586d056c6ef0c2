// End-to-end runs of the built frameconv, each in a fresh directory with frame
// files made by the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "run.h"

namespace {

const std::string kProgram = program_under_test("ANIM3D_FRAMECONV", FRAMECONV_PROGRAM);

// Coordinate `axis` of vertex `i` in frame `frame`: different per frame,
// vertex and axis, and inside every field's range for any number of frames
// and vertices. Whole eighths (quarters in z), so that they print exactly.
double coordinate(int frame, int i, int axis) {
  switch (axis) {
    case 0:
      return (frame * 5 + i) % 2039 * 0.125 - 127;
    case 1:
      return 127 - (frame * 3 + 7 * i) % 2029 * 0.125;
    default:
      return (frame * 7 + 3 * i) % 1019 * 0.25 - 127.5;
  }
}

// A frame of `count` vertices as above, and one face of vertices it has.
std::string frame_text(int frame, int count) {
  std::string text = "# frame " + std::to_string(frame) + "\no Mesh\n";
  for (int i = 0; i < count; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "v %.3f %.3f %.3f\n", coordinate(frame, i, 0), coordinate(frame, i, 1),
                  coordinate(frame, i, 2));
    text += line;
  }
  return text + "vn 0 1 0\nf 1 " + std::to_string(std::min(count, 2)) + " " +
         std::to_string(std::min(count, 3)) + "\n";
}

uint32_t packed(int frame, int i) {
  auto field = [](double v, double scale, uint32_t mask) {
    return static_cast<uint32_t>(static_cast<int64_t>(v * scale)) & mask;
  };
  return field(coordinate(frame, i, 0), 8, 0x7FF) | field(coordinate(frame, i, 1), 8, 0x7FF) << 11 |
         field(coordinate(frame, i, 2), 4, 0x3FF) << 22;
}

// The vertex animation file frameconv must write for frames 0..frame_count-1
// made by frame_text.
std::string expected_animation(int frame_count, int count) {
  std::string bytes = u16le(static_cast<uint16_t>(frame_count)) + u16le(static_cast<uint16_t>(4 * count));
  for (int f = 0; f < frame_count; ++f) {
    for (int i = 0; i < count; ++i) bytes += u32le(packed(f, i));
  }
  return bytes;
}

std::string frame_name(int frame) {
  char name[32];
  std::snprintf(name, sizeof name, "anima%03d.obj", frame);
  return name;
}

void write_frames(const TempDir& dir, int first, int last, int count) {
  for (int f = first; f <= last; ++f) write_bytes(dir / frame_name(f), frame_text(f, count));
}

TEST(Frameconv, OneFrame) {
  TempDir dir;
  write_bytes(dir / "anima000.obj", "v 1 2 3\nv -1 0 0\nv 0 0 -1\n");
  const RunResult run = run_program(kProgram, dir.path);
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.messages, std::vector<std::string>{"Conversion Complete: Conversion Complete"});
  EXPECT_EQ(read_bytes(dir / "aniv00.3d"),
            u16le(1) + u16le(12) + u32le(0x03008008) + u32le(0x000007F8) + u32le(0xFF000000));
  const auto mesh = read_bytes(dir / "data00.3d");
  ASSERT_TRUE(mesh);
  EXPECT_EQ(mesh->size(), 96u) << "no faces: the header and three empty records";
  EXPECT_EQ(mesh->substr(0, 4), u16le(0) + u16le(3));
}

TEST(Frameconv, MeshComesFromTheFirstFrameOnly) {
  TempDir dir;
  write_bytes(dir / "anima000.obj", "v 1 2 3\nv 4 5 6\nv 7 8 9\nv 1 1 1\nf 1 2 3\nf 3 2 4\n");
  write_bytes(dir / "anima001.obj", "v 1 2 3\nv 4 5 6\nv 7 8 9\nv 1 1 1\nv 2 2 2\nf 5 4 3\n");
  const RunResult run = run_program(kProgram, dir.path);
  EXPECT_EQ(run.messages,
            std::vector<std::string>{"Conversion Complete, but 1 frame with more than 4 vertices "
                                     "(first in anima001.obj line 5): Conversion Complete"});
  const std::string record_tail = from_hex("00 80 00 94 02 80 00 00");
  EXPECT_EQ(read_bytes(dir / "data00.3d"),
            u16le(2) + u16le(4) +
                from_hex("0000 0100 00000100 00000000 00000000 00000001 0000807F 0000803F") +
                from_hex("00000100 00000000 00000000 00000000") + from_hex("0000 0100 0200 01 01") +
                record_tail + from_hex("0200 0100 0300 01 02") + record_tail + std::string(48, '\0'));
}

TEST(Frameconv, FollowsTheSequenceUntilAGap) {
  TempDir dir;
  write_frames(dir, 0, 4, 5);
  write_bytes(dir / "anima006.obj", frame_text(6, 5));  // after the gap: never read
  const RunResult run = run_program(kProgram, dir.path);
  EXPECT_EQ(run.messages, std::vector<std::string>{"Conversion Complete: Conversion Complete"});
  EXPECT_EQ(read_bytes(dir / "aniv00.3d"), expected_animation(5, 5));
}

TEST(Frameconv, FollowsTheDigitCarriesToFrame100) {
  TempDir dir;
  write_frames(dir, 0, 100, 3);
  EXPECT_EQ(run_program(kProgram, dir.path).exit_status, 1);
  EXPECT_EQ(read_bytes(dir / "aniv00.3d"), expected_animation(101, 3));
}

TEST(Frameconv, StopsAfterFrame999) {
  TempDir dir;
  write_frames(dir, 0, 999, 1);
  write_bytes(dir / "anima:00.obj", frame_text(1000, 1));
  const RunResult run = run_program(kProgram, dir.path);
  EXPECT_EQ(run.messages, std::vector<std::string>{"Conversion Complete: Conversion Complete"});
  EXPECT_EQ(read_bytes(dir / "aniv00.3d"), expected_animation(1000, 1));
}

TEST(Frameconv, ReadsOnlyTheFirstFiveMillionBytesOfAFrame) {
  TempDir dir;
  // A "v " cut by the limit, and a whole vertex after it, are both not read.
  std::string text = "v 1 2 3\n#" + std::string(5000000 - 10, 'x') + "v 4 5 6\n";
  text.resize(6000000, '#');
  ASSERT_EQ(text.substr(4999999, 2), "v ");
  write_bytes(dir / "anima000.obj", text);
  EXPECT_EQ(run_program(kProgram, dir.path).exit_status, 1);
  EXPECT_EQ(read_bytes(dir / "aniv00.3d"), u16le(1) + u16le(4) + u32le(0x03008008));
}

TEST(Frameconv, AShorterLaterFrameEndsAtItsOwnEnd) {
  TempDir dir;
  write_bytes(dir / "anima000.obj", "v 1 2 3\nv 4 5 67\n");
  write_bytes(dir / "anima001.obj", "v 1 2 3\nv 4 5 6");  // "7\n" of frame 0 lies beyond
  EXPECT_EQ(run_program(kProgram, dir.path).exit_status, 1);
  const uint32_t a = 0x03008008;  // (1, 2, 3)
  const uint32_t b = 0x20 | 0x28 << 11 | 0x10C << 22, b6 = 0x20 | 0x28 << 11 | 0x18 << 22;
  EXPECT_EQ(read_bytes(dir / "aniv00.3d"), u16le(2) + u16le(8) + u32le(a) + u32le(b) + u32le(a) + u32le(b6));
}

TEST(Frameconv, ReplacesExistingOutputAndLeavesNoTemporary) {
  TempDir dir;
  write_frames(dir, 0, 1, 2);
  write_bytes(dir / "aniv00.3d", std::string(100000, 'o'));
  write_bytes(dir / "data00.3d", std::string(100000, 'o'));
  EXPECT_EQ(run_program(kProgram, dir.path).exit_status, 1);
  EXPECT_EQ(read_bytes(dir / "aniv00.3d"), expected_animation(2, 2));
  EXPECT_EQ(list_dir(dir.path),
            (std::vector<std::string>{"anima000.obj", "anima001.obj", "aniv00.3d", "data00.3d"}));
}

// Inputs that are odd but readable: the conversion completes, with exactly the
// words the first frame's text gives.
struct OddInputCase {
  const char* name;
  std::string first_frame;
  std::vector<uint32_t> words;
  std::string text = "Conversion Complete";  // the closing text
};

// Bytes of every value except 'v', 'f' and the space, so that no statement
// hides in them.
std::string garbage(size_t length) {
  std::string bytes;
  for (size_t i = 0; bytes.size() < length; ++i) {
    const char c = static_cast<char>((i * 151 + 17) % 256);
    if (c != 'v' && c != 'f' && c != ' ') bytes += c;
  }
  return bytes;
}

TEST(Frameconv, OddButReadableInputs) {
  const OddInputCase cases[] = {
      {"NUL bytes are data, not an end",
       std::string("v 1 2 3\n\0\0\0v 4 5 6\n", 19),
       {0x03008008, 0x20 | 0x28 << 11 | 0x18 << 22}},
      {"a NUL inside a number ends it",
       std::string("v 1\0"
                   "2 3\n",
                   9),
       {0x08 | 0x18 << 11},
       "Conversion Complete, but 1 vertex not read as written (first in anima000.obj line 1)"},
      {"binary garbage around a statement", garbage(3000) + "\nv 1 2 3\n" + garbage(3000), {0x03008008}},
      {"CR LF line ends", "v 1 2 3\r\nv -1 0 0\r\n", {0x03008008, 0x000007F8}},
      {"tabs do not separate coordinates",
       "v 1\t2 3\n",
       {0x08 | 0x18 << 11},
       "Conversion Complete, but 1 vertex not read as written (first in anima000.obj line 1)"},
      {"the extremes of every field", "v 127.875 -128 127.75\n", {0x7FE003FF}},
  };
  for (const OddInputCase& c : cases) {
    TempDir dir;
    write_bytes(dir / "anima000.obj", c.first_frame);
    const RunResult run = run_program(kProgram, dir.path);
    EXPECT_EQ(run.messages, std::vector<std::string>{c.text + ": Conversion Complete"}) << c.name;
    std::string expected = u16le(1) + u16le(static_cast<uint16_t>(4 * c.words.size()));
    for (uint32_t word : c.words) expected += u32le(word);
    EXPECT_EQ(read_bytes(dir / "aniv00.3d"), expected) << c.name;
  }
}

// Conversions that store values the files cannot hold: the same bytes as any
// other conversion, and a closing text that counts them and says where the
// first stands. The caption stays "Conversion Complete".
struct OutOfRangeCase {
  const char* name;
  std::vector<std::string> frames;
  std::string text;
  std::vector<uint32_t> words = {};    // all frames' words in aniv00.3d, when checked
  std::vector<uint16_t> indices = {};  // the records' indices in data00.3d, when checked
};

// Vertices and faces as a 3D package writes them: "v ..." and "f ..." lines.
std::string lines(std::initializer_list<const char*> statements, const char* end = "\n") {
  std::string text;
  for (const char* statement : statements) text += std::string(statement) + end;
  return text;
}

// A first frame longer than the bytes read: a vertex out of range on line
// 49,002, the last statement before the cut, and more beyond it.
std::string longer_than_read() {
  std::string text = "v 1 2 3\n";
  for (int line = 0; line < 49000; ++line) text += "#" + std::string(98, '-') + "\n";
  text += "v 1 -200 3\n";
  text.resize(5000000, '#');
  for (int line = 0; line < 100; ++line) text += "\nv 300 300 300";
  return text;
}

std::vector<uint16_t> mesh_indices(const std::string& mesh) {
  std::vector<uint16_t> indices;
  for (size_t at = 48; at + 3 * 16 < mesh.size(); at += 16) {
    for (size_t corner = 0; corner < 3; ++corner) {
      indices.push_back(static_cast<uint16_t>(static_cast<uint8_t>(mesh[at + 2 * corner]) |
                                              static_cast<uint8_t>(mesh[at + 2 * corner + 1]) << 8));
    }
  }
  return indices;
}

TEST(Frameconv, ClosingTextCountsWhatTheFilesCannotHold) {
  const std::string but = "Conversion Complete, but ";
  const OutOfRangeCase cases[] = {
      {"the last values each field holds",
       {lines({"v 127.875 -128.124 127.75", "v -128 127.875 -128.249", "f 1 2 2"})},
       "Conversion Complete",
       {0x7FE003FF, 0x801FFC00},
       {0, 1, 1}},
      {"one step beyond each field",
       {lines({"v 128 -128.125 128", "v 1 2 -128.25"})},
       but + "4 coordinates out of range (first in anima000.obj line 1)",
       {0x801FFC00, 0x7FC08008}},
      {"just past them wraps around",
       {"v 128 128.125 128\n"},
       but + "3 coordinates out of range (first in anima000.obj line 1)",
       {0x400 | 0x401 << 11 | 0x200u << 22}},
      {"a coordinate too large for any number",
       {"v 1e400 2 3\n"},
       but + "1 coordinate out of range (first in anima000.obj line 1)",
       {0x03008000}},
      {"digits beyond any double",
       {"# big\nv " + std::string(400, '1') + " 2 3\n"},
       but + "1 coordinate out of range (first in anima000.obj line 2)",
       {0x03008000}},
      {"first seen in a later frame",
       {lines({"v 1 2 3", "v 4 5 6"}), lines({"v 1 2 3", "v 4 5 6"}),
        lines({"# moved", "", "v 1 2 3", "v 200 5 6"}), lines({"v 1 2 300", "v 1 -300 3"})},
       but + "3 coordinates out of range (first in anima002.obj line 4)"},
      {"first seen in the first frame",
       {lines({"o Box", "v 1 2 3", "v 4 5 130"}), lines({"v 500 2 3", "v 4 5 6"})},
       but + "2 coordinates out of range (first in anima000.obj line 3)"},
      {"a comment that makes a face",
       {lines({"v 0 0 0", "v 1 0 0", "v 0 1 0", "f 1 2 3", "# End of file"})},
       but + "3 face indices out of range (first in anima000.obj line 5)",
       {},
       {0, 1, 2, 0xFFFF, 0xFFFF, 0xFFFF}},
      {"references 0, past the end and negative",
       {lines(
           {"v 0 0 0", "v 1 0 0", "v 0 1 0", "f 0 1 2", "f 1 2 4", "f -1 -2 -3", "f 1 -4 2", "f 1 2 65537"})},
       but + "4 face indices out of range (first in anima000.obj line 4)",
       {},
       {0xFFFF, 0, 1, 0, 1, 3, 0, 1, 2, 0, 3, 1, 0, 1, 0}},
      {"both counts together",
       {lines({"v 1 2 3", "v 4 5 6", "f 1 2 3", "f 0 1 2"}), lines({"v 1 2 3", "v 200 -200 6"})},
       but + "2 coordinates out of range (first in anima001.obj line 2) and 2 face indices out of range "
             "(first in anima000.obj line 3)"},
      {"CR LF line ends, and both singular",
       {lines({"v 1 2 3", "v 4 5 6", "f 1 2 3"}, "\r\n"),
        lines({"# frame 1", "", "v 1 2 3", "v 4 -129 6"}, "\r\n")},
       but + "1 coordinate out of range (first in anima001.obj line 4) and 1 face index out of range "
             "(first in anima000.obj line 3)"},
      {"a frame longer than the bytes read",
       {longer_than_read()},
       but + "1 coordinate out of range (first in anima000.obj line 49002) and 1 frame longer than 5000000 "
             "bytes (first anima000.obj)",
       {0x03008008, 0x03000000 | (static_cast<uint32_t>(-1600) & 0x7FF) << 11 | 0x08}},
  };
  for (const OutOfRangeCase& c : cases) {
    TempDir dir;
    for (size_t f = 0; f < c.frames.size(); ++f)
      write_bytes(dir / frame_name(static_cast<int>(f)), c.frames[f]);
    const RunResult run = run_program(kProgram, dir.path);
    EXPECT_EQ(run.exit_status, 1) << c.name;
    EXPECT_EQ(run.messages, std::vector<std::string>{c.text + ": Conversion Complete"}) << c.name;
    if (!c.words.empty()) {
      std::string expected = u16le(static_cast<uint16_t>(c.frames.size())) +
                             u16le(static_cast<uint16_t>(4 * c.words.size() / c.frames.size()));
      for (uint32_t word : c.words) expected += u32le(word);
      EXPECT_EQ(read_bytes(dir / "aniv00.3d"), expected) << c.name;
    }
    if (!c.indices.empty()) {
      const auto mesh = read_bytes(dir / "data00.3d");
      ASSERT_TRUE(mesh) << c.name;
      EXPECT_EQ(mesh_indices(*mesh), c.indices) << c.name;
    }
  }
}

TEST(Frameconv, TenThousandAndOneVerticesGiveTenThousand) {
  TempDir dir;
  std::string text;
  for (int i = 0; i <= 10000; ++i) text += "v 1 2 3\n";
  write_bytes(dir / "anima000.obj", text);
  write_bytes(dir / "anima001.obj", text);
  EXPECT_EQ(run_program(kProgram, dir.path).exit_status, 1);
  const auto bytes = read_bytes(dir / "aniv00.3d");
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->substr(0, 4), u16le(2) + u16le(40000));
  EXPECT_EQ(bytes->size(), 4u + 2 * 40000);
}

// Every way a run can end without output: the closing message, exit status 1,
// and the earlier aniv00.3d and data00.3d left as they were, with no temporary
// beside them.
struct FailureCase {
  const char* name;
  void (*setup)(const TempDir&);
  std::string message;
  const char* in_the_way = nullptr;  // a directory of this name, made after the setup
};

void no_frames(const TempDir&) {}
void empty_first_frame(const TempDir& dir) { write_bytes(dir / "anima000.obj", ""); }
void first_frame_is_a_directory(const TempDir& dir) {
  std::filesystem::create_directory(dir / "anima000.obj");
}
void later_frame_is_a_directory(const TempDir& dir) {
  write_frames(dir, 0, 1, 2);
  std::filesystem::create_directory(dir / "anima002.obj");
}
void no_vertices(const TempDir& dir) { write_bytes(dir / "anima000.obj", "# nothing\nvt 0 0\nf 1 2 3\n"); }
void too_few_vertices(const TempDir& dir) {
  write_frames(dir, 0, 1, 4);
  write_bytes(dir / "anima002.obj", frame_text(2, 3));
}
void empty_later_frame(const TempDir& dir) {
  write_frames(dir, 0, 1, 2);
  write_bytes(dir / "anima002.obj", "");
}
void store_overflows(const TempDir& dir) { write_frames(dir, 0, 20, 10000); }
void two_frames(const TempDir& dir) { write_frames(dir, 0, 1, 2); }

TEST(Frameconv, FailuresEndWithTheirMessageAndWriteNothing) {
  const FailureCase cases[] = {
      {"no frames", no_frames, "Conversion Error: Cannot find anima000.obj file"},
      {"empty first frame", empty_first_frame, "0 size dxf file: 0 size dxf file"},
      {"first frame is a directory", first_frame_is_a_directory,
       "Conversion Error: Cannot read anima000.obj"},
      {"later frame is a directory", later_frame_is_a_directory,
       "Conversion Error: Cannot read anima002.obj"},
      {"no vertices", no_vertices, "Conversion Error: No vertices in anima000.obj"},
      {"too few vertices", too_few_vertices, "Conversion Error: Too few vertices in anima002.obj"},
      {"empty later frame", empty_later_frame, "Conversion Error: Too few vertices in anima002.obj"},
      {"store overflows", store_overflows, "Conversion Error: Vertex store full at anima020.obj"},
      {"output in the way", two_frames, "Conversion Error: Cannot write aniv00.3d", "aniv00.3d"},
      {"temporary in the way", two_frames, "Conversion Error: Cannot write aniv00.3d",
       "aniv00.3d~frameconv-new"},
      {"mesh in the way", two_frames, "Conversion Error: Cannot write data00.3d", "data00.3d"},
      {"mesh temporary in the way", two_frames, "Conversion Error: Cannot write data00.3d",
       "data00.3d~frameconv-new"},
  };
  for (const FailureCase& c : cases) {
    TempDir dir;
    write_bytes(dir / "aniv00.3d", "earlier animation");
    write_bytes(dir / "data00.3d", "earlier mesh");
    c.setup(dir);
    if (c.in_the_way) {
      std::filesystem::remove(dir / c.in_the_way);
      std::filesystem::create_directory(dir / c.in_the_way);
    }
    const auto before = list_dir(dir.path);
    const RunResult run = run_program(kProgram, dir.path);
    EXPECT_EQ(run.exit_status, 1) << c.name;
    EXPECT_EQ(run.messages, std::vector<std::string>{c.message}) << c.name;
    EXPECT_EQ(list_dir(dir.path), before) << c.name;
    for (const auto& [output, earlier] :
         {std::pair{"aniv00.3d", "earlier animation"}, {"data00.3d", "earlier mesh"}}) {
      if (std::filesystem::is_directory(dir / output)) continue;
      EXPECT_EQ(read_bytes(dir / output), earlier) << c.name << ": " << output;
    }
  }
}

// An output that cannot be replaced, one and then the other: the run names it,
// and both earlier files stay byte for byte, with nothing beside them.
TEST(Frameconv, AnOutputThatCannotBeReplacedLeavesBothEarlierFiles) {
  for (const char* held : {"aniv00.3d", "data00.3d"}) {
    TempDir dir;
    write_frames(dir, 0, 2, 5);
    write_bytes(dir / "aniv00.3d", "earlier animation");
    write_bytes(dir / "data00.3d", "earlier mesh");
    const auto before = list_dir(dir.path);
    const auto run = run_with_output_held(kProgram, dir.path, held);
    if (!run) GTEST_SKIP() << kCannotHoldOutputs;
    EXPECT_EQ(run->exit_status, 1) << held;
    EXPECT_EQ(run->messages, std::vector<std::string>{std::string("Conversion Error: Cannot write ") + held});
    EXPECT_EQ(list_dir(dir.path), before) << held;
    EXPECT_EQ(read_bytes(dir / "aniv00.3d"), "earlier animation") << held;
    EXPECT_EQ(read_bytes(dir / "data00.3d"), "earlier mesh") << held;
  }
}

// On Windows a read-only output is not replaced either.
TEST(Frameconv, AReadOnlyOutputOnWindowsLeavesBothEarlierFiles) {
  if (!running_under_wine()) GTEST_SKIP() << "a read-only file is replaced by a rename elsewhere";
  for (const char* read_only : {"aniv00.3d", "data00.3d"}) {
    TempDir dir;
    write_frames(dir, 0, 2, 5);
    write_bytes(dir / "aniv00.3d", "earlier animation");
    write_bytes(dir / "data00.3d", "earlier mesh");
    std::filesystem::permissions(dir / read_only,
                                 std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
    const auto before = list_dir(dir.path);
    const RunResult run = run_program(kProgram, dir.path);
    EXPECT_EQ(run.messages,
              std::vector<std::string>{std::string("Conversion Error: Cannot write ") + read_only});
    EXPECT_EQ(list_dir(dir.path), before) << read_only;
    EXPECT_EQ(read_bytes(dir / "aniv00.3d"), "earlier animation") << read_only;
    EXPECT_EQ(read_bytes(dir / "data00.3d"), "earlier mesh") << read_only;
  }
}

TEST(Frameconv, OutOfMemoryEndsWithItsMessage) {
  if (kProgramsSanitized || running_under_wine()) GTEST_SKIP() << "needs a native build without sanitizers";
  TempDir dir;
  write_frames(dir, 0, 1, 2);
  write_bytes(dir / "aniv00.3d", "earlier animation");
  const auto before = list_dir(dir.path);
  // Room to start, not for the 6 MB buffer.
  const RunResult run = run_program_with_memory_limit(kProgram, dir.path, 4000);
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.messages, std::vector<std::string>{"Conversion Error: out of memory"});
  EXPECT_EQ(list_dir(dir.path), before);
  EXPECT_EQ(read_bytes(dir / "aniv00.3d"), "earlier animation");
}

TEST(Frameconv, StoreFilledExactlyIsStillComplete) {
  TempDir dir;
  write_frames(dir, 0, 19, 10000);
  const RunResult run = run_program(kProgram, dir.path);
  EXPECT_EQ(run.messages, std::vector<std::string>{"Conversion Complete: Conversion Complete"});
  const auto bytes = read_bytes(dir / "aniv00.3d");
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->size(), 4u + 20 * 40000);
  EXPECT_EQ(*bytes, expected_animation(20, 10000));
}

TEST(Frameconv, BundledExample) {
  TempDir dir;
  for (const auto& entry : std::filesystem::directory_iterator(EXAMPLE_DIR)) {
    std::filesystem::copy_file(entry.path(), dir / entry.path().filename().string());
  }
  const RunResult run = run_program(kProgram, dir.path);
  EXPECT_EQ(run.messages, std::vector<std::string>{"Conversion Complete: Conversion Complete"});
  const auto bytes = read_bytes(dir / "aniv00.3d");
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->substr(0, 4), u16le(24) + u16le(50 * 4));
  EXPECT_EQ(bytes->size(), 4u + 24 * 50 * 4);
  const auto mesh = read_bytes(dir / "data00.3d");
  ASSERT_TRUE(mesh);
  EXPECT_EQ(mesh->substr(0, 4), u16le(96) + u16le(50));
  EXPECT_EQ(mesh->size(), 48u + 16 * (96 + 3));
}

}  // namespace
