// One reading of a frame sequence, the rules frameconv converts by: the
// frames anima000.obj, anima001.obj, ... in order until a name is missing or
// anima999.obj is read; the empty and missing first frame; the vertex count
// the first frame sets; the store's room; too few vertices in a later frame;
// the faces of the first frame; and what the reading leaves out. frameconv
// packs each frame it is handed; inspect3d check compares and preview colours,
// so that they cannot disagree with the program about what was read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "frames.h"
#include "mesh.h"
#include "scan.h"
#include "vertex_animation.h"

// How reading a frame sequence ended. For every end but kComplete the frame
// named in FrameSequence::name is the one it ended at.
enum class SequenceEnd {
  kComplete,         // every frame read, up to a missing name or anima999.obj
  kNoFirstFrame,     // there is no anima000.obj
  kEmptyFirstFrame,  // anima000.obj holds no byte
  kUnreadable,       // the frame exists but cannot be read
  kNoVertices,       // anima000.obj holds no "v "
  kStoreFull,        // this frame's vertices would not fit the vertex store
  kTooFewVertices,   // this later frame holds fewer vertices than the first
};

// How many of one kind were left out, and where the first stands: its frame
// and the line of its statement (0 for a whole frame file).
struct LeftOutCount {
  uint32_t count;
  uint32_t frame;
  uint32_t line;
};

// The reading of a sequence, as far as it got.
struct FrameSequence {
  char name[kFrameNameBytes];  // the frame last looked at
  uint32_t frame_count;        // frames read in full
  uint32_t vertex_count;       // the first frame's, and so every frame's
  OutOfRange indices;          // face indices of the first frame beyond its vertices
  LeftOutCount left_out[kLeftOutKinds];
};

// Room for a frame file's path: a directory, '/', the name.
constexpr size_t kFramePathBytes = 4096;

// The frame files of directory `dir` (nullptr: the current one), where
// read_frame_sequence reads a sequence from: load(name, text, end, longer)
// loads frame file `name` as load_frame does. A path that does not fit
// kFramePathBytes cannot be read.
struct FrameFiles {
  const char* dir;
  FrameLoad load(const char* name, char* text, size_t& end, bool& longer) const;
};

// Counts one thing left out in `sequence`, keeping the place of the first.
void count_left_out(FrameSequence& sequence, LeftOutKind kind, uint32_t frame, const char* text, size_t at);

// Vertices handed to the caller at a time.
constexpr uint32_t kVertexBatch = 64;

// Takes up to `count` vertices of a frame with `next`, one of the vertex
// passes' batch readers, handing each to `frames` and telling `tell` of each
// not read as written. Returns how many were taken: fewer than `count` only
// when the frame holds no more "v ".
template <typename Next, typename Frames, typename Tell>
uint32_t take_vertices(VertexScan& scan, uint32_t count, Next next, Frames& frames, Tell& tell) {
  Vertex batch[kVertexBatch];
  uint32_t taken_count = 0;
  while (taken_count < count) {
    const uint32_t room = count - taken_count < kVertexBatch ? count - taken_count : kVertexBatch;
    const uint32_t taken = next(scan, batch, room);
    for (uint32_t i = 0; i < taken; ++i) {
      if (!batch[i].as_written) tell(LeftOutKind::kVertexNotAsWritten, batch[i].at);
      frames.vertex(batch[i]);
    }
    taken_count += taken;
    if (taken < room) break;
  }
  return taken_count;
}

