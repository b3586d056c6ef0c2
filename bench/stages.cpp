// Where frameconv's time goes: runs its stages one by one, in one process, on
// the frames of a directory, and times each with a monotonic clock. The stages
// are frameconv's own routines (load_frame, the vertex passes, the triangle
// pass, the two writers). Each vertex pass is also run twice more, so that its
// time splits into number reading, searching and packing:
//
//   number reading  read_real alone, at each place the pass reads a number
//                   (found beforehand, untimed, with the plain searches)
//   searching       the pass's visit, reading but not packing, less that
//   packing         the real pass, packing and storing words, less the visit
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

#include "frameconv.h"
#include "mesh.h"
#include "platform.h"
#include "scan.h"
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

// What the visits read, summed so that the reading cannot be left out.
volatile double sink;

// One run of every stage over the frames; false if they do not convert.
bool run_stages(Workspace& work, const std::vector<std::string>& frames, const std::string& dir,
                std::vector<size_t>& places, double (&ms)[kStageCount]) {
  std::fill(std::begin(ms), std::end(ms), 0.0);
  work.store.word_count = 0;
  uint32_t vertex_count = 0;
  OutOfRange coordinates{}, indices{};
  for (size_t frame = 0; frame < frames.size(); ++frame) {
    size_t end = 0;
    bool longer = false;
    double t = now_ms();
    if (load_frame(frames[frame].c_str(), work.text, end, longer) != FrameLoad::kRead) return false;
    ms[kRead] += now_ms() - t;
    double sum = 0;
    auto add = [&sum](size_t, double x, double y, double z) { sum += x + y + z; };
    const bool first = frame == 0;
    if (first) {
      first_frame_numbers(work.text, end, places);
    } else {
      later_frame_numbers(work.text, end, vertex_count, places);
    }
    t = now_ms();
    sum += read_numbers(work.text, end, places);
    const double numbers = now_ms();
    if (first) {
      visit_first_frame(work.text, end, add);
    } else {
      visit_later_frame(work.text, end, vertex_count, add);
    }
    const double visited = now_ms();
    if (first) {
      vertex_count = scan_first_frame(work.text, end, work.store, coordinates);
      if (vertex_count == 0) return false;
    } else if (kVertexStoreWords - work.store.word_count < vertex_count ||
               !scan_later_frame(work.text, end, vertex_count, work.store, coordinates)) {
      return false;
    }
    const double packed = now_ms();
    sink = sum;
    ms[first ? kFirstNumbers : kLaterNumbers] += numbers - t;
    ms[first ? kFirstSearch : kLaterSearch] += std::max(0.0, (visited - numbers) - (numbers - t));
    ms[first ? kFirstPacking : kLaterPacking] += std::max(0.0, (packed - visited) - (visited - numbers));
    if (first) {
      t = now_ms();
      scan_triangles(work.text, end, vertex_count, work.triangles, indices);
      ms[kTriangles] += now_ms() - t;
    }
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
    if (!run_stages(*work, frames, dir, places, ms)) {
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
