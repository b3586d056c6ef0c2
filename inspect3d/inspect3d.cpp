// inspect3d: looks inside the files frameconv and clipmerge write.
//
//   inspect3d info FILE...                         the kind and contents of each file
//   inspect3d obj [--frame N | --all] [--out DIR]  aniv00.3d and data00.3d back to OBJ
//   inspect3d check [--json] [DIR]                 the outputs against the source frames
//   inspect3d gltf [--out FILE] [--fps N] [--frames FIRST-LAST | --clip NAME] [--float] [--json]
//                                                  the frames as an animated .glb
//   inspect3d preview [--out FILE] [--size PX]     a PNG contact sheet of the frames
//
// This file only finds the command and the global options; each command lives
// in a file of its own (info.cpp, ...), over the one reader of a conversion in
// conversion.cpp. Exit status (cli.h): 0 done, 1 a check found problems, 2 bad
// usage or a file that cannot be read or written. Reports go to standard
// output, errors to standard error.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "cli.h"
#include "output.h"
#include "console.h"

// Each command, in a file of its own (info.cpp, ...): argv[0] is the
// command's name, the rest its arguments; returns the exit status, or
// kHelpAsked.
int cmd_info(int argc, char** argv);
int cmd_obj(int argc, char** argv);
int cmd_check(int argc, char** argv);
int cmd_gltf(int argc, char** argv);
int cmd_preview(int argc, char** argv);

namespace {

// One command: its name, its entry, its usage after "inspect3d " and what
// --help says of it (lines after the first are indented under it).
struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
  const char* usage;
  const char* help;
};

// note: a new command is one more row here, with its entry declared above,
// and a file of its own.
constexpr Command kCommands[] = {
    {"info", cmd_info, "info FILE...",
     "says which kind each .3d file is and prints its header fields,\n"
     "frames, vertices, triangles, each frame's bounding box and any\n"
     "face index at or beyond the vertex count"},
    {"obj", cmd_obj, "obj [--frame N | --all] [--out DIR]",
     "decodes aniv00.3d with data00.3d of the current directory into\n"
     "frame000.obj, frame001.obj, ... in DIR (default: the current\n"
     "directory); all frames unless --frame N"},
    {"check", cmd_check, "check [--json] [DIR]",
     "compares aniv00.3d and data00.3d in DIR (default: the current\n"
     "directory) with the frames anima000.obj, ... they were made from;\n"
     "with --json as one JSON object, for scripts"},
    {"gltf", cmd_gltf, "gltf [--out FILE] [--fps N] [--frames FIRST-LAST | --clip NAME] [--float] [--json]",
     "writes aniv00.3d and data00.3d of the current directory as one\n"
     "animated binary glTF file, FILE (default: aniv00.glb): the first\n"
     "frame as the mesh, each later frame as a morph target, played at N\n"
     "frames a second (default: 30); at most 1000 frames. With clips.json\n"
     "beside them, one animation per clip, named after it (--clip NAME:\n"
     "that clip alone); else the one animation frames, of frames FIRST to\n"
     "LAST (default: all). Positions are the engine's own integers\n"
     "(KHR_mesh_quantization), or floats with --float; --json says what\n"
     "was written as one JSON object. Blender's glTF import and any glTF\n"
     "viewer open it"},
    {"preview", cmd_preview, "preview [--out FILE] [--size PX]",
     "draws up to 12 frames of aniv00.3d with data00.3d of the current\n"
     "directory, evenly spaced from the first to the last, into the PNG\n"
     "contact sheet FILE (default: preview.png), 4 tiles of PX x PX pixels\n"
     "(default 256, from 32 to 1024) to a row, each labelled with its\n"
     "frame number; triangles with a vertex out of range in the frames\n"
     "anima000.obj, ... beside them are drawn red"},
};

constexpr char kExitStatus[] =
    "exit status: 0 done, 1 a check found problems, 2 bad usage or a file that\n"
    "cannot be read or written\n";

void print_usage(FILE* out) {
  const char* lead = "usage: ";
  for (const Command& command : kCommands) {
    std::fprintf(out, "%sinspect3d %s\n", lead, command.usage);
    lead = "       ";
  }
}

int print_help() {
  print_usage(stdout);
  size_t width = 0;
  for (const Command& command : kCommands) width = std::max(width, std::strlen(command.name));
  std::printf("\n");
  for (const Command& command : kCommands) {
    std::printf("  %-*s  ", static_cast<int>(width), command.name);
    for (const char* c = command.help; *c; ++c) {
      std::putchar(*c);
      if (*c == '\n') std::printf("%*s", static_cast<int>(width + 4), "");
    }
    std::printf("\n");
  }
  std::printf("\n%s", kExitStatus);
  return kDone;
}

// A global option, given in place of a command: its name and its entry.
struct GlobalOption {
  const char* name;
  int (*run)();
};

// The project's version, from CMake (ANIM3D_VERSION).
int print_version() {
  std::printf("inspect3d %s\n", ANIM3D_VERSION);
  return kDone;
}

constexpr GlobalOption kGlobalOptions[] = {
    {"--version", print_version},
    {"--help", print_help},
    {"-h", print_help},
    {"help", print_help},
};

}  // namespace

int usage_error(const std::string& message) {
  std::fprintf(stderr, "inspect3d: %s\n", message.c_str());
  print_usage(stderr);
  std::fprintf(stderr, "(inspect3d --help says more)\n");
  return kBadUsage;
}

int main(int argc, char** argv) {
  start_console_program(argc, argv);
  set_program_name("inspect3d");
  if (argc < 2) return usage_error("no command given");
  for (const GlobalOption& option : kGlobalOptions) {
    if (std::strcmp(argv[1], option.name) == 0) return option.run();
  }
  for (const Command& command : kCommands) {
    if (std::strcmp(argv[1], command.name) != 0) continue;
    // Every command keeps its memory bounded; should even that not be had
    // (a 32-bit process whose address space is spent), exit 2, never abort.
    try {
      // -h or --help where the command takes an option ("check --help").
      const int status = command.run(argc - 1, argv + 1);
      return status == kHelpAsked ? print_help() : status;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    std::fflush(stdout);
    // Said without taking memory: there may be none.
    std::fprintf(stderr, "inspect3d: not enough memory for %s\n", command.name);
    return kFailed;
  }
  return usage_error(std::string("unknown command ") + argv[1]);
}
