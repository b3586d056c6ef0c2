// inspect3d check [--json] [DIR]: aniv00.3d and data00.3d against what
// frameconv makes of the frames anima000.obj, ... beside them. The
// comparison is comparison.cpp's; this file prints it, as the report or, for
// scripts, as one JSON object.
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli.h"
#include "comparison.h"
#include "decimal.h"

namespace fs = std::filesystem;

constexpr char kAxisNames[] = "xyz";

enum { kJson };
constexpr OptionSpec kOptions[] = {
    {"--json", nullptr, nullptr},
};

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
  return "x and y " + percent(step_share(0, extent)) + ", z " + percent(step_share(2, extent));
}

static void print_export_scale(const ExportAdvice& advice) {
  std::printf("\nexport scale: the source coordinates of all frames, in model units\n");
  std::printf("%5s %12s %12s %14s\n", "axis", "min", "max", "range filled");
  for (int axis = 0; axis < 3; ++axis) {
    std::printf("%5c %12s %12s %14s\n", kAxisNames[axis], shortest_decimal(advice.low[axis]).c_str(),
                shortest_decimal(advice.high[axis]).c_str(), percent(advice.filled[axis]).c_str());
  }
  const ExportScale& scale = advice.scale;
  if (advice.has_extent) {
    std::printf("step as a share of the largest extent, %s: %s", shortest_decimal(advice.extent).c_str(),
                step_shares(advice.extent).c_str());
    if (scale.found) {
      std::printf("; at scale %s: %s", scale.text().c_str(),
                  step_shares(advice.extent * scale.factor).c_str());
    }
    std::printf("\n");
  }
  if (!scale.found) {
    std::printf("suggested export scale: none (%s)\n",
                advice.all_zero ? "all coordinates are 0" : "a coordinate is too large for any number");
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

// The result line: "ok", or each problem's count and words.
static std::string result_of(const std::vector<Problem>& problems) {
  std::string result;
  for (const Problem& problem : problems) result += (result.empty() ? "" : ", ") + problem.words;
  return result.empty() ? "ok" : result;
}

static void print_report(const Check& check) {
  const std::string read = check.frame_count == 1
                               ? frame_file_name(0)
                               : frame_file_name(0) + " to " + frame_file_name(check.frame_count - 1);
  std::printf("frames read: %s, %s", read.c_str(), frames_of(check.frame_count, check.vertex_count).c_str());
  if (check.stopped.empty()) {
    std::printf("\n");
  } else {
    std::printf("; then %s, so frameconv writes nothing\n", check.stopped.c_str());
  }
  for (const std::string& note : check.notes) std::printf("note: %s\n", note.c_str());

  std::printf(
      "%s: %s%s\n", kVertexAnimationName,
      frames_of(check.animation.frame_count, check.animation.vertex_count).c_str(),
      check.same_vertex_count && check.same_frame_count ? "" : ", not the conversion of these frames");
  const MeshDifference& difference = check.mesh_difference;
  std::printf(
      "%s: %s of %s, %s\n", kMeshName, counted(check.mesh.triangle_count, "triangle", "triangles").c_str(),
      counted(check.mesh.vertices_per_frame, "vertex", "vertices").c_str(),
      difference.same()
          ? (std::string("the faces of ") + kFirstFrameName).c_str()
          : (std::string("not what frameconv makes of ") + kFirstFrameName + ": " + difference.parts())
                .c_str());

  // Fidelity, frame by frame: the largest distance between a source
  // coordinate and the one stored, over the coordinates within range.
  if (check.same_vertex_count) {
    std::printf("\nlargest error per axis, in model units (under one step: x and y 0.125, z 0.25)\n");
    std::printf("%5s %10s %10s %10s %8s\n", "frame", "x", "y", "z", "wrapped");
    for (uint32_t f = 0; f < check.compared_count; ++f) {
      print_error_row(std::to_string(f).c_str(), check.findings[f]);
    }
    print_error_row("all", check.total);
  }
  print_export_scale(check.advice);

  std::printf("\nwrapped coordinates:%s\n", check.wrapped.empty() ? " none" : "");
  for (const Wrapped& w : check.wrapped) {
    std::printf("  frame %u vertex %u %c: %s (%s line %u) reads back as %g\n", w.frame, w.vertex,
                kAxisNames[w.axis], shortest_decimal(w.source).c_str(), frame_file_name(w.frame).c_str(), w.line,
                w.stored);
  }
  if (check.differ_count > 0) {
    std::printf("vertices not stored as frameconv packs their source: %llu\n",
                static_cast<unsigned long long>(check.differ_count));
  }
  std::printf("face indices out of range (at or beyond %u):%s\n", check.vertex_count,
              check.indices.empty() ? " none" : "");
  print_indices_out_of_range(check.indices, "  ");

  // What the reading left out, as frameconv's closing text counts it: each
  // one with its place, kind by kind.
  if (!check.left_out.empty()) std::printf("left out of the conversion:\n");
  for (int kind = 0; kind < kLeftOutKinds; ++kind) {
    char one[kLeftOutWordsBytes];
    left_out_words(static_cast<LeftOutKind>(kind), 1, check.vertex_count, one);
    for (const LeftOutPlace& place : check.left_out) {
      if (static_cast<int>(place.kind) != kind) continue;
      const std::string file = frame_file_name(place.frame);
      if (place.line == 0) {
        std::printf("  %s: %s\n", file.c_str(), one);
      } else {
        std::printf("  %s line %u: %s\n", file.c_str(), place.line, one);
      }
    }
  }
  std::printf("\nresult: %s\n", result_of(check.problems).c_str());
}

// A number for JSON: infinities and NaN, which JSON cannot hold, as null.
static nlohmann::json number(double value) {
  return std::isfinite(value) ? nlohmann::json(value) : nlohmann::json(nullptr);
}

static nlohmann::json axes(const double (&values)[3]) {
  return {{"x", number(values[0])}, {"y", number(values[1])}, {"z", number(values[2])}};
}

// The places of one problem: where each counted thing is.
static nlohmann::json places_of(const Check& check, const Problem& problem) {
  nlohmann::json places = nlohmann::json::array();
  const std::string key = problem.key;
  if (key == "wrapped_coordinates") {
    for (const Wrapped& w : check.wrapped) {
      places.push_back({{"frame", w.frame},
                        {"vertex", w.vertex},
                        {"axis", std::string(1, kAxisNames[w.axis])},
                        {"source", number(w.source)},
                        {"stored", w.stored},
                        {"file", frame_file_name(w.frame)},
                        {"line", w.line}});
    }
  } else if (key == "face_indices_out_of_range") {
    for (const FaceIndexOutOfRange& i : check.indices) {
      places.push_back({{"triangle", i.triangle}, {"corner", i.corner}, {"index", i.index}});
    }
  } else if (key == "mesh_file_of_other_faces" || key == "mesh_file_not_as_written") {
    places.push_back({{"file", kMeshName}, {"differs", check.mesh_difference.parts()}});
  } else {
    for (int kind = 0; kind < kLeftOutKinds; ++kind) {
      if (key != kLeftOutKeys[kind]) continue;
      for (const LeftOutPlace& place : check.left_out) {
        if (static_cast<int>(place.kind) != kind) continue;
        nlohmann::json at = {{"frame", place.frame}, {"file", frame_file_name(place.frame)}};
        if (place.line != 0) at["line"] = place.line;
        places.push_back(at);
      }
    }
  }
  return places;
}

static void print_json(const Check& check) {
  nlohmann::json out;
  out["frames_read"] = {{"first", frame_file_name(0)},
                        {"last", frame_file_name(check.frame_count - 1)},
                        {"frame_count", check.frame_count},
                        {"vertex_count", check.vertex_count}};
  if (!check.stopped.empty()) out["frames_read"]["stopped"] = check.stopped;
  out["notes"] = check.notes;
  nlohmann::json problems = nlohmann::json::array();
  for (const Problem& problem : check.problems) {
    problems.push_back({{"problem", problem.key},
                        {"count", problem.count},
                        {"words", problem.words},
                        {"places", places_of(check, problem)}});
  }
  out["problems"] = problems;
  if (check.same_vertex_count) {
    nlohmann::json frames = nlohmann::json::array();
    for (uint32_t f = 0; f < check.compared_count; ++f) {
      frames.push_back({{"frame", f},
                        {"error", axes(check.findings[f].largest_error)},
                        {"wrapped", check.findings[f].wrapped_count}});
    }
    out["largest_error"] = {{"frames", frames}, {"all", axes(check.total.largest_error)}};
  } else {
    out["largest_error"] = nullptr;
  }
  const ExportScale& scale = check.advice.scale;
  out["export_scale"] = {
      {"min", axes(check.advice.low)},
      {"max", axes(check.advice.high)},
      {"suggested", scale.found ? nlohmann::json(scale.factor) : nlohmann::json(nullptr)},
      {"suggested_text", scale.found ? nlohmann::json(scale.text()) : nlohmann::json(nullptr)}};
  out["result"] = result_of(check.problems);
  out["ok"] = check.problems.empty();
  std::printf("%s\n", out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

int cmd_check(int argc, char** argv) {
  Arguments args;
  if (const std::optional<int> end = read_arguments(argc, argv, kOptions, Operands::kPlain, args))
    return *end;
  if (args.operands.size() > 1) return usage_error("check takes at most one directory");
  const fs::path dir = args.operands.empty() ? fs::path(".") : path_of(args.operands[0]);
  Check check;
  const std::string unfinished = unfinished_commit_note(dir);
  if (Failure failed = compare_conversion(dir, check)) {
    if (!unfinished.empty()) std::printf("note: %s\n", unfinished.c_str());
    return say(failed);
  }
  if (!unfinished.empty()) check.notes.push_back(unfinished);
  if (args.options[kJson].given) {
    print_json(check);
  } else {
    print_report(check);
  }
  return check.problems.empty() ? kDone : kProblemsFound;
}
