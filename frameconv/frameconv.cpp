#include "frameconv.h"

#include <cstdio>
#include <cstring>

#include "mesh.h"
#include "output.h"
#include "platform.h"
#include "scan.h"
#include "vertex_animation.h"

namespace {

constexpr char kVertexAnimationName[] = "aniv00.3d";
constexpr char kMeshName[] = "data00.3d";

// Everything a run works in, taken once.
struct Workspace {
  char text[kFrameReadLimit + 1];  // one frame file, plus the 0 the readers stop at
  VertexStore store;
  TriangleTable triangles;
};

int finish(Workspace* work, const char* text, const char* caption) {
  release_buffer(work, sizeof(Workspace));
  report_result(text, caption);
  return 1;
}

int fail(Workspace* work, const char* format, const char* name) {
  char caption[64];
  std::snprintf(caption, sizeof caption, format, name);
  return finish(work, "Conversion Error", caption);
}

// Room for the closing text with both counts and lines at their largest.
constexpr size_t kClosingTextBytes = 256;

// Appends "N coordinates out of range (first in animaNNN.obj line L)" or the
// like to `text`, after `joint`, if `range` counted anything.
void add_out_of_range(char (&text)[kClosingTextBytes], const char*& joint, const OutOfRange& range,
                      const char* one, const char* many, uint32_t frame) {
  if (range.count == 0) return;
  const size_t length = std::strlen(text);
  std::snprintf(text + length, sizeof text - length, "%s%u %s out of range (first in anima%03u.obj line %u)",
                joint, range.count, range.count == 1 ? one : many, frame, range.first_line);
  joint = " and ";
}

// The text of a run that wrote both outputs: "Conversion Complete", and what
// the files could not hold, so that a conversion that lost data never reads
// as a clean one.
void complete_text(char (&text)[kClosingTextBytes], const OutOfRange& coordinates, uint32_t vertex_count,
                   const OutOfRange& indices) {
  std::snprintf(text, sizeof text, "Conversion Complete");
  const char* joint = ", but ";
  add_out_of_range(text, joint, coordinates, "coordinate", "coordinates",
                   coordinates.first_word / vertex_count);
  add_out_of_range(text, joint, indices, "face index", "face indices", 0);
}

}  // namespace

int program_main() {
  auto* work = static_cast<Workspace*>(allocate_buffer(sizeof(Workspace)));
  if (!work) return finish(nullptr, "Conversion Error", "out of memory");
  work->store.word_count = 0;

  char name[] = "anima000.obj";
  size_t end = 0;
  switch (load_frame(name, work->text, end)) {
    case FrameLoad::kMissing:
      return finish(work, "Conversion Error", "Cannot find anima000.obj file");
    case FrameLoad::kUnreadable:
      return fail(work, "Cannot read %s", name);
    case FrameLoad::kRead:
      break;
  }
  if (end == 0) return finish(work, "0 size dxf file", "0 size dxf file");

  OutOfRange coordinates{}, indices{};
  const uint32_t vertex_count = scan_first_frame(work->text, end, work->store, coordinates);
  if (vertex_count == 0) return fail(work, "No vertices in %s", name);
  scan_triangles(work->text, end, vertex_count, work->triangles, indices);

  // Frames follow while the next name opens, up to anima999.obj.
  while (std::strcmp(name, "anima999.obj") != 0) {
    next_frame_name(name);
    const FrameLoad load = load_frame(name, work->text, end);
    if (load == FrameLoad::kMissing) break;
    if (load == FrameLoad::kUnreadable) return fail(work, "Cannot read %s", name);
    if (kVertexStoreWords - work->store.word_count < vertex_count) {
      return fail(work, "Vertex store full at %s", name);
    }
    if (!scan_later_frame(work->text, end, vertex_count, work->store, coordinates)) {
      return fail(work, "Too few vertices in %s", name);
    }
  }

  // At most 1,000 frames and 10,000 vertices a frame: both fit 16 bits.
  const auto frame_count = static_cast<uint16_t>(work->store.word_count / vertex_count);
  const auto bytes_per_frame = static_cast<uint16_t>(vertex_count * kPackedVertexBytes);

  // Both outputs are complete on disk before either replaces an earlier file.
  char animation_temp[kTempNameBytes], mesh_temp[kTempNameBytes];
  temp_name(kVertexAnimationName, animation_temp);
  temp_name(kMeshName, mesh_temp);
  if (!write_vertex_animation_file(animation_temp, frame_count, bytes_per_frame, work->store.bytes,
                                   work->store.word_count * kPackedVertexBytes)) {
    return fail(work, "Cannot write %s", kVertexAnimationName);
  }
  if (!write_mesh_file(mesh_temp, static_cast<uint16_t>(vertex_count), work->triangles)) {
    std::remove(animation_temp);
    return fail(work, "Cannot write %s", kMeshName);
  }
  const char* const outputs[] = {kVertexAnimationName, kMeshName};
  if (const char* failed = commit_outputs(outputs, 2)) return fail(work, "Cannot write %s", failed);

  char text[kClosingTextBytes];
  complete_text(text, coordinates, vertex_count, indices);
  return finish(work, text, "Conversion Complete");
}
