// Fuzzes what inspect3d reads: the input is split at "\n~~~\n" into up to
// three pieces, aniv00.3d, data00.3d and anima000.obj (the third also as
// clips.json), written to a scratch directory; then the kind detection, the
// reading and decoding of the conversion, the glTF model of a range of its
// frames (read back with the same library), clips.json's rules on the third
// piece's text, the drawing of the first piece's bytes taken as raw
// coordinates and triangles (any double: huge, infinite, not a number), and
// the real commands info, check, obj, gltf and preview run on them.
//
// What must hold: no crash and no sanitizer finding; each command ends with
// exit status 0, 1 or 2 and never a usage error (its arguments are valid);
// info and check write no file, obj --frame 0 only frame000.obj in its --out
// directory, gltf and preview only their --out file (a PNG for preview) and
// only with status 0 or 1; never a temporary left behind.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>

#include "check.h"
#include "cli.h"
#include "clip_set.h"
#include "gltf_model.h"
#include "kind.h"
#include "render.h"
#include "tinygltf.h"

int cmd_info(int argc, char** argv);
int cmd_obj(int argc, char** argv);
int cmd_check(int argc, char** argv);
int cmd_gltf(int argc, char** argv);
int cmd_preview(int argc, char** argv);

// The commands' arguments are fixed and valid: a usage error is a finding.
int usage_error(const std::string& message) {
  std::fprintf(stderr, "usage error: %s\n", message.c_str());
  CHECK(false);
  return kBadUsage;
}

