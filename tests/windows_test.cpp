// The Windows builds: the format of their executables, as objdump shows it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The programs each Windows build holds: the two converters are GUI programs
// that end with a message box, inspect3d a console program.
struct Program {
  const char* name;
  const char* subsystem;
  bool shows_message_box;
};
const Program kPrograms[] = {
    {"frameconv.exe", "00000002\t(Windows GUI)", true},
    {"clipmerge.exe", "00000002\t(Windows GUI)", true},
    {"inspect3d.exe", "00000003\t(Windows CUI)", false},
};

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

PeFacts pe_facts(const std::string& objdump, const std::string& executable) {
  PeFacts facts;
  FILE* pipe = popen(("'" + objdump + "' -p '" + executable + "' 2>&1").c_str(), "r");
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
// stock Windows lacks. shell32.dll, which splits inspect3d's wide-character
// command line, is looked up as inspect3d starts, never imported.
const std::set<std::string> kWindowsDlls = {"kernel32.dll", "user32.dll", "msvcrt.dll", "advapi32.dll",
                                            "ntdll.dll"};

// A Windows build and what objdump must say of each of its executables.
struct WindowsBuild {
  const char* dir;
  const char* objdump;
  const char* format;
  const char* magic;
};

void check_executables(const WindowsBuild& build) {
  for (const Program& program : kPrograms) {
    const std::string exe = (std::filesystem::path(build.dir) / program.name).string();
    const PeFacts facts = pe_facts(build.objdump, exe);
    EXPECT_EQ(facts.format, build.format) << exe;
    EXPECT_EQ(facts.magic, build.magic) << exe;
    EXPECT_EQ(facts.subsystem, program.subsystem) << exe;
    ASSERT_FALSE(facts.imports.empty()) << exe << ": no import table read";
    bool message_box = false, active_window = false;
    for (const auto& [dll, names] : facts.imports) {
      EXPECT_TRUE(kWindowsDlls.count(lower(dll))) << exe << " imports from " << dll;
      if (lower(dll) == "user32.dll") {
        message_box = names.count("MessageBoxA") > 0;
        active_window = names.count("GetActiveWindow") > 0;
      }
    }
    if (!program.shows_message_box) continue;
    EXPECT_TRUE(message_box && active_window) << exe << ": the closing message box needs MessageBoxA and "
                                              << "GetActiveWindow from USER32.dll";
  }
}

// The programs users get.
TEST(WindowsExecutables, ArePe32ProgramsThatNeedOnlyWindowsItself) {
  if (*WINDOWS_DIR == 0) GTEST_SKIP() << "the tests were configured without the 32-bit Windows build";
  check_executables({WINDOWS_DIR, MINGW32_OBJDUMP, "pei-i386", "010b\t(PE32)"});
}

// The ones the tests run under Wine: the same sources, built the same way.
TEST(WindowsExecutables, The64BitBuildIsBuiltTheSameWay) {
  if (*WINDOWS64_DIR == 0) GTEST_SKIP() << "the tests were configured without the 64-bit Windows build";
  check_executables({WINDOWS64_DIR, MINGW64_OBJDUMP, "pei-x86-64", "020b\t(PE32+)"});
}

}  // namespace
