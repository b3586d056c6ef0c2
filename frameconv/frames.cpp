// The frame files: their names and reading one into the text buffer.
#include <cstdio>

#include "frameconv.h"
#include "platform.h"

// The frame number's digits in "animaNNN.obj".
constexpr int kHundreds = 5, kTens = 6, kUnits = 7;

void next_frame_name(char* name) {
  if (++name[kUnits] > '9') {
    name[kUnits] = '0';
    ++name[kTens];
  }
  if (name[kTens] > '9') {
    name[kTens] = '0';
    ++name[kHundreds];
  }
}

FrameLoad load_frame(const char* name, char* text, size_t& end) {
  bool missing = false;
  FILE* file = open_regular_file(name, missing);
  if (!file) return missing ? FrameLoad::kMissing : FrameLoad::kUnreadable;
  std::setvbuf(file, nullptr, _IONBF, 0);  // one read straight into the buffer
  end = std::fread(text, 1, kFrameReadLimit, file);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return FrameLoad::kUnreadable;
  text[end] = 0;
  return FrameLoad::kRead;
}
