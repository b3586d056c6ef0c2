#include "cli.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

std::string parse_options(const char* command, std::span<const std::string> args,
                          std::span<const OptionSpec> options, std::vector<OptionValue>& values) {
  values.assign(options.size(), {});
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto row = std::find_if(options.begin(), options.end(),
                                  [&](const OptionSpec& option) { return arg == option.name; });
    if (row == options.end()) return std::string(command) + " does not take " + arg;
    OptionValue& value = values[row - options.begin()];
    if (value.given) return std::string(command) + " takes " + arg + " once";
    value.given = true;
    if (row->needs == nullptr) continue;
    // note: the next argument is the value whatever it looks like ("--out --all").
    if (i + 1 == args.size()) return row->needs;
    value.text = args[++i];
    const bool accepted = row->accepts ? row->accepts(value.text) : !value.text.empty();
    if (!accepted) return row->needs;
  }
  return "";
}

int say(const Failure& failure) {
  for (const std::string& line : failure.said) std::fprintf(stderr, "inspect3d: %s\n", line.c_str());
  return kFailed;
}

void print_indices_out_of_range(const std::vector<FaceIndexOutOfRange>& indices, const char* indent) {
  for (const FaceIndexOutOfRange& i : indices) {
    std::printf("%striangle %u corner %d: index %u\n", indent, i.triangle, i.corner, i.index);
  }
}

void say_left_out(uint32_t left_out, uint32_t vertex_count) {
  std::fprintf(
      stderr,
      "inspect3d: left out %u %s with a vertex index at or beyond %u (inspect3d info %s lists them)\n",
      left_out, left_out == 1 ? "triangle" : "triangles", vertex_count, kMeshName);
}
