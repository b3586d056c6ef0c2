// The commands of inspect3d, one file each (info.cpp, obj.cpp, ...), over
// what they share on the command line (cli.h) and in reading a conversion
// (conversion.h). inspect3d.cpp maps command names to these.
#pragma once

#include <cstdint>
#include <string>

#include "cli.h"
#include "conversion.h"

// Each command: argv[0] is the command's name, the rest its arguments.
// Returns the exit status.
int cmd_info(int argc, char** argv);
int cmd_obj(int argc, char** argv);
int cmd_check(int argc, char** argv);
int cmd_gltf(int argc, char** argv);
int cmd_preview(int argc, char** argv);
