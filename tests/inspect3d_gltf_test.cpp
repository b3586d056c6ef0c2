// inspect3d gltf end to end: the files it writes pass the Khronos
// glTF-Validator without an error or a warning, and read back with tinygltf
// they play every frame of aniv00.3d over the triangles of data00.3d.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "run.h"
#include "tinygltf.h"

namespace {

// The programs under test: the built ones, or others named in the environment
// (the Windows executables under Wine, tests/run.h).
const std::string kInspect = program_under_test("ANIM3D_INSPECT3D", INSPECT3D_PROGRAM);
const std::string kFrameconv = program_under_test("ANIM3D_FRAMECONV", FRAMECONV_PROGRAM);

// A conversion in `dir` of `frame_count` frames of 5 vertices, each
// coordinate different per frame, vertex and axis, with `faces` as the
// first frame's faces.
void convert(const TempDir& dir, int frame_count, const std::string& faces) {
  for (int f = 0; f < frame_count; ++f) {
    std::string text = "o Thing\n";
    for (int i = 0; i < 5; ++i) {
      char line[128];
      std::snprintf(line, sizeof line, "v %.17g %.17g %.17g\n", 0.37 * f - 1.3 * i, 2.11 * i + f * 0.05,
                    -0.6 * f + 0.93 * i - 100.0 * (i == 3 && f == 2));
      text += line;
    }
    char name[32];
    std::snprintf(name, sizeof name, "anima%03d.obj", f);
    write_bytes(dir / name, text + faces);
  }
  // Faces out of range convert too: frameconv then says how many.
  const std::vector<std::string> messages = run_program(kFrameconv, dir.path).messages;
  ASSERT_EQ(messages.size(), 1u);
  ASSERT_EQ(messages[0].substr(0, 19), "Conversion Complete") << messages[0];
  ASSERT_EQ(messages[0].substr(messages[0].size() - 21), ": Conversion Complete") << messages[0];
}

void copy_example(const TempDir& dir) {
  for (const auto& entry : std::filesystem::directory_iterator(EXAMPLE_DIR)) {
    std::filesystem::copy_file(entry.path(), dir / entry.path().filename().string());
  }
  ASSERT_EQ(run_program(kFrameconv, dir.path).messages,
            std::vector<std::string>{"Conversion Complete: Conversion Complete"});
}

// A vertex animation file of `frame_count` frames of one vertex, and a mesh
// file of no triangles for it.
void write_one_vertex_files(const TempDir& dir, uint16_t frame_count) {
  std::string animation = u16le(frame_count) + u16le(4);
  for (uint32_t f = 0; f < frame_count; ++f) animation += u32le(f * 0x00200801u);
  write_bytes(dir / "aniv00.3d", animation);
  std::string mesh = u16le(0) + u16le(1) + u16le(0) + u16le(1) + u32le(0x00010000) + u32le(0) + u32le(0) +
                     u32le(0x01000000) + u32le(0x7F800000) + u32le(0x3F800000) + u32le(0x00010000) +
                     std::string(12, '\0') + std::string(48, '\0');
  write_bytes(dir / "data00.3d", mesh);
}

// What aniv00.3d holds, decoded here from the bits: [frame][vertex * 3 + axis].
std::vector<std::vector<float>> decoded_frames(const std::string& bytes) {
  const auto u16 = [&](size_t at) { return uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8; };
  const uint32_t frame_count = u16(0), vertex_count = u16(2) / 4;
  std::vector<std::vector<float>> frames(frame_count);
  for (uint32_t f = 0; f < frame_count; ++f) {
    for (uint32_t i = 0; i < vertex_count; ++i) {
      const size_t at = 4 + (size_t{f} * vertex_count + i) * 4;
      const uint32_t word = u16(at) | uint32_t(u16(at + 2)) << 16;
      const auto field = [&](int shift, int bits, double scale) {
        int32_t value = (word >> shift) & ((1u << bits) - 1);
        if (value >= 1 << (bits - 1)) value -= 1 << bits;
        return static_cast<float>(value / scale);
      };
      frames[f].insert(frames[f].end(), {field(0, 11, 8), field(11, 11, 8), field(22, 10, 4)});
    }
  }
  return frames;
}

// data00.3d's triangles with every index below the vertex count.
std::vector<uint32_t> in_range_indices(const std::string& bytes) {
  const auto u16 = [&](size_t at) { return uint32_t(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8); };
  std::vector<uint32_t> indices;
  for (uint32_t t = 0; t < u16(0); ++t) {
    const size_t at = 48 + size_t{t} * 16;
    const uint32_t a = u16(at), b = u16(at + 2), c = u16(at + 4);
    if (a < u16(2) && b < u16(2) && c < u16(2)) indices.insert(indices.end(), {a, b, c});
  }
  return indices;
}

// The values of a float or unsigned short accessor.
std::vector<float> accessor_values(const tinygltf::Model& model, int index) {
  const tinygltf::Accessor& accessor = model.accessors.at(index);
  const tinygltf::BufferView& view = model.bufferViews.at(accessor.bufferView);
  const unsigned char* data =
      model.buffers.at(view.buffer).data.data() + view.byteOffset + accessor.byteOffset;
  const size_t per = accessor.type == TINYGLTF_TYPE_VEC3 ? 3 : 1;
  std::vector<float> values(accessor.count * per);
  for (size_t i = 0; i < values.size(); ++i) {
    if (accessor.componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT) {
      uint16_t value;
      std::memcpy(&value, data + 2 * i, 2);
      values[i] = value;
    } else {
      std::memcpy(&values[i], data + 4 * i, 4);
    }
  }
  return values;
}

struct ReadBackCase {
  const char* name;
  void (*make)(const TempDir&);
  std::vector<std::string> args;
  uint32_t first, last;
  double fps;
  int exit_status;
};

void seven_frames(const TempDir& dir) { convert(dir, 7, "f 1 2 3\nf 5/1/1 4/2/2 3/3/3\nf 2 4 5\n"); }
void faces_out_of_range(const TempDir& dir) { convert(dir, 4, "f 1 2 3\nf 3 4 9\nf 6 1 2\nf 4 5 1\n"); }
void no_face_in_range(const TempDir& dir) { convert(dir, 3, "f 1 2 7\n"); }
void a_thousand_frames(const TempDir& dir) { write_one_vertex_files(dir, 1200); }

const ReadBackCase kReadBackCases[] = {
    {"the bundled example", copy_example, {}, 0, 23, 30, 0},
    {"the bundled example, frames 3 to 7 at 12 a second",
     copy_example,
     {"--frames", "3-7", "--fps", "12"},
     3,
     7,
     12,
     0},
    {"the bundled example, frame 23 alone", copy_example, {"--frames", "23-23"}, 23, 23, 30, 0},
    {"seven frames at 29.97 a second", seven_frames, {"--fps", "29.97"}, 0, 6, 29.97, 0},
    {"seven frames, 1 to 6", seven_frames, {"--frames", "1-6"}, 1, 6, 30, 0},
    {"faces out of range left out", faces_out_of_range, {}, 0, 3, 30, 1},
    {"no face in range: points", no_face_in_range, {}, 0, 2, 30, 1},
    {"1,000 frames of 1,200",
     a_thousand_frames,
     {"--frames", "200-1199", "--fps", "1000"},
     200,
     1199,
     1000,
     0},
};

TEST(Gltf, ReadBackPlaysEveryFrameOverTheTriangles) {
  for (const ReadBackCase& c : kReadBackCases) {
    TempDir dir;
    c.make(dir);
    std::vector<std::string> args = {"gltf", "--out", "out.glb"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CapturedRun run = run_program(kInspect, dir.path, args);
    ASSERT_EQ(run.exit_status, c.exit_status) << c.name << "\n" << run.err;
    EXPECT_EQ(run.out.substr(0, 14), "wrote out.glb:") << c.name;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.glb~inspect3d-new")) << c.name;

    tinygltf::Model model;
    tinygltf::TinyGLTF loader;
    std::string err, warn;
    ASSERT_TRUE(loader.LoadBinaryFromFile(&model, &err, &warn, (dir / "out.glb").string())) << c.name << err;
    EXPECT_EQ(warn, "") << c.name;
    ASSERT_EQ(model.meshes.size(), 1u) << c.name;
    ASSERT_EQ(model.meshes[0].primitives.size(), 1u) << c.name;
    const tinygltf::Primitive& primitive = model.meshes[0].primitives[0];

    const std::vector<uint32_t> expected_indices = in_range_indices(*read_bytes(dir / "data00.3d"));
    if (expected_indices.empty()) {
      EXPECT_EQ(primitive.mode, TINYGLTF_MODE_POINTS) << c.name;
      EXPECT_EQ(primitive.indices, -1) << c.name;
    } else {
      EXPECT_EQ(primitive.mode, TINYGLTF_MODE_TRIANGLES) << c.name;
      const std::vector<float> indices = accessor_values(model, primitive.indices);
      EXPECT_EQ(std::vector<uint32_t>(indices.begin(), indices.end()), expected_indices) << c.name;
    }

    const std::vector<std::vector<float>> frames = decoded_frames(*read_bytes(dir / "aniv00.3d"));
    const uint32_t target_count = c.last - c.first;
    ASSERT_EQ(primitive.targets.size(), target_count) << c.name;
    const std::vector<float> base = accessor_values(model, primitive.attributes.at("POSITION"));
    std::vector<std::vector<float>> targets;
    for (const auto& target : primitive.targets)
      targets.push_back(accessor_values(model, target.at("POSITION")));
    if (target_count == 0) {
      EXPECT_TRUE(model.animations.empty()) << c.name;
      EXPECT_EQ(base, frames[c.first]) << c.name;
      continue;
    }
    const tinygltf::Value& names = model.meshes[0].extras.Get("targetNames");
    ASSERT_EQ(names.ArrayLen(), target_count) << c.name;
    char first_name[16];
    std::snprintf(first_name, sizeof first_name, "frame%03u", c.first + 1);
    EXPECT_EQ(names.Get(0).Get<std::string>(), first_name) << c.name;

    // Each keyframe's positions: the base plus its weights times the targets.
    ASSERT_EQ(model.animations.size(), 1u) << c.name;
    const tinygltf::Animation& animation = model.animations[0];
    EXPECT_EQ(animation.name, "frames");
    ASSERT_EQ(animation.channels.size(), 1u) << c.name;
    EXPECT_EQ(animation.channels[0].target_path, "weights");
    const tinygltf::AnimationSampler& sampler = animation.samplers.at(animation.channels[0].sampler);
    EXPECT_EQ(sampler.interpolation, "STEP");
    const std::vector<float> times = accessor_values(model, sampler.input);
    const std::vector<float> weights = accessor_values(model, sampler.output);
    ASSERT_EQ(times.size(), target_count + 1) << c.name;
    ASSERT_EQ(weights.size(), times.size() * target_count) << c.name;
    for (uint32_t k = 0; k <= target_count; ++k) {
      EXPECT_EQ(times[k], static_cast<float>(k / c.fps)) << c.name << " keyframe " << k;
      std::vector<float> positions = base;
      for (uint32_t t = 0; t < target_count; ++t) {
        for (size_t i = 0; i < positions.size(); ++i)
          positions[i] += weights[k * target_count + t] * targets[t][i];
      }
      ASSERT_EQ(positions, frames[c.first + k]) << c.name << " keyframe " << k;
    }
  }
}

TEST(Gltf, TheValidatorFindsNothingToSay) {
  const std::string node = NODE_PROGRAM;
  if (node.empty()) GTEST_SKIP() << "no node program: the glTF-Validator cannot run";
  const std::filesystem::path script = VALIDATE_SCRIPT;
  ASSERT_TRUE(std::filesystem::is_directory(script.parent_path() / "node_modules" / "gltf-validator"))
      << "the validator is not installed: run npm ci in tests/gltf (./build.sh test does)";
  TempDir out;
  std::vector<std::string> files = {script.string()};
  int n = 0;
  for (const ReadBackCase& c : kReadBackCases) {
    TempDir dir;
    c.make(dir);
    const std::string file = (out / ("case" + std::to_string(n++) + ".glb")).string();
    std::vector<std::string> args = {"gltf", "--out", file};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ASSERT_EQ(run_program(kInspect, dir.path, args).exit_status, c.exit_status) << c.name;
    files.push_back(file);
  }
  const CapturedRun run = run_program(node, out.path, files);
  EXPECT_EQ(run.exit_status, 0) << run.out << run.err;
  for (size_t i = 1; i < files.size(); ++i) {
    EXPECT_NE(run.out.find(files[i] + ": 0 errors, 0 warnings,"), std::string::npos) << run.out << run.err;
  }
}

struct GltfUsageCase {
  std::vector<std::string> args;
  std::string err_start;
};

TEST(Gltf, RangesAndRatesItCannotWriteExitWithTwo) {
  TempDir dir;
  seven_frames(dir);
  TempDir many;
  write_one_vertex_files(many, 1001);
  const std::string frames_error =
      "inspect3d: --frames needs FIRST-LAST, two frame numbers, the first not above the last\nusage:";
  const std::string fps_error =
      "inspect3d: --fps needs a number of frames a second above 0 (0.001 to 1000000)\n";
  const GltfUsageCase cases[] = {
      {{"--frames"}, frames_error},
      {{"--frames", "3"}, frames_error},
      {{"--frames", "3-"}, frames_error},
      {{"--frames", "-3"}, frames_error},
      {{"--frames", "5-2"}, frames_error},
      {{"--frames", "1-2-3"}, frames_error},
      {{"--frames", "0x1-2"}, frames_error},
      {{"--frames", "1-70000"}, frames_error},
      {{"--frames", "2-7"}, "inspect3d: --frames 2-7: aniv00.3d holds frames 0 to 6\nusage:"},
      {{"--fps", "0"}, fps_error},
      {{"--fps", "-30"}, fps_error},
      {{"--fps", "thirty"}, fps_error},
      {{"--fps", "nan"}, fps_error},
      {{"--fps"}, fps_error},
      {{"--fps", "30", "--fps", "24"}, "inspect3d: gltf takes --fps once\n"},
      {{"--out", ""}, "inspect3d: --out needs a file name\n"},
      {{"--frame", "2"}, "inspect3d: gltf does not take --frame\n"},
      {{"--out", "no-such-dir/out.glb"}, "inspect3d: cannot write no-such-dir/out.glb\n"},
  };
  for (const GltfUsageCase& c : cases) {
    std::vector<std::string> args = {"gltf"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CapturedRun run = run_program(kInspect, dir.path, args);
    EXPECT_EQ(run.exit_status, 2) << args.back();
    EXPECT_EQ(run.out, "") << args.back();
    EXPECT_EQ(run.err.substr(0, c.err_start.size()), c.err_start) << args.back();
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "aniv00.glb"));

  const CapturedRun help = run_program(kInspect, dir.path, {"gltf", "--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_NE(help.out.find("\n       inspect3d gltf [--out FILE] [--fps N] [--frames FIRST-LAST]\n"),
            std::string::npos)
      << help.out;
  EXPECT_NE(help.out.find("\n  gltf     writes aniv00.3d"), std::string::npos) << help.out;

  const CapturedRun too_many = run_program(kInspect, many.path, {"gltf"});
  EXPECT_EQ(too_many.exit_status, 2);
  EXPECT_EQ(too_many.err,
            "inspect3d: 1001 frames are more than one glTF file holds (1000): choose some with --frames "
            "FIRST-LAST\n");
  EXPECT_FALSE(std::filesystem::exists(many / "aniv00.glb"));
  const CapturedRun chosen = run_program(kInspect, many.path, {"gltf", "--frames", "1-1000"});
  EXPECT_EQ(chosen.exit_status, 0) << chosen.err;
  EXPECT_EQ(chosen.out,
            "wrote aniv00.glb: frames 1 to 1000, 1000 frames of 1 vertex, 0 triangles, 30 frames a second\n");
}

}  // namespace
