// frameconv: converts the frame sequence anima000.obj, anima001.obj, ... in the
// current directory into the vertex animation file aniv00.3d and the mesh file
// data00.3d.
#include <cstdio>
#include <cstring>

#include "buffer.h"
#include "folder_lock.h"
#include "frames.h"
#include "mesh.h"
#include "output.h"
#include "platform.h"
#include "scan.h"
#include "sequence.h"
#include "vertex_animation.h"

namespace {

// Everything a run works in, taken once.
struct Workspace {
  char text[kFrameReadLimit + 1];  // one frame file, plus the 0 the readers stop at
  VertexStore store;
  TriangleTable triangles;
};

int finish(Workspace* work, const char* text, const char* caption) {
  release_buffer(work, sizeof(Workspace));
  unlock_folder();  // the next run need not wait for the user
  report_result(text, caption);
  return 1;
}

int fail(Workspace* work, const char* format, const char* name) {
  char caption[64];
  std::snprintf(caption, sizeof caption, format, name);
  return finish(work, "Conversion Error", caption);
}

// frameconv's handling of each frame read: its vertices packed into the
// store, each coordinate its field cannot hold counted.
struct Packing {
  VertexStore& store;
  OutOfRange& coordinates;
  const char* text;

  void begin_frame(uint32_t, const char* frame_text) { text = frame_text; }
  void vertex(const Vertex& vertex) { pack_counting(store, coordinates, text, vertex); }
  void end_frame(uint32_t, uint32_t) {}
  void drop_frame() {}
  void left_out(LeftOutKind, uint32_t, const char*, size_t) {}
};

// The closing message of each way a reading can stop before the outputs are
// written, indexed by SequenceEnd: the text, and the caption, a format of the
// frame it stopped at (the first frame's name for kNoFirstFrame).
struct Stop {
  const char* text;
  const char* caption;
};
constexpr Stop kStops[] = {
    {nullptr, nullptr},                               // kComplete: not a stop
    {"Conversion Error", "Cannot find %s file"},      // kNoFirstFrame
    {"0 size dxf file", "0 size dxf file"},           // kEmptyFirstFrame
    {"Conversion Error", "Cannot read %s"},           // kUnreadable
    {"Conversion Error", "No vertices in %s"},        // kNoVertices
    {"Conversion Error", "Vertex store full at %s"},  // kStoreFull
    {"Conversion Error", "Too few vertices in %s"},   // kTooFewVertices
};
static_assert(sizeof kStops / sizeof kStops[0] == static_cast<size_t>(SequenceEnd::kTooFewVertices) + 1,
              "one closing message for each way a reading stops");

int sequence_stopped(Workspace* work, SequenceEnd end, const char* name) {
  const Stop& stop = kStops[static_cast<size_t>(end)];
  char caption[64];
  std::snprintf(caption, sizeof caption, stop.caption,
                end == SequenceEnd::kNoFirstFrame ? kFirstFrameName : name);
  return finish(work, stop.text, caption);
}

// Writes both outputs to their temporary files, so that both are complete on
// disk before either replaces an earlier file. Returns the name of the output
// that could not be written, or nullptr.
const char* write_outputs(const Workspace& work, uint32_t vertex_count) {
  // At most 1,000 frames and 10,000 vertices a frame: both fit 16 bits.
  const auto frame_count = static_cast<uint16_t>(work.store.word_count / vertex_count);
  const auto bytes_per_frame = static_cast<uint16_t>(vertex_count * kPackedVertexBytes);
  char animation_temp[kTempNameBytes], mesh_temp[kTempNameBytes];
  temp_name(kVertexAnimationName, animation_temp);
  temp_name(kMeshName, mesh_temp);
  if (!write_vertex_animation_file(animation_temp, frame_count, bytes_per_frame, work.store.bytes,
                                   work.store.word_count * kPackedVertexBytes)) {
    return kVertexAnimationName;
  }
  if (!write_mesh_file(mesh_temp, static_cast<uint16_t>(vertex_count), work.triangles)) {
    remove_file(animation_temp);
    return kMeshName;
  }
  return nullptr;
}

}  // namespace

int program_main() {
  if (const char* failed = begin_outputs()) return fail(nullptr, "Cannot write %s", failed);
  auto* work = static_cast<Workspace*>(allocate_buffer(sizeof(Workspace)));
  if (!work) return finish(nullptr, "Conversion Error", "out of memory");
  work->store.word_count = 0;

  FrameSequence sequence;
  OutOfRange coordinates{};
  Packing packing{work->store, coordinates, work->text};
  const SequenceEnd end =
      read_frame_sequence(FrameFiles{nullptr}, work->text, work->triangles, sequence, packing);
  if (end != SequenceEnd::kComplete) return sequence_stopped(work, end, sequence.name);

  if (const char* failed = write_outputs(*work, sequence.vertex_count))
    return fail(work, "Cannot write %s", failed);
  const char* const outputs[] = {kVertexAnimationName, kMeshName};
  if (const char* failed = commit_outputs(outputs, 2)) return fail(work, "Cannot write %s", failed);

  char text[kClosingTextBytes];
  complete_text(sequence, coordinates, text);
  return finish(work, text, "Conversion Complete");
}
