// A file opened for reading that closes itself when its owner goes: a run
// leaves a reading at any point without a close on each way out. The close
// of a file only read has nothing to report.
#pragma once

#include <cstdio>
#include <memory>

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using OpenFile = std::unique_ptr<FILE, FileCloser>;
