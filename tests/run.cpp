#include "run.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "anim3d-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) std::abort();
  path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

void write_bytes(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) std::abort();
}

std::optional<std::string> read_bytes(const std::filesystem::path& file) {
  if (!std::filesystem::is_regular_file(file)) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::vector<std::string> list_dir(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

static std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

RunResult run_program(const std::string& program, const std::filesystem::path& dir) {
  const std::string command = "cd " + quoted(dir.string()) + " && " + quoted(program) + " x y z";
  RunResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  std::string output;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
  const int status = pclose(pipe);
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) result.messages.push_back(line);
  return result;
}

CapturedRun run_program(const std::string& program, const std::filesystem::path& dir,
                        const std::vector<std::string>& args) {
  const TempDir capture;  // apart from `dir`, so that its listing stays as the program left it
  std::string command = "cd " + quoted(dir.string()) + " && " + quoted(program);
  for (const std::string& arg : args) command.append(" ").append(quoted(arg));
  command.append(" >").append(quoted((capture / "out").string()));
  command.append(" 2>").append(quoted((capture / "err").string()));
  CapturedRun result;
  const int status = std::system(command.c_str());
  result.exit_status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = read_bytes(capture / "out").value_or("");
  result.err = read_bytes(capture / "err").value_or("");
  return result;
}

std::string u16le(uint16_t value) { return {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)}; }

std::string u32le(uint32_t value) {
  return u16le(static_cast<uint16_t>(value)) + u16le(static_cast<uint16_t>(value >> 16));
}

std::string from_hex(const char* hex) {
  std::string bytes;
  for (const char* p = hex; *p;) {
    if (*p == ' ') {
      ++p;
      continue;
    }
    bytes += static_cast<char>(std::stoi(std::string(p, 2), nullptr, 16));
    p += 2;
  }
  return bytes;
}
