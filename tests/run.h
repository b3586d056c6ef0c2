// Helpers for tests that work with real files: a fresh temporary directory,
// whole-file reads and writes, and runs of a built program inside it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// A fresh directory under the system's temporary directory, removed with all
// it holds when the test is done.
struct TempDir {
  std::filesystem::path path;
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::filesystem::path operator/(const std::string& name) const { return path / name; }
};

void write_bytes(const std::filesystem::path& file, const std::string& bytes);
std::optional<std::string> read_bytes(const std::filesystem::path& file);

// The names of the entries in `dir`, sorted.
std::vector<std::string> list_dir(const std::filesystem::path& dir);

// How a run of a program ended: its exit status and the closing messages it
// showed ("text: caption" each).
struct RunResult {
  int exit_status = -1;
  std::vector<std::string> messages;
};

// Runs `program` with no arguments in `dir`.
RunResult run_program(const std::string& program, const std::filesystem::path& dir);

// How a run with arguments ended: its exit status and all it wrote to standard
// output and standard error.
struct CapturedRun {
  int exit_status = -1;
  std::string out;
  std::string err;
};

// Runs `program` with `args` in `dir`.
CapturedRun run_program(const std::string& program, const std::filesystem::path& dir,
                        const std::vector<std::string>& args);

// Bytes from pairs of hex digits; white space between them is ignored.
std::string from_hex(const char* hex);

// Little-endian fields, for building and checking expected bytes.
std::string u16le(uint16_t value);
std::string u32le(uint32_t value);
