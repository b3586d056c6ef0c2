#include "sequence.h"

#include <cstdio>

FrameLoad FrameFiles::load(const char* name, char* text, size_t& end, bool& longer) const {
  char path[kFramePathBytes];
  const char* file = name;
  if (dir) {
    const int length = std::snprintf(path, sizeof path, "%s/%s", dir, name);
    if (length < 0 || static_cast<size_t>(length) >= sizeof path) return FrameLoad::kUnreadable;
    file = path;
  }
  return load_frame(file, text, end, longer);
}

void count_left_out(FrameSequence& sequence, LeftOutKind kind, uint32_t frame, const char* text, size_t at) {
  LeftOutCount& counted = sequence.left_out[static_cast<int>(kind)];
  if (counted.count++ > 0) return;
  counted.frame = frame;
  // A whole frame file has no line; the others' lines are counted once, for
  // the first only.
  counted.line = kind == LeftOutKind::kFrameLongerThanRead ? 0 : line_of(text, at);
}

namespace {

// The words of each kind, singular and plural, as printf formats of the one
// number some of them hold.
struct Words {
  const char* one;
  const char* many;
};
constexpr Words kLeftOutWords[kLeftOutKinds] = {
    {"vertex not read as written", "vertices not read as written"},
    {"face not read in full", "faces not read in full"},
    {"face past the limit of %u", "faces past the limit of %u"},
    {"frame with more than %u vertices", "frames with more than %u vertices"},
    {"frame longer than %u bytes", "frames longer than %u bytes"},
};
static_assert(kFrameReadLimit <= UINT32_MAX, "the read limit prints as an unsigned");

// The number a kind's words hold.
uint32_t number_in_words(LeftOutKind kind, uint32_t vertex_count) {
  switch (kind) {
    case LeftOutKind::kFacePastLimit:
      return kTriangleLimit;
    case LeftOutKind::kFrameWithMoreVertices:
      return vertex_count;
    case LeftOutKind::kFrameLongerThanRead:
      return static_cast<uint32_t>(kFrameReadLimit);
    default:
      return 0;
  }
}

// Appends one part, "N words (first in animaNNN.obj line L)" (or "(first
// animaNNN.obj)" without a line), after `joint`, if it counted anything.
void add_part(char (&text)[kClosingTextBytes], const char*& joint, uint32_t count, const char* words,
              uint32_t frame, uint32_t line) {
  if (count == 0) return;
  char name[kFrameNameBytes];
  write_frame_name(frame, name);
  const size_t length = std::strlen(text);
  if (line == 0) {
    std::snprintf(text + length, sizeof text - length, "%s%u %s (first %s)", joint, count, words, name);
  } else {
    std::snprintf(text + length, sizeof text - length, "%s%u %s (first in %s line %u)", joint, count, words,
                  name, line);
  }
  joint = " and ";
}

}  // namespace

void left_out_words(LeftOutKind kind, uint32_t count, uint32_t vertex_count,
                    char (&words)[kLeftOutWordsBytes]) {
  const Words& w = kLeftOutWords[static_cast<int>(kind)];
  std::snprintf(words, sizeof words, count == 1 ? w.one : w.many, number_in_words(kind, vertex_count));
}

void complete_text(const FrameSequence& sequence, const OutOfRange& coordinates,
                   char (&text)[kClosingTextBytes]) {
  std::snprintf(text, sizeof text, "Conversion Complete");
  const char* joint = ", but ";
  add_part(text, joint, coordinates.count,
           coordinates.count == 1 ? "coordinate out of range" : "coordinates out of range",
           coordinates.first_word / sequence.vertex_count, coordinates.first_line);
  add_part(text, joint, sequence.indices.count,
           sequence.indices.count == 1 ? "face index out of range" : "face indices out of range", 0,
           sequence.indices.first_line);
  for (int kind = 0; kind < kLeftOutKinds; ++kind) {
    const LeftOutCount& counted = sequence.left_out[kind];
    char words[kLeftOutWordsBytes];
    left_out_words(static_cast<LeftOutKind>(kind), counted.count, sequence.vertex_count, words);
    add_part(text, joint, counted.count, words, counted.frame, counted.line);
  }
}
