// The frame files: their names and reading one into the text buffer.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "frameconv.h"

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

FrameLoad load_frame(const char* name, char* text, size_t& end) {
  errno = 0;
  FILE* file = std::fopen(name, "rb");
  if (!file) return errno == ENOENT ? FrameLoad::kMissing : FrameLoad::kUnreadable;
  std::setvbuf(file, nullptr, _IONBF, 0);  // one read straight into the buffer
  end = std::fread(text, 1, kFrameReadLimit, file);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return FrameLoad::kUnreadable;
  text[end] = 0;
  return FrameLoad::kRead;
}

void write_frame_name(uint32_t frame, char (&name)[kFrameNameBytes]) {
  std::memcpy(name, kFirstFrameName, kFrameNameBytes);
  name[kHundreds] = static_cast<char>('0' + frame / 100 % 10);
  name[kTens] = static_cast<char>('0' + frame / 10 % 10);
  name[kUnits] = static_cast<char>('0' + frame % 10);
}

bool frame_longer_than_read(const char* name) {
  FILE* file = std::fopen(name, "rb");
  if (!file) return false;
  const bool longer =
      std::fseek(file, static_cast<long>(kFrameReadLimit), SEEK_SET) == 0 && std::fgetc(file) != EOF;
  const bool closed = std::fclose(file) == 0;
  return longer && closed;
}
