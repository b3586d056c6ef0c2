// Where frameconv's time goes: reads the frames of a directory as frameconv
// does, through read_frame_sequence, in one process, and times each stage
// with a monotonic clock: the loads of the frame files, each frame's vertex
// pass (from the frame handed over to its end), the triangle pass, the two
// writers. The sequence is read twice, so that a vertex pass's time splits
// into number reading, searching and packing:
//
//   number reading  read_real alone, at each place the pass reads a number
//                   (found beforehand, untimed, with the plain searches)
//   searching       the pass taking each vertex without packing it, less that
//   packing         the pass packing and storing words as frameconv does,
//                   less the pass that does not
//
//   stages DIR [RUNS]    DIR holds anima000.obj ...; RUNS (default 9) runs,
//                        each stage's median and fastest printed
//
// The outputs are written under temporary names in DIR and removed. What this
// cannot see, process start and exit, shows in bench/profile.sh. Exit status
// 0, or 1 when the frames cannot be read or do not convert.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "frames.h"
#include "mesh.h"
#include "buffer.h"
#include "scan.h"
#include "sequence.h"
#include "vertex_animation.h"

namespace {

struct Workspace {
  char text[kFrameReadLimit + 1];
  VertexStore store;
  TriangleTable triangles;
};

enum Stage {
  kRead,
  kFirstSearch,
  kFirstNumbers,
  kFirstPacking,
  kTriangles,
  kLaterSearch,
  kLaterNumbers,
  kLaterPacking,
  kWrite,
  kStageCount
};

const char* const kStageNames[kStageCount] = {
    "read: load_frame of every frame",
    "first frame, vertex pass: searching",
    "first frame, vertex pass: number reading",
    "first frame, vertex pass: packing",
    "first frame: triangle pass",
    "later frames, vertex pass: searching",
    "later frames, vertex pass: number reading",
    "later frames, vertex pass: packing",
    "writing aniv00.3d and data00.3d",
};

double now_ms() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Where the first-frame pass reads its numbers: after the "v " and after the
// space that each find_token finds, as many places as the pass will read.
void first_frame_numbers(const char* data, size_t end, std::vector<size_t>& places) {
  places.clear();
  ScanCursor scan{data, end, 0};
  for (uint32_t count = 0; count < kFirstFrameVertexLimit && find_token(scan, "v ", 2); ++count) {
    places.push_back(scan.cursor);
    find_token(scan, " ", 1);
    places.push_back(scan.cursor);
    find_token(scan, " ", 1);
    places.push_back(scan.cursor);
  }
}

// The same for the later-frame pass, which moves on with skip_past_space.
void later_frame_numbers(const char* data, size_t end, uint32_t vertex_count, std::vector<size_t>& places) {
  places.clear();
  ScanCursor scan{data, end, 0};
  for (uint32_t i = 0; i < vertex_count && find_token(scan, "v ", 2); ++i) {
    places.push_back(scan.cursor);
    skip_past_space(scan);
    places.push_back(scan.cursor);
    skip_past_space(scan);
    places.push_back(scan.cursor);
  }
}

double read_numbers(const char* data, size_t end, const std::vector<size_t>& places) {
  double sum = 0;
  for (const size_t place : places) sum += read_real(ScanCursor{data, end, place});
  return sum;
}

// What the passes read without packing, summed so that the reading cannot be
// left out.
volatile double sink;

// The times of one reading of the sequence, kept as it goes.
struct Timing {
  double ms[kStageCount] = {};
  double pass[2] = {};     // the vertex passes' time: the first frame's, the later frames'
  double mark = 0;         // when the stage at hand began
  bool triangles = false;  // the triangle pass runs from the mark to the next load
  size_t end = 0;          // of the frame loaded last
};

// The frame files, each load timed. The triangle pass ends where the next
// load begins (or where the reading ends, with no next frame).
struct TimedFiles {
  const char* dir;
  Timing& timing;
  FrameLoad load(const char* name, char* text, size_t& end, bool& longer) const {
    const double t = now_ms();
    if (timing.triangles) timing.ms[kTriangles] += t - timing.mark;
    timing.triangles = false;
    const FrameLoad load = FrameFiles{dir}.load(name, text, end, longer);
    timing.ms[kRead] += now_ms() - t;
    timing.end = end;
    return load;
  }
};

// The frames as read_frame_sequence hands them over: each vertex packed as
// frameconv packs it, or only summed; each pass timed from the frame handed
// over to its end, after its number reading is timed on its own.
struct TimedFrames {
  Timing& timing;
  bool packing;
  VertexStore& store;
  std::vector<size_t>& places;  // where the pass at hand reads its numbers
  OutOfRange coordinates{};
  const char* text = nullptr;
  uint32_t vertex_count = 0;
  double sum = 0;

