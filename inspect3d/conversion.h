// Reading a conversion, shared by every inspect3d command: the two outputs
// aniv00.3d and data00.3d decoded as the engine reads them, and the source
// frames anima000.obj, ... read as frameconv reads them, through its own
// scanner. Every command decodes through these, never a copy of its own, and
// writes its outputs through write_output.
//
// Nothing here prints: a failure comes back as data (Failure), which the
// command says on standard error.
//
// Every read is bounded before it is made: a file larger than its layout can
// be is refused by its size, a frame is read only up to kFrameReadLimit bytes,
// and no file-system call throws. Memory is bounded by what a command uses:
// the vertex animation file (up to about 4 GiB) is read a frame at a time as
// a command needs it, never whole.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "file_names.h"
#include "frames.h"
#include "kind.h"
#include "mesh.h"
#include "mesh_format.h"
#include "open_file.h"
#include "sequence.h"
#include "vertex_animation.h"

// The largest files the layouts allow: 65,535 frames of 65,535 bytes after
// the 4-byte header; 65,535 triangles + 3 records after the 48-byte header.
constexpr uint64_t kVertexAnimationFileLimit = kVertexAnimationHeaderBytes + uint64_t{0xFFFF} * 0xFFFF;
constexpr uint64_t kMeshFileLimit = mesh_file_bytes(0xFFFF);
static_assert(kMeshFileLimit == 48 + 16 * 65538, "the largest mesh file");

// What stops a command, as data: each line standard error says of it, in
// order, without the "inspect3d: " before each ("cannot read aniv00.3d").
// Some failures say nothing of their own, and the caller's line follows
// ("cannot write aniv00.glb").
struct Failure {
  bool failed = false;
  std::vector<std::string> said;

  explicit operator bool() const { return failed; }
  // This failure, with `line` said after what it says already.
  Failure& then(std::string line);
  // This failure, with what `other` says after it.
  Failure& then(const Failure& other);
};

// A failure that says `line`, or nothing of its own.
Failure failure(std::string line);
Failure failure();

// "1 frame", "24 frames".
std::string counted(uint64_t count, const char* one, const char* many);

// "24 frames of 50 vertices".
std::string frames_of(uint32_t frame_count, uint32_t vertex_count);

// `name` in `dir`, as shown to the user: without "./" for the current directory,
// and with "/" between the names on every system, so that reports are the same.
std::string shown(const std::filesystem::path& dir, const char* name);

// A path from UTF-8 text (a command line argument) and back: on Windows the
// narrow std::filesystem functions would use the ANSI code page instead.
std::filesystem::path path_of(const std::string& utf8);
std::string utf8_of(const std::filesystem::path& path);

// A file open for reading, its size, and its first bytes, as much of them as
// decide its kind, decoded once.
struct OpenedFile {
  OpenFile file;
  uint64_t size = 0;
  uint8_t head[kKindHeadBytes] = {};
  size_t head_bytes = 0;  // min(size, kKindHeadBytes)
  FileHead decoded;       // its kind and headers
};

// Opens `file` (shown to the user as `shown_name`), a regular file of at most
// `limit` bytes, and reads its head: a file of any size the layouts allow
// costs no more memory than a small one. Else fails saying why, naming the
// file (`what` is the kind the limit is of: "a .3d file").
Failure open_file(const std::filesystem::path& file, const std::string& shown_name, uint64_t limit,
                  const char* what, OpenedFile& opened);

// Reads the whole of an opened file into `bytes`, head and rest, and closes
// it; only files whose limit fits memory (a mesh file, at most about 1 MB).
// Fails saying that it cannot be read if a read fails.
Failure read_rest(OpenedFile& opened, const std::string& shown_name, std::vector<uint8_t>& bytes);

// A vertex animation file as read: its header, and where its frames are read
// from as a command needs them: the open file, or bytes in memory (tests and
// the fuzzer).
struct Animation : AnimationHeader {
  FILE* file = nullptr;  // owned by whoever opened it
  const uint8_t* data = nullptr;
  size_t size = 0;
  std::string shown_name = kVertexAnimationName;
};

// A mesh file as read: its two varying header fields and a view of its bytes.
struct Mesh : MeshHeader {
  const uint8_t* data = nullptr;
  size_t size = 0;
};
Mesh mesh_of(const MeshHeader& header, const std::vector<uint8_t>& bytes);

// Reads the bytes of the `count` frames from `first` (within the file) into
// `bytes`. The most a command keeps is a few frames, never the whole file.
// Fails saying that the file cannot be read if a read fails or the file ends
// early.
Failure read_frames(const Animation& animation, uint32_t first, uint32_t count, std::vector<uint8_t>& bytes);

// Every vertex of frame `frame`, read and decoded (decode_frame) into
// `positions`. Fails as read_frames.
Failure frame_positions(const Animation& animation, uint32_t frame, std::vector<Position>& positions);

// One frame's bounding box, in model units.
struct FrameBox {
  double low[3];
  double high[3];
};

