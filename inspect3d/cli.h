// What every inspect3d command shares on the command line: exit statuses, the
// parsing of options from one table, counted nouns for reports, and the
// staged writing of an output. Each command is parse (here), compute (a
// function returning plain data) and print.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Exit status: 0 done, 1 a check found problems, 2 bad usage or a file that
// cannot be read or written.
constexpr int kOk = 0, kProblems = 1, kBadUsage = 2;

// Says `message` and the usage on standard error; returns kBadUsage.
int usage_error(const std::string& message);

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

// "1 frame", "24 frames".
std::string counted(uint64_t count, const char* one, const char* many);

// "24 frames of 50 vertices".
std::string frames_of(uint32_t frame_count, uint32_t vertex_count);

// Writes `bytes` to `file` (UTF-8) through a temporary beside it
// ("FILE~inspect3d-new"), moved into place only when complete, as
// write_output_file does. Never writes over a file a command reads
// (aniv00.3d, data00.3d or a frame file of the current directory, under
// whatever name): says so on standard error instead. False, leaving nothing
// behind, if any step fails.
bool write_output(const std::string& file, const std::string& bytes);

// The same for an output in two pieces, `head` then `body` (a .glb's binary
// data), never joined in memory.
bool write_output(const std::string& file, const std::string& head, const std::vector<unsigned char>& body);
