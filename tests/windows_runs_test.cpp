// Runs of the Windows frameconv under Wine that must give the same messages and
// the same bytes as the frameconv built here, on the same inputs.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "run.h"

namespace {

std::string frame_name(int frame) {
  char name[16];
  std::snprintf(name, sizeof name, "anima%03d.obj", frame);
  return name;
}

// Coordinates that test the number reader's arithmetic: decimals next to a
// step of 1/8 or 1/4 (where one rounding more would move a truncated field),
// digits beyond what the exact fast path takes, exponents in all four letters,
// and values past the coordinate range.
std::string awkward_frame(int frame) {
  static const char* const kNumbers[] = {
      "0.1",
      "1.9",
      "-0.1",
      "127.875",
      "-128",
      "0.30000000000000004",
      "2.6249999999999999",
      "0.125000000000000001",
      "-3.3750000000000000000000001",
      "0.12499999999999999999999999999",
      "1e-5",
      "1.5d2",
      "-2.5E1",
      "7.25D-1",
      "128.0",
      "1e400",
      "-1e400",
      "123456789012345678901234e-22",
      "99.999999999999999",
      "0.0000000000000000000000000000000000000000000000000000000000000000001e66",
      "4.4999999999999996",
      "63.874999999999996",
      "-63.87500000000001",
      "0.6249999999999999"};
  std::string text = "# awkward numbers, frame " + std::to_string(frame) + "\n";
  const int count = sizeof kNumbers / sizeof kNumbers[0];
  for (int i = 0; i < count; ++i) {
    text += std::string("v ") + kNumbers[(i + frame) % count] + " " + kNumbers[(i + 7 + frame) % count] +
            " " + kNumbers[(i + 13 * frame + 3) % count] + "\n";
  }
  // Values a step apart across a range, written with 17 significant digits.
  for (int i = 0; i < 300; ++i) {
    char line[96];
    const double x = -100.0 + i * 0.6666666666666666 + frame * 0.01;
    std::snprintf(line, sizeof line, "v %.17g %.17g %.17g\n", x, x / 3.0, -x * 0.7);
    text += line;
  }
  return text + "f 1 2 3\nf -4 0 x\nf 24 25 26\n";
}

// The awkward frames' closing text: 1.5d2, 128.0, 1e400 and -1e400 in every
// axis of every frame, 4 x 3 x 7 coordinates, and the two indices of "f -4 0 x".
constexpr char kAwkwardComplete[] =
    "Conversion Complete, but 84 coordinates out of range (first in anima000.obj line 6) and 2 face "
    "indices out of range (first in anima000.obj line 327): Conversion Complete";

struct SameBytesCase {
  const char* name;
  void (*setup)(const TempDir&);
  const char* message;
};

void bundled_example(const TempDir& dir) {
  for (const auto& entry : std::filesystem::directory_iterator(EXAMPLE_DIR)) {
    std::filesystem::copy_file(entry.path(), dir / entry.path().filename().string());
  }
}
void awkward_numbers(const TempDir& dir) {
  for (int f = 0; f < 7; ++f) write_bytes(dir / frame_name(f), awkward_frame(f));
}
void replaced_outputs(const TempDir& dir) {
  awkward_numbers(dir);
  write_bytes(dir / "aniv00.3d", std::string(70000, 'a'));
  write_bytes(dir / "data00.3d", std::string(70000, 'd'));
}
void too_few_vertices(const TempDir& dir) {
  awkward_numbers(dir);
  write_bytes(dir / frame_name(7), "v 1 2 3\n");
}

// Every file in `dir` with its bytes.
std::vector<std::pair<std::string, std::string>> contents(const std::filesystem::path& dir) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const std::string& name : list_dir(dir)) files.push_back({name, read_bytes(dir / name).value_or("?")});
  return files;
}

TEST(WindowsRuns, GiveTheSameMessagesAndBytesAsTheNativeBuild) {
  if (!running_under_wine()) GTEST_SKIP() << "ANIM3D_WINE is not set: no Windows program to compare with";
  const SameBytesCase cases[] = {
      {"bundled example", bundled_example, "Conversion Complete: Conversion Complete"},
      {"awkward numbers", awkward_numbers, kAwkwardComplete},
      {"replaced outputs", replaced_outputs, kAwkwardComplete},
      {"too few vertices", too_few_vertices, "Conversion Error: Too few vertices in anima007.obj"},
  };
  const std::string native = FRAMECONV_PROGRAM;
  const std::string windows = program_under_test("ANIM3D_FRAMECONV", native);
  ASSERT_NE(windows, native) << "ANIM3D_FRAMECONV names no Windows program";
  for (const SameBytesCase& c : cases) {
    TempDir native_dir, windows_dir;
    c.setup(native_dir);
    c.setup(windows_dir);
    const RunResult native_run = run_program(native, native_dir.path);
    const RunResult windows_run = run_program(windows, windows_dir.path);
    EXPECT_EQ(native_run.messages, std::vector<std::string>{c.message}) << c.name;
    EXPECT_EQ(windows_run.exit_status, 1) << c.name;
    EXPECT_EQ(windows_run.exit_status, native_run.exit_status) << c.name;
    EXPECT_EQ(windows_run.messages, native_run.messages) << c.name;
    EXPECT_TRUE(contents(windows_dir.path) == contents(native_dir.path)) << c.name << ": files differ";
  }
}

}  // namespace
