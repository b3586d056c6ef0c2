// inspect3d info FILE...: the kind of each .3d file and what its header and
// records hold. info_of computes what one file holds; cmd_info prints it.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "cli.h"

// What one .3d file holds.
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

// What the opened file `name` holds: its frames are read one at a time, a
// mesh file whole.
static FileInfo info_of(const std::string& name, OpenedFile& opened) {
  FileInfo info;
  info.size = opened.size;
  info.kind = opened.decoded.kind;
  // A vertex animation file's header; for kBoth, what one of this size would hold.
  info.animation = opened.decoded.animation;
  switch (info.kind) {
    case FileKind::kVertexAnimation: {
      Animation animation;
      static_cast<AnimationHeader&>(animation) = opened.decoded.animation;
      animation.file = opened.file.get();
      animation.shown_name = name;
      info.failure = frame_boxes(animation, info.boxes);
      break;
    }
    case FileKind::kMesh:
    case FileKind::kBoth: {
      // A mesh file is at most about 1 MB: read whole.
      std::vector<uint8_t> bytes;
      info.failure = read_rest(opened, name, bytes);
      if (info.failure) break;
      const Mesh mesh = mesh_of(opened.decoded.mesh, bytes);
      info.mesh = mesh;
      info.indices = indices_out_of_range(mesh, mesh.vertices_per_frame);
      break;
    }
    case FileKind::kNeither:
      info.neither = why_neither(opened.head, opened.head_bytes, opened.size);
      break;
  }
  return info;
}

static void print_animation_info(const FileInfo& info) {
  const AnimationHeader& animation = info.animation;
  std::printf("  frame count      %u\n", animation.frame_count);
  std::printf("  bytes per frame  %u (%s a frame)\n", animation.bytes_per_frame,
              counted(animation.vertex_count, "vertex", "vertices").c_str());
  if (animation.frame_count == 0) return;
  std::printf("  bounding box of each frame, in model units:\n");
  std::printf("  %5s %9s %9s %9s %9s %9s %9s\n", "frame", "x min", "x max", "y min", "y max", "z min",
              "z max");
  // Up to a frame that could not be read, if one could not.
  for (uint32_t f = 0; f < info.boxes.size(); ++f) {
    const FrameBox& b = info.boxes[f];
    std::printf("  %5u %9g %9g %9g %9g %9g %9g\n", f, b.low[0], b.high[0], b.low[1], b.high[1], b.low[2],
                b.high[2]);
  }
}

static void print_mesh_info(const FileInfo& info) {
  std::printf("  triangle count      %u\n", info.mesh.triangle_count);
  std::printf("  vertices per frame  %u\n", info.mesh.vertices_per_frame);
  std::printf("  fixed header fields as frameconv writes them\n");
  std::printf("  face indices at or beyond %u:", info.mesh.vertices_per_frame);
  std::printf(info.indices.empty() ? " none\n" : "\n");
  print_indices_out_of_range(info.indices, "    ");
}

static void print_why_neither(const NeitherReason& why) {
  if (why.too_short) {
    std::printf("  too short for either header\n");
    return;
  }
  if (why.second == 0 || why.second % kPackedVertexBytes != 0) {
    std::printf("  not a vertex animation file: %s per frame is not a whole number of vertices\n",
                counted(why.second, "byte", "bytes").c_str());
  } else {
    std::printf(
        "  not a vertex animation file: %s of %s make %llu bytes\n",
        counted(why.first, "frame", "frames").c_str(), counted(why.second, "byte", "bytes").c_str(),
        static_cast<unsigned long long>(kVertexAnimationHeaderBytes + uint64_t{why.first} * why.second));
  }
  if (!why.mesh_fields) {
    std::printf("  not a mesh file: the fixed header fields differ\n");
  } else {
    std::printf("  not a mesh file: %s make %llu bytes\n",
                counted(why.first, "triangle", "triangles").c_str(),
                static_cast<unsigned long long>(mesh_file_bytes(why.first)));
  }
}

// Prints what `info` holds of the file `name`; returns the file's exit status.
static int print_info(const std::string& name, const FileInfo& info) {
  const unsigned long long size = info.size;
  switch (info.kind) {
    case FileKind::kVertexAnimation:
      std::printf("%s: vertex animation file, %llu bytes\n", name.c_str(), size);
      print_animation_info(info);
      return info.failure ? kFailed : kDone;
    case FileKind::kMesh:
    case FileKind::kBoth:
      std::printf("%s: mesh file, %llu bytes\n", name.c_str(), size);
      if (info.kind == FileKind::kBoth) {
        // The twelve fixed fields make the mesh file far the likelier.
        std::printf("  (its size would also fit a vertex animation file of %s)\n",
                    frames_of(info.animation.frame_count, info.animation.vertex_count).c_str());
      }
      if (info.failure) return kFailed;
      print_mesh_info(info);
      return info.indices.empty() ? kDone : kProblemsFound;
    case FileKind::kNeither:
      std::printf("%s: neither a vertex animation file nor a mesh file, %llu bytes\n", name.c_str(), size);
      print_why_neither(info.neither);
      return kProblemsFound;
  }
  return kDone;
}

int cmd_info(int argc, char** argv) {
  Arguments args;
  if (const std::optional<int> end = read_arguments(argc, argv, {}, Operands::kAny, args)) return *end;
  const std::vector<std::string>& names = args.operands;
  if (names.empty()) return usage_error("info needs at least one file");
  int status = kDone;
  for (size_t n = 0; n < names.size(); ++n) {
    const std::string& name = names[n];
    OpenedFile opened;
    // No .3d file is larger than the largest vertex animation file.
    if (Failure failed = open_file(path_of(name), name, kVertexAnimationFileLimit, "a .3d file", opened)) {
      status = say(failed);
      continue;
    }
    if (n > 0) std::printf("\n");
    const FileInfo info = info_of(name, opened);
    if (info.failure) say(info.failure);
    const int file_status = print_info(name, info);
    // A file that cannot be read outweighs problems found.
    if (file_status == kFailed || (file_status == kProblemsFound && status == kDone)) status = file_status;
  }
  // Once for each folder of the files named.
  std::vector<std::filesystem::path> folders;
  for (const std::string& name : names) {
    std::filesystem::path folder = path_of(name).parent_path();
    if (folder.empty()) folder = ".";
    if (std::find(folders.begin(), folders.end(), folder) != folders.end()) continue;
    folders.push_back(folder);
    const std::string note = unfinished_commit_note(folder);
    if (!note.empty()) std::printf("note: %s\n", note.c_str());
  }
  return status;
}
