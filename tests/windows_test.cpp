// The Windows build: the format of its executables, and runs under Wine that
// must give the same messages and the same bytes as the programs built here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "run.h"

namespace {

// The programs the Windows build delivers, as built beside the tests.
const std::vector<std::string> kPrograms = {FRAMECONV_PROGRAM};

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// What objdump -p says of an executable: its file format, optional header
// magic and subsystem, and for each DLL it imports from, the names it imports.
struct PeFacts {
  std::string format;
  std::string magic;
  std::string subsystem;
  std::vector<std::pair<std::string, std::set<std::string>>> imports;
};

PeFacts pe_facts(const std::string& executable) {
  PeFacts facts;
  FILE* pipe = popen(("'" MINGW_OBJDUMP "' -p '" + executable + "' 2>&1").c_str(), "r");
  if (!pipe) return facts;
  std::string output;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
  pclose(pipe);
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string first, second;
    words >> first;
    if (const size_t at = line.find("file format "); at != std::string::npos) {
      facts.format = line.substr(at + 12);
    } else if (first == "Magic") {
      std::getline(words >> std::ws, facts.magic);
    } else if (first == "Subsystem") {
      std::getline(words >> std::ws, facts.subsystem);
    } else if (first == "DLL" && (words >> second) && second == "Name:") {
      std::string dll;
      words >> dll;
      facts.imports.push_back({dll, {}});
    } else if (!facts.imports.empty() && line.find("<none>") == std::string::npos) {
      // An import row under the DLL's name: "\tvma  Hint/Ord  Member-Name  Bound-To",
      // e.g. "\t2281c\t  613  MessageBoxA".
      std::string hint, name;
      if (first.size() > 0 && std::isxdigit(static_cast<unsigned char>(first[0])) &&
          (words >> hint >> name) && std::all_of(hint.begin(), hint.end(), ::isdigit)) {
        facts.imports.back().second.insert(name);
      }
    }
    if (line.find("The Function Table") != std::string::npos) break;  // past the import tables
  }
  return facts;
}

// DLLs that every Windows has: a MinGW runtime DLL (libgcc_s_dw2-1.dll,
// libstdc++-6.dll, libwinpthread-1.dll) would make the program need files a
// stock Windows lacks.
const std::set<std::string> kWindowsDlls = {"kernel32.dll", "user32.dll", "msvcrt.dll", "advapi32.dll",
                                            "ntdll.dll"};

TEST(WindowsExecutables, ArePe32GuiProgramsThatNeedOnlyWindowsItself) {
  for (const std::string& native : kPrograms) {
    const std::string exe = windows_program(native);
    const PeFacts facts = pe_facts(exe);
    EXPECT_EQ(facts.format, "pei-i386") << exe;
    EXPECT_EQ(facts.magic, "010b\t(PE32)") << exe;
    EXPECT_EQ(facts.subsystem, "00000002\t(Windows GUI)") << exe;
    ASSERT_FALSE(facts.imports.empty()) << exe << ": no import table read";
    bool message_box = false, active_window = false;
    for (const auto& [dll, names] : facts.imports) {
      EXPECT_TRUE(kWindowsDlls.count(lower(dll))) << exe << " imports from " << dll;
      if (lower(dll) == "user32.dll") {
        message_box = names.count("MessageBoxA") > 0;
        active_window = names.count("GetActiveWindow") > 0;
      }
    }
    EXPECT_TRUE(message_box && active_window) << exe << ": the closing message box needs MessageBoxA and "
                                              << "GetActiveWindow from USER32.dll";
  }
}

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
  const SameBytesCase cases[] = {
      {"bundled example", bundled_example, "Conversion Complete: Conversion Complete"},
      {"awkward numbers", awkward_numbers, "Conversion Complete: Conversion Complete"},
      {"replaced outputs", replaced_outputs, "Conversion Complete: Conversion Complete"},
      {"too few vertices", too_few_vertices, "Conversion Error: Too few vertices in anima007.obj"},
  };
  for (const std::string& native : kPrograms) {
    for (const SameBytesCase& c : cases) {
      TempDir native_dir, windows_dir;
      c.setup(native_dir);
      c.setup(windows_dir);
      const RunResult native_run = run_program(native, native_dir.path);
      const RunResult windows_run = run_program(windows_program(native), windows_dir.path);
      EXPECT_EQ(native_run.messages, std::vector<std::string>{c.message}) << c.name;
      EXPECT_EQ(windows_run.exit_status, 1) << c.name;
      EXPECT_EQ(windows_run.exit_status, native_run.exit_status) << c.name;
      EXPECT_EQ(windows_run.messages, native_run.messages) << c.name;
      EXPECT_TRUE(contents(windows_dir.path) == contents(native_dir.path)) << c.name << ": files differ";
    }
  }
}

}  // namespace