// Reads the frame sequence `source` loads (FrameFiles, or frames in memory
// for tests) into `text` (room for kFrameReadLimit + 1 bytes) and
// `triangles`, handing each frame to `frames`, which has these members:
//   begin_frame(frame, text)   a frame is read into text, valid until the next
//   vertex(const Vertex&)      each vertex taken of it, in the order of the text
//   end_frame(frame, count)    the frame is done; count is every frame's vertices
//   drop_frame()               the frame begun counts for nothing: too few vertices
//   left_out(kind, frame, text, at)   each thing left out, as `sequence` counts it
// The triangle pass runs over the first frame after end_frame(0, ...). Ends as
// frameconv's run does; `sequence` then says how far it got.
template <typename Source, typename Frames>
SequenceEnd read_frame_sequence(const Source& source, char* text, TriangleTable& triangles,
                                FrameSequence& sequence, Frames& frames) {
  sequence = {};
  std::memcpy(sequence.name, kFirstFrameName, kFrameNameBytes);
  // Counts and tells the caller of each thing left out of the frame at hand.
  struct Teller {
    FrameSequence& sequence;
    Frames& frames;
    const char* text;
    uint32_t frame;
    void operator()(LeftOutKind kind, size_t at) {
      count_left_out(sequence, kind, frame, text, at);
      frames.left_out(kind, frame, text, at);
    }
    static void note(void* context, LeftOutKind kind, size_t at) {
      (*static_cast<Teller*>(context))(kind, at);
    }
  } tell{sequence, frames, text, 0};

  size_t end = 0;
  bool longer = false;
  switch (source.load(sequence.name, text, end, longer)) {
    case FrameLoad::kMissing:
      return SequenceEnd::kNoFirstFrame;
    case FrameLoad::kUnreadable:
      return SequenceEnd::kUnreadable;
    case FrameLoad::kRead:
      break;
  }
  if (end == 0) return SequenceEnd::kEmptyFirstFrame;

  // The first frame: its vertices, at most 10,000, set the count of every frame.
  VertexScan scan = start_vertex_scan(text, end);
  frames.begin_frame(0, text);
  if (longer) tell(LeftOutKind::kFrameLongerThanRead, 0);
  const uint32_t vertex_count =
      take_vertices(scan, kFirstFrameVertexLimit, next_first_frame_vertices, frames, tell);
  if (vertex_count == 0) return SequenceEnd::kNoVertices;
  size_t more_at;
  if (vertex_follows(scan, more_at)) tell(LeftOutKind::kFrameWithMoreVertices, more_at);
  sequence.vertex_count = vertex_count;
  frames.end_frame(0, vertex_count);
  scan_triangles(text, end, vertex_count, triangles, sequence.indices, LeftOutNote{&Teller::note, &tell});
  sequence.frame_count = 1;

  // The later frames, while the next name opens: exactly as many vertices each.
  while (sequence.frame_count < kFrameLimit) {
    next_frame_name(sequence.name);
    const uint32_t frame = sequence.frame_count;
    tell.frame = frame;
    const FrameLoad load = source.load(sequence.name, text, end, longer);
    if (load == FrameLoad::kMissing) break;
    if (load == FrameLoad::kUnreadable) return SequenceEnd::kUnreadable;
    if (kVertexStoreWords - uint64_t{frame} * vertex_count < vertex_count) return SequenceEnd::kStoreFull;
    LeftOutCount before[kLeftOutKinds];
    std::memcpy(before, sequence.left_out, sizeof before);
    frames.begin_frame(frame, text);
    if (longer) tell(LeftOutKind::kFrameLongerThanRead, 0);
    scan = start_vertex_scan(text, end);
    if (take_vertices(scan, vertex_count, next_later_frame_vertices, frames, tell) < vertex_count) {
      // What was read of a frame the run stops at counts for nothing.
      std::memcpy(sequence.left_out, before, sizeof before);
      frames.drop_frame();
      return SequenceEnd::kTooFewVertices;
    }
    if (vertex_follows(scan, more_at)) tell(LeftOutKind::kFrameWithMoreVertices, more_at);
    frames.end_frame(frame, vertex_count);
    ++sequence.frame_count;
  }
  return SequenceEnd::kComplete;
}

// The words after the count of one kind left out: "vertices not read as
// written", "1 frame with more than 50 vertices" without the 1. The same in
// frameconv's closing text and in inspect3d check's report.
constexpr size_t kLeftOutWordsBytes = 48;
void left_out_words(LeftOutKind kind, uint32_t count, uint32_t vertex_count,
                    char (&words)[kLeftOutWordsBytes]);

// Room for the closing text of a complete run with all seven parts at their
// largest: counts and lines of ten digits.
constexpr size_t kClosingPartBytes = sizeof " and " + 10 + sizeof " " + kLeftOutWordsBytes +
                                     sizeof " (first in " + kFrameNameBytes + sizeof " line 4294967295)";
constexpr size_t kClosingTextBytes = sizeof "Conversion Complete, but " + 7 * kClosingPartBytes;

// The text of a run that wrote both outputs: "Conversion Complete", and,
// after ", but ", each part that counted anything, joined by " and ": the
// coordinates out of range, the face indices out of range, then what the
// reading left out, in the order of LeftOutKind. A conversion that lost
// data never reads as a clean one.
void complete_text(const FrameSequence& sequence, const OutOfRange& coordinates,
                   char (&text)[kClosingTextBytes]);
