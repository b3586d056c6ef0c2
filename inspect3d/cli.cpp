#include "cli.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "conversion.h"
#include "output.h"
#include "platform.h"

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

std::string counted(uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string frames_of(uint32_t frame_count, uint32_t vertex_count) {
  return counted(frame_count, "frame", "frames") + " of " + counted(vertex_count, "vertex", "vertices");
}

// The files of the current directory that the writing commands read: the
// conversion, and the frame files up to the first one missing (preview reads
// them). Found once, at the first write.
static const std::vector<FileIdentity>& inputs() {
  static std::vector<FileIdentity> identities;
  static bool found = false;
  if (found) return identities;
  found = true;
  FileIdentity identity;
  for (const char* name : {kVertexAnimationName, kMeshName}) {
    if (file_identity(name, identity)) identities.push_back(identity);
  }
  for (uint32_t frame = 0; frame < kFrameLimit && file_identity(frame_file_name(frame).c_str(), identity);
       ++frame) {
    identities.push_back(identity);
  }
  return identities;
}

bool write_output(const std::string& file, const std::string& bytes) { return write_output(file, bytes, {}); }

bool write_output(const std::string& file, const std::string& head, const std::vector<unsigned char>& body) {
  FileIdentity identity;
  if (file_identity(file.c_str(), identity) &&
      std::find(inputs().begin(), inputs().end(), identity) != inputs().end()) {
    std::fprintf(stderr, "inspect3d: %s is a file this command reads; it is not written over\n",
                 file.c_str());
    return false;
  }
  return write_output_file(file.c_str(), reinterpret_cast<const uint8_t*>(head.data()), head.size(),
                           body.data(), body.size());
}
