// inspect3d check [DIR]: aniv00.3d and data00.3d against what frameconv makes
// of the frames anima000.obj, ... beside them.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "commands.h"
#include "export_scale.h"
#include "le.h"

namespace fs = std::filesystem;

constexpr char kAxisNames[] = "xyz";

// One coordinate that wrapped around its range.
struct Wrapped {
  uint32_t frame;
  uint32_t vertex;
  int axis;
  double source;
  double stored;
  uint32_t line;  // in the frame file, from 1
};

// What the comparison found in one frame.
struct FrameFindings {
  double largest_error[3] = {0, 0, 0};
  uint32_t wrapped_count = 0;
  // The smallest and largest source coordinate of each axis.
  double low[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL};
  double high[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
};

// Compares the source vertices of each frame, as the scanner visits them,
// with the frame's words in the vertex animation file.
class FrameComparison : public SourceVisitor {
 public:
  explicit FrameComparison(const Animation& animation) : animation_(animation) {}

  std::vector<Wrapped> wrapped;
  std::vector<FrameFindings> findings;  // of each frame visited and not dropped
  uint64_t differ_count = 0;            // words that are not what frameconv makes of the source
  bool same_vertex_count = false;

  void begin_frame(uint32_t frame, uint32_t vertex_count, const char* text) override {
    same_vertex_count = vertex_count == animation_.vertex_count;
    // Words are compared only once the vertex counts are known to agree.
    compare_ = same_vertex_count && frame < animation_.frame_count;
    frame_ = frame;
    text_ = text;
    vertex_ = 0;
    line_at_ = 0;
    line_ = 1;
    wrapped_before_ = wrapped.size();
    differ_before_ = differ_count;
    findings.push_back({});
  }

  void vertex(size_t at, double x, double y, double z) override {
    FrameFindings& found = findings.back();
    const double source[3] = {x, y, z};
    for (int axis = 0; axis < 3; ++axis) {
      found.low[axis] = std::min(found.low[axis], source[axis]);
      found.high[axis] = std::max(found.high[axis], source[axis]);
    }
    if (!compare_) return;
    const uint32_t word = word_at(animation_, frame_, vertex_);
    if (word != pack_vertex(x, y, z)) ++differ_count;
    const Position p = position_at(animation_, frame_, vertex_);
    const double stored[3] = {p.x, p.y, p.z};
    for (int axis = 0; axis < 3; ++axis) {
      if (packs_in_range(source[axis], axis)) {
        found.largest_error[axis] =
            std::max(found.largest_error[axis], std::fabs(source[axis] - stored[axis]));
        continue;
      }
      for (; line_at_ < at; ++line_at_) line_ += text_[line_at_] == '\n';
      wrapped.push_back({frame_, vertex_, axis, source[axis], stored[axis], line_});
      ++found.wrapped_count;
    }
    ++vertex_;
  }

  // What is read of a frame frameconv stops at counts for nothing.
  void drop_frame() override {
    wrapped.resize(wrapped_before_);
    differ_count = differ_before_;
    findings.pop_back();
  }

 private:
  const Animation& animation_;
  const char* text_ = nullptr;
  uint32_t frame_ = 0;
  uint32_t vertex_ = 0;
  size_t line_at_ = 0;  // the line count is kept up to this offset
  uint32_t line_ = 1;
  bool compare_ = false;  // false for a frame the file does not hold
  size_t wrapped_before_ = 0;
  uint64_t differ_before_ = 0;
};

// Where a mesh file differs from the one frameconv writes of the same frame.
struct MeshDifference {
  bool header = false;
  uint32_t first_differing_triangle = 0;
  uint32_t differing_triangle_count = 0;
  bool trailing_records = false;

  bool same() const { return !header && differing_triangle_count == 0 && !trailing_records; }

  // "the header, triangle 4 (and 2 more) and the trailing records differ".
  std::string parts() const {
    std::vector<std::string> names;
    if (header) names.push_back("the header");
    if (differing_triangle_count > 0) {
      std::string name = "triangle " + std::to_string(first_differing_triangle);
      if (differing_triangle_count > 1)
        name += " (and " + std::to_string(differing_triangle_count - 1) + " more)";
      names.push_back(name);
    }
    if (trailing_records) names.push_back("the trailing records");
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
      text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    }
    const bool plural = names.size() > 1 || trailing_records || differing_triangle_count > 1;
    return text + (plural ? " differ" : " differs");
  }
};