  void begin_frame(uint32_t frame, const char* frame_text) {
    text = frame_text;
    if (frame == 0) {
      first_frame_numbers(text, timing.end, places);
    } else {
      later_frame_numbers(text, timing.end, vertex_count, places);
    }
    const double t = now_ms();
    sum += read_numbers(text, timing.end, places);
    timing.mark = now_ms();
    timing.ms[frame == 0 ? kFirstNumbers : kLaterNumbers] += timing.mark - t;
  }
  void vertex(const Vertex& v) {
    if (packing) {
      pack_counting(store, coordinates, text, v);
    } else {
      sum += v.x + v.y + v.z;
    }
  }
  void end_frame(uint32_t frame, uint32_t count) {
    const double t = now_ms();
    timing.pass[frame == 0 ? 0 : 1] += t - timing.mark;
    vertex_count = count;
    timing.mark = t;
    timing.triangles = frame == 0;
  }
  void drop_frame() {}
  void left_out(LeftOutKind, uint32_t, const char*, size_t) {}
};

// One reading of the sequence in `dir`, packing or not; false if it does not
// convert.
bool read_timed(Workspace& work, const char* dir, bool packing, std::vector<size_t>& places, Timing& timing,
                uint32_t& vertex_count) {
  work.store.word_count = 0;
  FrameSequence sequence;
  TimedFrames frames{timing, packing, work.store, places};
  const SequenceEnd end =
      read_frame_sequence(TimedFiles{dir, timing}, work.text, work.triangles, sequence, frames);
  if (timing.triangles) timing.ms[kTriangles] += now_ms() - timing.mark;
  sink = frames.sum;
  vertex_count = sequence.vertex_count;
  return end == SequenceEnd::kComplete;
}

// One run of every stage over the frames; false if they do not convert.
bool run_stages(Workspace& work, const std::string& dir, std::vector<size_t>& places,
                double (&ms)[kStageCount]) {
  Timing taking, packing;
  uint32_t vertex_count = 0;
  if (!read_timed(work, dir.c_str(), false, places, taking, vertex_count) ||
      !read_timed(work, dir.c_str(), true, places, packing, vertex_count)) {
    return false;
  }
  std::copy(std::begin(packing.ms), std::end(packing.ms), ms);
  for (int pass = 0; pass < 2; ++pass) {
    const Stage numbers = pass == 0 ? kFirstNumbers : kLaterNumbers;
    ms[pass == 0 ? kFirstSearch : kLaterSearch] = std::max(0.0, taking.pass[pass] - taking.ms[numbers]);
    ms[pass == 0 ? kFirstPacking : kLaterPacking] = std::max(0.0, packing.pass[pass] - taking.pass[pass]);
    ms[numbers] = taking.ms[numbers];
  }
  const std::string animation = dir + "/aniv00.3d.stages", mesh = dir + "/data00.3d.stages";
  const double t = now_ms();
  const bool written = write_vertex_animation_file(
                           animation.c_str(), static_cast<uint16_t>(work.store.word_count / vertex_count),
                           static_cast<uint16_t>(vertex_count * kPackedVertexBytes), work.store.bytes,
                           work.store.word_count * kPackedVertexBytes) &&
                       write_mesh_file(mesh.c_str(), static_cast<uint16_t>(vertex_count), work.triangles);
  ms[kWrite] = now_ms() - t;
  std::remove(animation.c_str());
  std::remove(mesh.c_str());
  return written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: stages DIR [RUNS]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const int runs = argc == 3 ? std::atoi(argv[2]) : 9;
  if (runs < 1) return 2;
  std::vector<std::string> frames;
  unsigned long long bytes = 0;
  for (int frame = 0; frame < 1000; ++frame) {
    char name[24];
    std::snprintf(name, sizeof name, "anima%03d.obj", frame);
    std::error_code error;
    const auto size = std::filesystem::file_size(dir + "/" + name, error);
    if (error) break;
    frames.push_back(dir + "/" + name);
    bytes += size;
  }
  if (frames.empty()) {
    std::fprintf(stderr, "stages: no anima000.obj in %s\n", dir.c_str());
    return 1;
  }
  auto* work = static_cast<Workspace*>(allocate_buffer(sizeof(Workspace)));  // as frameconv takes it
  if (!work) return 1;
  std::vector<double> samples[kStageCount];
  std::vector<size_t> places;
  places.reserve(3 * kFirstFrameVertexLimit);
  for (int run = 0; run <= runs; ++run) {  // run 0 warms the page cache and the buffers
    double ms[kStageCount];
    if (!run_stages(*work, dir, places, ms)) {
      std::fprintf(stderr, "stages: the frames in %s do not convert\n", dir.c_str());
      return 1;
    }
    for (int s = 0; run > 0 && s < kStageCount; ++s) samples[s].push_back(ms[s]);
  }
  release_buffer(work, sizeof(Workspace));

  std::printf("stages of frameconv on %s: %zu frames, %.2f MB, %d runs\n", dir.c_str(), frames.size(),
              bytes / 1e6, runs);
  std::printf("  %-44s %9s %9s %7s\n", "stage", "median ms", "best ms", "share");
  double medians[kStageCount], total = 0, best_total = 0;
  for (int s = 0; s < kStageCount; ++s) {
    std::sort(samples[s].begin(), samples[s].end());
    medians[s] = samples[s][samples[s].size() / 2];
    total += medians[s];
    best_total += samples[s][0];
  }
  for (int s = 0; s < kStageCount; ++s) {
    std::printf("  %-44s %9.2f %9.2f %6.1f%%\n", kStageNames[s], medians[s], samples[s][0],
                100 * medians[s] / total);
  }
  std::printf("  %-44s %9.2f %9.2f\n", "all stages", total, best_total);
  return 0;
}