namespace {

// Runs a command with standard output and standard error going nowhere:
// the reports are not checked here, only that making them is sound.
int run_quietly(int (*command)(int, char**), std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::fflush(stdout);
  std::fflush(stderr);
  const int saved_out = dup(1), saved_err = dup(2), null = open("/dev/null", O_WRONLY);
  CHECK(saved_out >= 0 && saved_err >= 0 && null >= 0);
  dup2(null, 1);
  dup2(null, 2);
  close(null);
  const int status = command(static_cast<int>(args.size()), argv.data());
  std::fflush(stdout);
  std::fflush(stderr);
  dup2(saved_out, 1);
  dup2(saved_err, 2);
  close(saved_out);
  close(saved_err);
  CHECK(status == kDone || status == kProblemsFound || status == kFailed);
  return status;
}

// The glTF model of frames `first` to `last` (chosen by the input), read back:
// as two clips split after `first` where there are two frames or more, in
// `encoding`.
void check_glb(const Conversion& conversion, uint32_t first, uint32_t last, GltfEncoding encoding) {
  Glb pieces;
  uint32_t left_out = 0;
  GltfPlan plan;
  plan.encoding = encoding;
  plan.animations.push_back({"a", first, first});
  if (last > first) plan.animations.push_back({"b", first + 1, last});
  CHECK(!make_glb(conversion.animation, conversion.mesh, plan, pieces, left_out));
  const std::string glb = pieces.head + std::string(pieces.bin.begin(), pieces.bin.end());
  CHECK(left_out <= conversion.mesh.triangle_count);
  tinygltf::Model model;
  tinygltf::TinyGLTF loader;
  std::string err, warn;
  CHECK(loader.LoadBinaryFromMemory(&model, &err, &warn, reinterpret_cast<const unsigned char*>(glb.data()),
                                    static_cast<unsigned int>(glb.size())));
  CHECK(model.meshes.size() == 1 && model.meshes[0].primitives.size() == 1);
  const tinygltf::Primitive& primitive = model.meshes[0].primitives[0];
  CHECK(primitive.targets.size() == last - first);
  CHECK(model.accessors.at(primitive.attributes.at("POSITION")).count == conversion.animation.vertex_count);
  CHECK(model.animations.size() == (first < last ? 2u : 0u));
}

// Draws `bytes` taken as two frames of raw coordinates followed by triangles
// whose indices may lie beyond the points: the sheet has the promised size
// whatever the numbers are.
void check_raw_sheet(const std::string& bytes) {
  constexpr size_t kPoints = 8;
  std::vector<Position> points(2 * kPoints);
  const size_t point_bytes = std::min(bytes.size(), points.size() * sizeof(Position));
  std::vector<Triangle> triangles((bytes.size() - point_bytes) / sizeof(Triangle));
  if (point_bytes > 0) std::memcpy(points.data(), bytes.data(), point_bytes);
  if (!triangles.empty()) {
    std::memcpy(triangles.data(), bytes.data() + point_bytes, triangles.size() * sizeof(Triangle));
  }
  const std::span<const Position> all(points);
  const uint8_t red[kPoints] = {1, 0, 0, 0, 0, 0, 0, 1};
  const SheetFrame frames[] = {{0, all.first(kPoints), red}, {65535, all.last(kPoints - 1), {}}};
  const Image image = draw_sheet(frames, triangles, kTileSmallest);
  CHECK(image.width == kSheetColumns * kTileSmallest && image.height == kTileSmallest);
  CHECK(image.rgb.size() == size_t{image.width} * image.height * 3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> pieces = split_input(data, size, "\n~~~\n", 3);
  pieces.resize(3);
  enter_scratch_dir();
  write_whole(kVertexAnimationName, pieces[0]);
  write_whole(kMeshName, pieces[1]);
  if (!pieces[2].empty()) {
    write_whole("anima000.obj", pieces[2]);
    write_whole(kClipsName, pieces[2]);
  }
  const std::vector<std::string> names = dir_names();

  for (const std::string& piece : pieces) {
    const std::vector<uint8_t> bytes(piece.begin(), piece.end());
    const FileHead head = read_file_head(bytes.data(), std::min(bytes.size(), kKindHeadBytes), bytes.size());
    CHECK(head.kind == FileKind::kNeither || bytes.size() >= kVertexAnimationHeaderBytes);
  }

  // The reading and decoding, and the glTF model of a range that the last
  // bytes of the input choose.
  Conversion conversion;
  const bool read = !read_conversion(".", conversion);
  const Animation& animation = conversion.animation;
  if (read && animation.frame_count > 0 && animation.vertex_count == conversion.mesh.vertices_per_frame) {
    const uint32_t choice = size >= 2 ? data[size - 2] | data[size - 1] << 8 : 0;
    const uint32_t first = choice % animation.frame_count;
    const uint32_t last = std::min<uint32_t>(first + (choice >> 8) % 8, animation.frame_count - 1u);
    check_glb(conversion, first, last, choice & 0x80 ? GltfEncoding::kFloat : GltfEncoding::kQuantized);
    std::vector<Position> positions;
    for (uint32_t f = 0; f < animation.frame_count; ++f) {
      CHECK(!frame_positions(animation, f, positions));
      for (const Position& p : positions) {
        CHECK(std::fabs(p.x) <= 128 && std::fabs(p.y) <= 128 && std::fabs(p.z) <= 128);
      }
    }
  }

  check_raw_sheet(pieces[0]);

  // The third piece as clips.json: the clips it gives, if any, lie within the
  // file, in order.
  std::vector<Clip> clips;
  const std::string why = clips_of_json(pieces[2], animation.frame_count, clips);
  CHECK(why.empty() != clips.empty());
  for (size_t i = 0; i < clips.size(); ++i) {
    CHECK(clips[i].frame_count > 0 && clips[i].first_frame + clips[i].frame_count <= animation.frame_count);
    CHECK(i == 0 || clips[i].first_frame >= clips[i - 1].first_frame + clips[i - 1].frame_count);
  }

  run_quietly(cmd_info, {"info", kVertexAnimationName, kMeshName, "anima000.obj", "absent.3d"});
  run_quietly(cmd_check, {"check"});
  CHECK(dir_names() == names);

  if (run_quietly(cmd_obj, {"obj", "--frame", "0", "--out", "objs"}) == kFailed) {
    std::error_code ignored;
    CHECK(!std::filesystem::exists("objs/frame000.obj", ignored));
  } else {
    CHECK(read_whole("objs/frame000.obj") != "<absent>");
  }
  std::filesystem::remove_all("objs");

  const int gltf = run_quietly(cmd_gltf, {"gltf", "--out", "out.glb"});
  CHECK((read_whole("out.glb") != "<absent>") == (gltf != kFailed));
  std::filesystem::remove("out.glb");

  const int preview = run_quietly(cmd_preview, {"preview", "--size", "32", "--out", "sheet.png"});
  CHECK(read_whole("sheet.png").substr(0, 8) == (preview == kFailed ? "<absent>" : "\x89PNG\r\n\x1a\n"));
  std::filesystem::remove("sheet.png");
  CHECK(dir_names() == names);
  return 0;
}
