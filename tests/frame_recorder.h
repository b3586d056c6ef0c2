// A small recorder of the one reading of a frame sequence: frame texts handed
// to read_frame_sequence from memory, and what it hands back kept as data.
// The scanner's tests, the fuzzers and the benchmark's tests read frames
// through it, so that they test the path frameconv runs.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sequence.h"

// Frame texts in memory, anima000.obj first; a frame past the last is
// missing. Loads as load_frame loads a file: cut at kFrameReadLimit bytes.
struct FramesInMemory {
  const std::vector<std::string_view>& texts;

  FrameLoad load(const char* name, char* text, size_t& end, bool& longer) const {
    size_t frame = 0;
    for (size_t i = kFrameDigitsAt; i < kFrameDigitsAt + kFrameDigitCount; ++i)
      frame = frame * 10 + (name[i] - '0');
    if (frame >= texts.size()) return FrameLoad::kMissing;
    const std::string_view file = texts[frame];
    longer = file.size() > kFrameReadLimit;
    end = longer ? kFrameReadLimit : file.size();
    std::memcpy(text, file.data(), end);
    text[end] = 0;
    return FrameLoad::kRead;
  }
};

// One thing read_frame_sequence told of leaving out.
struct LeftOutSeen {
  LeftOutKind kind;
  uint32_t frame;
  size_t at;  // the offset of its statement in the frame's text
  bool operator==(const LeftOutSeen&) const = default;
};

// Keeps every vertex handed over, frame by frame, and every thing left out
// unless told not to (a fuzzer's frame of millions of faces past the limit).
struct Recorder {
  bool keep_left_out = true;
  std::vector<std::vector<Vertex>> frames;  // of the frames ended
  std::vector<Vertex> dropped;              // of a frame the reading stopped at
  std::vector<LeftOutSeen> left_out_seen;   // of the frames ended
  std::vector<Vertex> current;              // of the frame at hand

  void begin_frame(uint32_t, const char*) { current.clear(); }
  void vertex(const Vertex& vertex) { current.push_back(vertex); }
  void end_frame(uint32_t, uint32_t) { frames.push_back(std::move(current)); }
  void drop_frame() {
    dropped = std::move(current);
    std::erase_if(left_out_seen, [&](const LeftOutSeen& seen) { return seen.frame == frames.size(); });
  }
  void left_out(LeftOutKind kind, uint32_t frame, const char*, size_t at) {
    if (keep_left_out) left_out_seen.push_back({kind, frame, at});
  }
};

// A reading of frames in memory, as recorded.
struct RecordedSequence {
  SequenceEnd end;
  FrameSequence sequence;
  std::unique_ptr<TriangleTable> triangles;  // of the first frame
  Recorder recorder;
};

// Reads `texts` as frameconv reads its frame files. The text buffer is taken
// once, of exactly its size, so that AddressSanitizer sees any read past it.
inline RecordedSequence record_sequence(const std::vector<std::string_view>& texts,
                                        bool keep_left_out = true) {
  static const std::unique_ptr<char[]> text(new char[kFrameReadLimit + 1]);
  RecordedSequence read;
  read.triangles.reset(new TriangleTable);  // the pass sets what it fills
  read.recorder.keep_left_out = keep_left_out;
  read.end =
      read_frame_sequence(FramesInMemory{texts}, text.get(), *read.triangles, read.sequence, read.recorder);
  return read;
}
