// The frame files: their names and reading one into the text buffer.
#include "frames.h"

#include <cstdio>
#include <cstring>

#include "platform.h"

// The frame number's digits in "animaNNN.obj".
constexpr size_t kHundreds = kFrameDigitsAt, kTens = kFrameDigitsAt + 1, kUnits = kFrameDigitsAt + 2;
static_assert(kUnits + 1 == kFrameDigitsAt + kFrameDigitCount, "three digits");

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

FrameLoad load_frame(const char* name, char* text, size_t& end, bool& longer) {
  bool missing = false;
  FILE* file = open_regular_file(name, missing);
  if (!file) return missing ? FrameLoad::kMissing : FrameLoad::kUnreadable;
  std::setvbuf(file, nullptr, _IONBF, 0);  // one read straight into the buffer
  // One byte more than is scanned, into the terminator's place: it tells a
  // file that holds more than the limit without a second look at the file.
  end = std::fread(text, 1, kFrameReadLimit + 1, file);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return FrameLoad::kUnreadable;
  longer = end > kFrameReadLimit;
  if (longer) end = kFrameReadLimit;
  text[end] = 0;
  return FrameLoad::kRead;
}

void write_frame_name(uint32_t frame, char (&name)[kFrameNameBytes]) {
  std::memcpy(name, kFirstFrameName, kFrameNameBytes);
  name[kHundreds] = static_cast<char>('0' + frame / 100 % 10);
  name[kTens] = static_cast<char>('0' + frame / 10 % 10);
  name[kUnits] = static_cast<char>('0' + frame % 10);
}
