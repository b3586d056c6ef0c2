#include "cli.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

static bool asks_help(const std::string& arg) { return arg == "-h" || arg == "--help"; }

std::string parse_options(const char* command, std::span<const std::string> args,
                          std::span<const OptionSpec> options, Operands operands, Arguments& parsed) {
  parsed = Arguments();
  parsed.options.assign(options.size(), {});
  std::string error;
  const auto first_error = [&error](std::string said) {
    if (error.empty()) error = std::move(said);
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (asks_help(arg)) {
      parsed.help = true;
      continue;
    }
    const auto row = std::find_if(options.begin(), options.end(),
                                  [&](const OptionSpec& option) { return arg == option.name; });
    if (row == options.end()) {
      const bool dashed = arg.size() > 1 && arg[0] == '-';
      if (operands == Operands::kAny || (operands == Operands::kPlain && !dashed)) {
        parsed.operands.push_back(arg);
      } else {
        first_error(std::string(command) + " does not take " + arg);
      }
      continue;
    }
    OptionValue& value = parsed.options[row - options.begin()];
    if (value.given) first_error(std::string(command) + " takes " + arg + " once");
    value.given = true;
    if (row->needs == nullptr) continue;
    if (i + 1 == args.size()) {
      first_error(row->needs);
      continue;
    }
    value.text = args[++i];
    const bool accepted = row->accepts ? row->accepts(value.text) : !value.text.empty();
    if (!accepted) first_error(row->needs);
  }
  return parsed.help ? "" : error;
}

std::optional<int> read_arguments(int argc, char** argv, std::span<const OptionSpec> options,
                                  Operands operands, Arguments& parsed) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const std::string usage = parse_options(argv[0], args, options, operands, parsed);
  if (parsed.help) return kHelpAsked;
  if (!usage.empty()) return usage_error(usage);
  return std::nullopt;
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
