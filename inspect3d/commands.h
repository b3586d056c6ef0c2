// The commands of inspect3d, one file each (info.cpp, obj.cpp, ...), and what
// they share to report. inspect3d.cpp maps command names to these.
#pragma once

#include <cstdint>
#include <string>

#include "conversion.h"

// Exit status: 0 done, 1 a check found problems, 2 bad usage or a file that
// cannot be read or written.
constexpr int kOk = 0, kProblems = 1, kBadUsage = 2;

// Each command: argv[0] is the command's name, the rest its arguments.
// Returns the exit status.
int cmd_info(int argc, char** argv);
int cmd_obj(int argc, char** argv);
int cmd_check(int argc, char** argv);
int cmd_gltf(int argc, char** argv);
int cmd_preview(int argc, char** argv);

// Says `message` and the usage on standard error; returns kBadUsage.
int usage_error(const std::string& message);

// Writes `bytes` to `file` (UTF-8) through a temporary beside it
// ("FILE~inspect3d-new"), moved into place only when complete, as
// write_output_file does. Never writes over a file a command reads
// (aniv00.3d, data00.3d or a frame file of the current directory, under
// whatever name): says so on standard error instead. False, leaving nothing
// behind, if any step fails.
bool write_output(const std::string& file, const std::string& bytes);

// True if the conversion can be decoded frame by frame: the mesh is of the
// animation's vertex count and there is a frame. Else says why on standard
// error.
bool can_decode(const Conversion& conversion);

// "1 frame", "24 frames".
std::string counted(uint64_t count, const char* one, const char* many);

// "24 frames of 50 vertices".
std::string frames_of(uint32_t frame_count, uint32_t vertex_count);

// Says on standard error that `left_out` triangles (more than 0) with a
// vertex index at or beyond `vertex_count` were left out of an output.
void say_left_out(uint32_t left_out, uint32_t vertex_count);

// The number of face indices of `mesh` at or beyond `vertex_count`.
uint32_t count_indices_out_of_range(const Mesh& mesh, uint32_t vertex_count);

// Lists each face index of `mesh` at or beyond `vertex_count` on standard
// output, indented by `indent`, and returns how many there are.
uint32_t list_indices_out_of_range(const Mesh& mesh, uint32_t vertex_count, const char* indent);