// The bounding box of each frame of `animation`, read a frame at a time.
// Fails, with the boxes of the frames before, if a frame cannot be read.
Failure frame_boxes(const Animation& animation, std::vector<FrameBox>& boxes);

// Why a file fits neither layout, from its head.
struct NeitherReason {
  bool too_short = false;          // shorter than either header: nothing below is read
  uint16_t first = 0, second = 0;  // its first two 16-bit words
  bool mesh_fields = false;        // it has the fixed fields of a mesh header
};

// Why a file of `size` bytes whose head is `head` fits neither layout.
NeitherReason why_neither(const uint8_t* head, size_t head_bytes, uint64_t size);

inline Triangle triangle_at(const Mesh& mesh, uint32_t triangle) {
  return triangle_at(mesh.data, mesh.size, triangle);
}

// The triangles of `mesh` whose three indices are below `vertex_count`, in
// order; `left_out_count` is set to the number of the others.
std::vector<Triangle> triangles_in_range(const Mesh& mesh, uint32_t vertex_count, uint32_t& left_out_count);

struct FaceIndexOutOfRange {
  uint32_t triangle;
  int corner;  // 0, 1 or 2
  uint16_t index;
};

// Each face index of `mesh` at or beyond `vertex_count`, triangle by triangle.
std::vector<FaceIndexOutOfRange> indices_out_of_range(const Mesh& mesh, uint32_t vertex_count);

// The two outputs of a conversion as read: `animation` reads from the open
// file, `mesh` views the bytes.
struct Conversion {
  OpenFile animation_file;          // read frame by frame
  std::vector<uint8_t> mesh_bytes;  // a mesh file is at most about 1 MB: read whole
  Animation animation;
  Mesh mesh;
};

// Reads aniv00.3d and data00.3d of `dir` and checks that they are of their
// kinds (a file of both kinds' sizes is taken as what its name says). Fails
// saying why.
Failure read_conversion(const std::filesystem::path& dir, Conversion& conversion);

// Why the conversion cannot be decoded frame by frame, if it cannot: the
// mesh is of another vertex count than the animation, or there is no frame.
Failure cannot_decode(const Conversion& conversion);

// The frame file name of frame `frame`: "anima007.obj".
std::string frame_file_name(uint32_t frame);

// True if all three coordinates pack without wrapping around their range.
bool position_packs_in_range(double x, double y, double z);

// One thing the reading of the source frames left out, and its place: the
// frame and the line of its statement (0 for a whole frame file).
struct LeftOutPlace {
  LeftOutKind kind;
  uint32_t frame;
  uint32_t line;
};

// The source frames as frameconv reads them.
struct SourceFrames {
  bool missing = false;                      // there is no anima000.obj: nothing was read
  uint32_t frame_count = 0;                  // the frames frameconv converts
  uint32_t vertex_count = 0;                 // the first frame's, and so every frame's
  std::unique_ptr<TriangleTable> triangles;  // of the first frame
  FrameSequence sequence{};                  // the counts frameconv's closing text gives
  std::vector<std::string> notes;            // what frameconv never looks at
  std::string stopped;                       // why frameconv would end without output, if it would
};

// How reading the source frames of `dir` ended (`end`), as
// read_source_frames returns it, with what frameconv would make of it in
// `source`.
Failure source_read(const std::filesystem::path& dir, SequenceEnd end, SourceFrames& source);

// Reads the frames anima000.obj, ... of `dir` through frameconv's own reading
// of a frame sequence (read_frame_sequence), handing each frame to `frames`
// as it hands them to frameconv. Without an anima000.obj, `source.missing`
// (no failure). Fails saying why when a frame cannot be read, or the first
// frame gives nothing to convert.
template <typename Frames>
Failure read_source_frames(const std::filesystem::path& dir, Frames& frames, SourceFrames& source) {
  const std::unique_ptr<char[]> text(new char[kFrameReadLimit + 1]);
  source.triangles = std::make_unique<TriangleTable>();
  const std::string dir_name = utf8_of(dir);
  const SequenceEnd end = read_frame_sequence(FrameFiles{dir_name.c_str()}, text.get(), *source.triangles,
                                              source.sequence, frames);
  return source_read(dir, end, source);
}

// A note naming the record of a commit that a kill interrupted in `dir`
// ("aniv00.3d~frameconv-commit: ..."), or "" when there is none.
std::string unfinished_commit_note(const std::filesystem::path& dir);

// Writes `bytes` to `file` (UTF-8) through a temporary beside it
// ("FILE~inspect3d-new"), moved into place only when complete, as
// write_output_file does. Never writes over a file a command reads
// (aniv00.3d, data00.3d or a frame file of the current directory, under
// whatever name). Leaves nothing behind on failure, which says "cannot write
// FILE: " and why.
Failure write_output(const std::string& file, const std::string& bytes);

// The same for an output in two pieces, `head` then `body` (a .glb's binary
// data), never joined in memory.
Failure write_output(const std::string& file, const std::string& head,
                     const std::vector<unsigned char>& body);