// Compares the whole of `mesh` with the mesh file frameconv writes of
// `triangles` and `vertex_count`: the 48-byte header, each triangle record
// (one the other file does not have differs too) and the three trailing
// records. The file is known to be of the mesh layout.
static MeshDifference compare_mesh_file(const Mesh& mesh, const TriangleTable& triangles,
                                        uint32_t vertex_count) {
  MeshDifference difference;
  uint8_t header[kMeshHeaderBytes];
  put_mesh_header(header, triangles.triangle_count, static_cast<uint16_t>(vertex_count));
  difference.header = std::memcmp(mesh.data, header, kMeshHeaderBytes) != 0;
  const uint8_t* records = mesh.data + kMeshHeaderBytes;
  const uint32_t count = std::max<uint32_t>(mesh.triangle_count, triangles.triangle_count);
  for (uint32_t t = 0; t < count; ++t) {
    const bool differs =
        t >= mesh.triangle_count || t >= triangles.triangle_count ||
        std::memcmp(records + size_t{t} * kTriangleRecordBytes,
                    triangles.bytes + size_t{t} * kTriangleRecordBytes, kTriangleRecordBytes) != 0;
    if (!differs) continue;
    if (difference.differing_triangle_count++ == 0) difference.first_differing_triangle = t;
  }
  // note: frameconv writes the three records after the last as zero bytes.
  const uint8_t* trailing = records + size_t{mesh.triangle_count} * kTriangleRecordBytes;
  difference.trailing_records = std::any_of(trailing, trailing + kTrailingRecords * kTriangleRecordBytes,
                                            [](uint8_t b) { return b != 0; });
  return difference;
}

// A coordinate as written in the source: the shortest text that reads back as it.
static std::string shortest(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

static void print_error_row(const char* label, const FrameFindings& findings) {
  std::printf("%5s %10.6f %10.6f %10.6f %8u\n", label, findings.largest_error[0], findings.largest_error[1],
              findings.largest_error[2], findings.wrapped_count);
}

// "0.25%", "0.0977%".
static std::string percent(double share) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g%%", 100 * share);
  return text;
}

// "x and y 0.25%, z 0.5%": the steps of the packed fields as shares of `extent`.
static std::string step_shares(double extent) {
  return "x and y " + percent(1 / kPackedFields[0].scale / extent) + ", z " +
         percent(1 / kPackedFields[2].scale / extent);
}

