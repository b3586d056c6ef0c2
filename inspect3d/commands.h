// The commands of inspect3d, one file each (info.cpp, obj.cpp, ...), over
// what they share on the command line (cli.h) and in reading a conversion
// (conversion.h). inspect3d.cpp maps command names to these. Each command
// parses its arguments, computes its result as plain data (the structs
// below, and check's in comparison.h), a failure among it as a Failure,
// without printing; then cmd_NAME prints it and gives the exit status.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "cli.h"
#include "conversion.h"
#include "gltf_model.h"
#include "render.h"

// Each command: argv[0] is the command's name, the rest its arguments.
// Returns the exit status.
int cmd_info(int argc, char** argv);
int cmd_obj(int argc, char** argv);
int cmd_check(int argc, char** argv);
int cmd_gltf(int argc, char** argv);
int cmd_preview(int argc, char** argv);

// A note naming the record of a commit that a kill interrupted in `dir`
// ("aniv00.3d~frameconv-commit: ..."), or "" when there is none.
std::string unfinished_commit_note(const std::filesystem::path& dir);

// info: one frame's bounding box, in model units.
struct FrameBox {
  double low[3];
  double high[3];
};

// info: why a file fits neither layout, from its head.
struct NeitherReason {
  bool too_short = false;          // shorter than either header: nothing below is read
  uint16_t first = 0, second = 0;  // its first two 16-bit words
  bool mesh_fields = false;        // it has the fixed fields of a mesh header
};

// info: what one .3d file holds.
struct FileInfo {
  FileKind kind = FileKind::kNeither;
  uint64_t size = 0;
  // A vertex animation file's header; of a file of both kinds' sizes, what a
  // vertex animation file would hold.
  AnimationHeader animation;
  std::vector<FrameBox> boxes;  // each frame's, in order, up to one that cannot be read
  MeshHeader mesh;
  std::vector<FaceIndexOutOfRange> indices;  // a mesh file's, at or beyond its vertex count
  NeitherReason neither;
  Failure failure;  // a frame or the mesh file could not be read
};

// The bounding box of each frame of `animation`, read a frame at a time.
// Fails, with the boxes of the frames before, if a frame cannot be read.
Failure frame_boxes(const Animation& animation, std::vector<FrameBox>& boxes);

// Why a file of `size` bytes whose head is `head` fits neither layout.
NeitherReason why_neither(const uint8_t* head, size_t head_bytes, uint64_t size);

// What the opened file `name` holds: its frames are read one at a time, a
// mesh file whole.
FileInfo info_of(const std::string& name, OpenedFile& opened);

// obj: what writing the frames first to last as OBJ files did.
struct ObjExport {
  uint32_t first = 0, last = 0;
  uint32_t left_out = 0;  // triangles left out of each file for an index out of range
  Failure failure;        // the directory or a file could not be made; none after it is
};

// The text of the OBJ file of frame `frame`, whose vertices are `positions`.
std::string obj_text(const Animation& animation, const Mesh& mesh, uint32_t frame,
                     const std::vector<Position>& positions);

// Writes frames `first` to `last` of `conversion` into `out_dir` (made if it
// is not there) as frame000.obj, ..., a frame read at a time.
ObjExport write_obj_frames(const Conversion& conversion, uint32_t first, uint32_t last,
                           const std::filesystem::path& out_dir);

// gltf: a conversion written as a .glb file, and what it holds.
struct GltfExport {
  GltfPlan plan;
  uint32_t vertex_count = 0;
  uint32_t frame_count = 0;     // the frames written
  uint32_t triangle_count = 0;  // the triangles in the file
  uint32_t left_out = 0;        // the triangles left out for an index out of range
  uint64_t bytes = 0;           // the file's size
  Failure failure;              // a frame could not be read, or the file made or written
};

// Writes the .glb of `conversion` as `plan` says (make_glb) as `out`.
GltfExport write_gltf(const Conversion& conversion, const GltfPlan& plan, const std::string& out);

// preview: the contact sheet of a conversion and what drawing it found.
struct Preview {
  std::vector<uint32_t> numbers;     // the frames of the sheet, one a tile
  Image image;                       // the sheet
  uint32_t left_out = 0;             // triangles not drawn for an index out of range
  uint32_t red = 0;                  // triangles drawn red, over all tiles
  bool other_source = false;         // the source frames give another vertex count than the file
  uint32_t source_vertex_count = 0;  // the source frames' vertex count, if they were read
  Failure failure;                   // a frame or the source frames could not be read, or the sheet written
};

// Draws the contact sheet of `conversion` in tiles of `px` pixels, with the
// source frames of the current directory, where there are some, marking the
// vertices out of range, and writes it as the PNG file `out`.
Preview write_preview(const Conversion& conversion, uint32_t px, const std::string& out);
