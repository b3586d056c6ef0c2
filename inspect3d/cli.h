// The command layer every inspect3d command shares: exit statuses, the
// parsing of options from one table, and the sayings of the printing side.
// Each command is parse (here), compute (a function returning plain data, or
// a Failure, never printing) and print; only the commands include this.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "conversion.h"

// Exit statuses, as --help gives them.
constexpr int kDone = 0;           // done, and nothing found wrong
constexpr int kProblemsFound = 1;  // done, and what was looked at holds problems
constexpr int kBadUsage = 2;       // the command line is not one inspect3d takes
constexpr int kFailed = 2;         // a file cannot be read or written, or holds nothing to do it with

// Not an exit status: what a command returns when its arguments ask for help;
// inspect3d then prints it.
constexpr int kHelpAsked = -1;

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

// What a command takes besides its options: nothing; operands that do not
// begin with '-' ("-" itself does not), as check's DIR; or operands of any
// text, as info's FILE..., which may be named "-x".
enum class Operands { kNone, kPlain, kAny };

struct OptionValue {
  bool given = false;
  std::string text;  // the value; empty for a flag
};

struct Arguments {
  std::vector<OptionValue> options;   // one per row of its option table
  std::vector<std::string> operands;  // in order
  bool help = false;                  // -h or --help stood where an option may
};

// Parses `args` (the command's arguments, its name not included) against
// `options`, each at most once, and `operands`. Returns the usage error to say
// ("obj takes --out once", "gltf does not take -x", the row's `needs`), or "".
// Each value is checked as it comes, so the first error in the order given is
// the one said; but -h or --help where an option may stand asks for help
// whatever else is given (`parsed.help`, and ""). note: the argument after an
// option that takes a value is that value whatever it looks like ("--out -h").
std::string parse_options(const char* command, std::span<const std::string> args,
                          std::span<const OptionSpec> options, Operands operands, Arguments& parsed);

// parse_options on a command's `argv` (argv[0] its name): nothing when the
// command goes on with `parsed`, else what it returns: kHelpAsked, or
// kBadUsage with the usage error said.
std::optional<int> read_arguments(int argc, char** argv, std::span<const OptionSpec> options,
                                  Operands operands, Arguments& parsed);

// Prints `indices` on standard output, one a line, indented by `indent`.
void print_indices_out_of_range(const std::vector<FaceIndexOutOfRange>& indices, const char* indent);

// Says on standard error that `left_out` triangles (more than 0) with a
// vertex index at or beyond `vertex_count` were left out of an output.
void say_left_out(uint32_t left_out, uint32_t vertex_count);