// Advice on the exporter's scale setting, from the source coordinates of all
// frames converted: where they lie in the stored range, how fine a step is
// against the model's size, and the factor that would use the range best
// without wrapping (export_scale.h). Changes nothing in check's result.
static void print_export_scale(const std::vector<FrameFindings>& findings) {
  double low[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, high[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  for (const FrameFindings& found : findings) {
    for (int axis = 0; axis < 3; ++axis) {
      low[axis] = std::min(low[axis], found.low[axis]);
      high[axis] = std::max(high[axis], found.high[axis]);
    }
  }
  std::printf("\nexport scale: the source coordinates of all frames, in model units\n");
  std::printf("%5s %12s %12s %14s\n", "axis", "min", "max", "range filled");
  double extent = 0;
  for (int axis = 0; axis < 3; ++axis) {
    // The stored range: -128 to 127.875 in x and y, to 127.75 in z.
    const PackedField& field = kPackedFields[axis];
    const double half_range = static_cast<double>(1u << (field.bits - 1));
    const double range = (2 * half_range - 1) / field.scale;
    std::printf("%5c %12s %12s %14s\n", kAxisNames[axis], shortest(low[axis]).c_str(),
                shortest(high[axis]).c_str(), percent((high[axis] - low[axis]) / range).c_str());
    extent = std::max(extent, high[axis] - low[axis]);
  }
  const ExportScale scale = suggested_export_scale(low, high);
  const bool has_extent = extent > 0 && std::isfinite(extent);
  if (has_extent) {
    std::printf("step as a share of the largest extent, %s: %s", shortest(extent).c_str(),
                step_shares(extent).c_str());
    if (scale.found)
      std::printf("; at scale %s: %s", scale.text().c_str(), step_shares(extent * scale.factor).c_str());
    std::printf("\n");
  }
  if (!scale.found) {
    const bool all_zero =
        low[0] == 0 && low[1] == 0 && low[2] == 0 && high[0] == 0 && high[1] == 0 && high[2] == 0;
    std::printf("suggested export scale: none (%s)\n",
                all_zero ? "all coordinates are 0" : "a coordinate is too large for any number");
    return;
  }
  const std::string f = scale.text();
  std::printf("suggested export scale: %s\n", f.c_str());
  if (scale.factor >= 2) {
    std::printf(
        "The model uses a small part of the range: exported with a scale of %s it would be stored %s "
        "times finer.\n",
        f.c_str(), f.c_str());
  } else if (scale.factor < 1) {
    std::printf("Coordinates wrap around now: exported with a scale of %s they would not.\n", f.c_str());
  }
}

// Counts one kind of problem for the closing line.
static void add_problem(std::string& problems, uint64_t count, const char* one, const char* many) {
  if (count == 0) return;
  if (!problems.empty()) problems += ", ";
  problems += std::to_string(count) + " " + (count == 1 ? one : many);
}

int cmd_check(int argc, char** argv) {
  if (argc > 2) return usage_error("check takes at most one directory");
  const std::string arg = argc == 2 ? argv[1] : "";
  if (arg.size() > 1 && arg[0] == '-') return usage_error("check does not take " + arg);
  const fs::path dir = argc == 2 ? path_of(arg) : fs::path(".");
  std::error_code error;
  if (!fs::is_directory(dir, error)) {
    // A name too long, or a directory above that cannot be searched.
    const bool unreadable =
        error && error != std::errc::no_such_file_or_directory && error != std::errc::not_a_directory;
    std::fprintf(stderr, unreadable ? "inspect3d: cannot read %s\n" : "inspect3d: %s is not a directory\n",
                 utf8_of(dir).c_str());
    return kBadUsage;
  }
  Conversion conversion;
  if (!read_conversion(dir, conversion)) return kBadUsage;
  const Animation& animation = conversion.animation;
  const Mesh& mesh = conversion.mesh;

  FrameComparison comparison(animation);
  SourceFrames source;
  switch (read_source_frames(dir, comparison, source)) {
    case SourceRead::kMissing:
      std::fprintf(stderr, "inspect3d: cannot find %s\n", shown(dir, kFirstFrameName).c_str());
      return kBadUsage;
    case SourceRead::kFailed:
      return kBadUsage;
    case SourceRead::kRead:
      break;
  }
  const uint32_t frame_count = source.frame_count, vertex_count = source.vertex_count;
  const bool same_vertex_count = comparison.same_vertex_count;

  // What was read, and whether the outputs are its conversion.
  std::string problems;
  const std::string read =
      frame_count == 1 ? frame_file_name(0) : frame_file_name(0) + " to " + frame_file_name(frame_count - 1);
  std::printf("frames read: %s, %s", read.c_str(), frames_of(frame_count, vertex_count).c_str());
  if (source.stopped.empty()) {
    std::printf("\n");
  } else {
    std::printf("; then %s, so frameconv writes nothing\n", source.stopped.c_str());
    add_problem(problems, 1, "frame sequence frameconv cannot convert", "");
  }
  for (const std::string& note : source.notes) std::printf("note: %s\n", note.c_str());

  const bool same_frame_count = animation.frame_count == frame_count;
  std::printf("%s: %s%s\n", kVertexAnimationName,
              frames_of(animation.frame_count, animation.vertex_count).c_str(),
              same_vertex_count && same_frame_count ? "" : ", not the conversion of these frames");
  add_problem(problems, !same_vertex_count || !same_frame_count, "vertex animation file of other frames", "");

  const MeshDifference difference = compare_mesh_file(mesh, *source.triangles, vertex_count);
  std::printf("%s: %s of %s, %s\n", kMeshName, counted(mesh.triangle_count, "triangle", "triangles").c_str(),
              counted(mesh.vertices_per_frame, "vertex", "vertices").c_str(),
              difference.same() ? (std::string("the faces of ") + kFirstFrameName).c_str()
                                : (std::string("not what frameconv makes of ") + kFirstFrameName + ": " +
                                   difference.parts())
                                      .c_str());
  const bool same_faces = difference.differing_triangle_count == 0 &&
                          mesh.vertices_per_frame == vertex_count &&
                          mesh.triangle_count == source.triangles->triangle_count;
  add_problem(problems, !same_faces, "mesh file of other faces", "");
  add_problem(problems, same_faces && !difference.same(), "mesh file not as frameconv writes it", "");

  // Fidelity, frame by frame: the largest distance between a source
  // coordinate and the one stored, over the coordinates within range.
  if (same_vertex_count) {
    std::printf("\nlargest error per axis, in model units (under one step: x and y 0.125, z 0.25)\n");
    std::printf("%5s %10s %10s %10s %8s\n", "frame", "x", "y", "z", "wrapped");
    FrameFindings total;
    const uint32_t compared = std::min<uint32_t>(frame_count, animation.frame_count);
    for (uint32_t f = 0; f < compared; ++f) {
      const FrameFindings& found = comparison.findings[f];
      print_error_row(std::to_string(f).c_str(), found);
      for (int axis = 0; axis < 3; ++axis) {
        total.largest_error[axis] = std::max(total.largest_error[axis], found.largest_error[axis]);
      }
      total.wrapped_count += found.wrapped_count;
    }
    print_error_row("all", total);
  }
  print_export_scale(comparison.findings);

  const std::vector<Wrapped>& wrapped = comparison.wrapped;
  std::printf("\nwrapped coordinates:%s\n", wrapped.empty() ? " none" : "");
  for (const Wrapped& w : wrapped) {
    std::printf("  frame %u vertex %u %c: %s (%s line %u) reads back as %g\n", w.frame, w.vertex,
                kAxisNames[w.axis], shortest(w.source).c_str(), frame_file_name(w.frame).c_str(), w.line,
                w.stored);
  }
  add_problem(problems, wrapped.size(), "wrapped coordinate", "wrapped coordinates");
  if (comparison.differ_count > 0) {
    std::printf("vertices not stored as frameconv packs their source: %llu\n",
                static_cast<unsigned long long>(comparison.differ_count));
  }
  add_problem(problems, comparison.differ_count, "vertex stored otherwise", "vertices stored otherwise");

  std::printf("face indices out of range (at or beyond %u):", vertex_count);
  uint32_t out_of_range = count_indices_out_of_range(mesh, vertex_count);
  if (out_of_range == 0) {
    std::printf(" none\n");
  } else {
    std::printf("\n");
    out_of_range = list_indices_out_of_range(mesh, vertex_count, "  ");
  }
  add_problem(problems, out_of_range, "face index out of range", "face indices out of range");

  // What the reading left out, as frameconv's closing text counts it: each
  // one with its place, kind by kind.
  if (!source.left_out.empty()) std::printf("left out of the conversion:\n");
  for (int kind = 0; kind < kLeftOutKinds; ++kind) {
    char one[kLeftOutWordsBytes];
    left_out_words(static_cast<LeftOutKind>(kind), 1, vertex_count, one);
    for (const LeftOutPlace& place : source.left_out) {
      if (static_cast<int>(place.kind) != kind) continue;
      const std::string file = frame_file_name(place.frame);
      if (place.line == 0) {
        std::printf("  %s: %s\n", file.c_str(), one);
      } else {
        std::printf("  %s line %u: %s\n", file.c_str(), place.line, one);
      }
    }
    const uint32_t count = source.sequence.left_out[kind].count;
    char words[kLeftOutWordsBytes];
    left_out_words(static_cast<LeftOutKind>(kind), count, vertex_count, words);
    add_problem(problems, count, words, words);
  }

  std::printf("\nresult: %s\n", problems.empty() ? "ok" : problems.c_str());
  return problems.empty() ? kOk : kProblems;
}
