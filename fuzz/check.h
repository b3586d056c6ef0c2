// What the fuzz targets share: a check that holds in every build, and a
// scratch directory in which whole program runs take place.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#define CHECK(condition)                                                                 \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

// Splits `data` at each occurrence of `separator`, into at most `most` pieces
// (the last piece keeps any further separators).
std::vector<std::string> split_input(const uint8_t* data, size_t size, const std::string& separator,
                                     size_t most);

// Makes an empty scratch directory the current one, the first time under the
// system's temporary directory, later by emptying it. It is removed at exit.
// note: the fuzzer's own paths (corpus, artifacts) must then be absolute.
void enter_scratch_dir();

void write_whole(const std::string& name, const std::string& bytes);

// The file's bytes, or "<absent>" if there is no such regular file.
std::string read_whole(const std::string& name);

// Runs `run` with standard output going to a file, and returns what it wrote.
std::string capture_stdout(int (*run)());

// The names in the current directory, sorted.
std::vector<std::string> dir_names();
