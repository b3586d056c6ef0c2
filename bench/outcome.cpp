#include "outcome.h"

namespace {

constexpr char kStoreFullStart[] = "Conversion Error: Vertex store full at anima";
constexpr char kFrameNameEnd[] = ".obj";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool matches(const std::string& pattern, const std::string& text) {
  const size_t star = pattern.find('*');
  if (star == std::string::npos) return text == pattern;
  const size_t tail = pattern.size() - star - 1;
  return text.size() >= star + tail && text.compare(0, star, pattern, 0, star) == 0 &&
         text.compare(text.size() - tail, tail, pattern, star + 1, tail) == 0;
}

size_t frames_before_store_full(const std::string& closing, size_t frame_count) {
  const std::string start = kStoreFullStart, end = kFrameNameEnd;
  if (closing.size() != start.size() + 3 + end.size() || closing.compare(0, start.size(), start) != 0 ||
      closing.compare(start.size() + 3, end.size(), end) != 0) {
    return 0;
  }
  size_t frame = 0;
  for (size_t i = start.size(); i < start.size() + 3; ++i) {
    if (!is_digit(closing[i])) return 0;
    frame = frame * 10 + static_cast<size_t>(closing[i] - '0');
  }
  return frame < frame_count ? frame : 0;
}
