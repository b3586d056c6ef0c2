// The command layer every inspect3d command shares: exit statuses, the
// parsing of options from one table, and the sayings of the printing side.
// Each command is parse (here), compute (a function returning plain data, or
// a Failure, never printing) and print; only the commands include this.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "conversion.h"

// Exit statuses, as --help gives them.
constexpr int kDone = 0;           // done, and nothing found wrong
constexpr int kProblemsFound = 1;  // done, and what was looked at holds problems
constexpr int kBadUsage = 2;       // the command line is not one inspect3d takes
constexpr int kFailed = 2;         // a file cannot be read or written, or holds nothing to do it with

// Says `message` and the usage on standard error; returns kBadUsage.
int usage_error(const std::string& message);

// Says what `failure` says on standard error, a line each ("inspect3d: cannot
// read aniv00.3d"); returns kFailed.
int say(const Failure& failure);

// One option of a command: "--out" and its value, or a flag ("--all").
struct OptionSpec {
  const char* name;
  // What the option needs, said when its value is missing or not accepted
  // ("--out needs a file name"); nullptr for a flag, which takes no value.
  const char* needs;
  // Whether a value is accepted; nullptr: any value but the empty one.
  bool (*accepts)(const std::string& value);
};

// What the command line gave of one option.
struct OptionValue {
  bool given = false;
  std::string text;  // the value; empty for a flag
};

// Parses `args` (the command's arguments, its name not included) against
// `options`, each at most once: `values` gets one entry per row of `options`.
// Returns the usage error to say ("obj takes --out once", "gltf does not take
// -x", the row's `needs`), or "" when every argument is one of the options.
// Each value is checked as it comes, so the first error in the order given is
// the one said.
std::string parse_options(const char* command, std::span<const std::string> args,
                          std::span<const OptionSpec> options, std::vector<OptionValue>& values);

// Prints `indices` on standard output, one a line, indented by `indent`.
void print_indices_out_of_range(const std::vector<FaceIndexOutOfRange>& indices, const char* indent);

// Says on standard error that `left_out` triangles (more than 0) with a
// vertex index at or beyond `vertex_count` were left out of an output.
void say_left_out(uint32_t left_out, uint32_t vertex_count);
