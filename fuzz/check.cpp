#include "check.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

std::vector<std::string> split_input(const uint8_t* data, size_t size, const std::string& separator,
                                     size_t most) {
  const std::string all(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> pieces;
  size_t from = 0;
  while (pieces.size() + 1 < most) {
    const size_t at = all.find(separator, from);
    if (at == std::string::npos) break;
    pieces.push_back(all.substr(from, at - from));
    from = at + separator.size();
  }
  pieces.push_back(all.substr(from));
  return pieces;
}

static std::filesystem::path scratch;

static void remove_scratch() {
  std::error_code ignored;
  std::filesystem::current_path(scratch.parent_path(), ignored);
  std::filesystem::remove_all(scratch, ignored);
}

void enter_scratch_dir() {
  if (scratch.empty()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "anim3d-fuzz-XXXXXX").string();
    CHECK(mkdtemp(pattern.data()) != nullptr);
    scratch = pattern;
    std::filesystem::create_directory(scratch / "work");
    std::filesystem::current_path(scratch / "work");
    std::atexit(remove_scratch);
    return;
  }
  for (const auto& entry : std::filesystem::directory_iterator(scratch / "work"))
    std::filesystem::remove_all(entry);
}

void write_whole(const std::string& name, const std::string& bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  CHECK(out.flush());
}

std::string read_whole(const std::string& name) {
  if (!std::filesystem::is_regular_file(name)) return "<absent>";
  std::ifstream in(name, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string capture_stdout(int (*run)()) {
  const std::string file = (scratch / "stdout").string();
  std::fflush(stdout);
  const int saved = dup(1);
  const int fd = open(file.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
  CHECK(saved >= 0 && fd >= 0);
  dup2(fd, 1);
  close(fd);
  CHECK(run() == 1);
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  return read_whole(file);
}

std::vector<std::string> dir_names() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator("."))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}
