// inspect3d gltf end to end: the files it writes pass the Khronos
// glTF-Validator without an error or a warning, and read back with tinygltf
// (node scale x (base + displacements)) they play every frame of aniv00.3d,
// exactly as the engine decodes it, over the triangles of data00.3d, one
// animation per clip of clips.json. And clips.json's rules, in memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "clip_set.h"
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

// A mesh file of `triangles` (three indices each) for `vertex_count`
// vertices, with the records' fixed bytes.
std::string mesh_file(uint16_t vertex_count, const std::vector<uint16_t>& triangles) {
  const uint16_t triangle_count = static_cast<uint16_t>(triangles.size() / 3);
  std::string mesh = u16le(triangle_count) + u16le(vertex_count) + u16le(0) + u16le(1) + u32le(0x00010000) +
                     u32le(0) + u32le(0) + u32le(0x01000000) + u32le(0x7F800000) + u32le(0x3F800000) +
                     u32le(0x00010000) + std::string(12, '\0');
  for (uint16_t t = 0; t < triangle_count; ++t) {
    mesh += u16le(triangles[t * 3]) + u16le(triangles[t * 3 + 1]) + u16le(triangles[t * 3 + 2]);
    mesh += std::string{1, static_cast<char>(t % 42 + 1), 0, '\x80', 0, '\x94', 2, '\x80', 0, 0};
  }
  return mesh + std::string(48, '\0');
}

// A packed word of three whole fields: x and y in eighths, z in quarters.
uint32_t word_of(int32_t x, int32_t y, int32_t z) {
  return (uint32_t(x) & 0x7FF) | (uint32_t(y) & 0x7FF) << 11 | (uint32_t(z) & 0x3FF) << 22;
}

// aniv00.3d of `frame_count` frames of `vertex_count` vertices, vertex i of
// frame f being word(f, i), and data00.3d of a fan of triangles over them
// (none for fewer than 3).
void write_files(const TempDir& dir, uint32_t frame_count, uint16_t vertex_count,
                 uint32_t (*word)(uint32_t frame, uint32_t vertex)) {
  std::string animation = u16le(static_cast<uint16_t>(frame_count)) + u16le(vertex_count * 4);
  for (uint32_t f = 0; f < frame_count; ++f) {
    for (uint32_t i = 0; i < vertex_count; ++i) animation += u32le(word(f, i));
  }
  write_bytes(dir / "aniv00.3d", animation);
  std::vector<uint16_t> triangles;
  for (uint16_t i = 1; i + 1 < vertex_count; ++i) triangles.insert(triangles.end(), {0, i, uint16_t(i + 1)});
  write_bytes(dir / "data00.3d", mesh_file(vertex_count, triangles));
}

// A vertex animation file of `frame_count` frames of one vertex, and a mesh
// file of no triangles for it.
void write_one_vertex_files(const TempDir& dir, uint16_t frame_count) {
  write_files(dir, frame_count, 1, [](uint32_t f, uint32_t) { return f * 0x00200801u; });
}

// 62 vertices, 8 of which move (vertices 3, 11, 19, ...), each field
// different per frame, vertex and axis and reaching both ends of its range;
// frames 2 and 5 are frame 0 again: no motion.
uint32_t eight_move(uint32_t f, uint32_t i) {
  const int32_t still[3] = {int32_t(i * 33 % 2048) - 1024, int32_t(i * 17 % 2048) - 1000,
                            int32_t(i * 7) - 512};
  if (i % 8 != 3 || f % 3 == 2 || f == 0) return word_of(still[0], still[1], still[2]);
  return word_of(i == 3 ? 1023 : still[0] + int32_t(f), still[1] - int32_t(f * i % 50),
                 i == 11 ? 511 : still[2] + 3);
}

// 62 vertices, every one moving in every frame, from -1024 to 1023 in x.
uint32_t all_move(uint32_t f, uint32_t i) {
  return word_of(f % 2 ? 1023 - int32_t(i) : -1024 + int32_t(i), int32_t(f * 13 + i) - 700,
                 int32_t(f * 5) - int32_t(i * 3));
}

// What aniv00.3d holds, decoded here from the bits: [frame][vertex * 3 + axis].
std::vector<std::vector<double>> decoded_frames(const std::string& bytes) {
  const auto u16 = [&](size_t at) { return uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8; };
  const uint32_t frame_count = u16(0), vertex_count = u16(2) / 4;
  std::vector<std::vector<double>> frames(frame_count);
  for (uint32_t f = 0; f < frame_count; ++f) {
    for (uint32_t i = 0; i < vertex_count; ++i) {
      const size_t at = 4 + (size_t{f} * vertex_count + i) * 4;
      const uint32_t word = u16(at) | uint32_t(u16(at + 2)) << 16;
      const auto field = [&](int shift, int bits, double scale) {
        int32_t value = (word >> shift) & ((1u << bits) - 1);
        if (value >= 1 << (bits - 1)) value -= 1 << bits;
        return value / scale;
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

// `count` components of `type` from `view` at `offset` (the view's stride, or
// tightly packed), or a failed check where they do not lie within the buffer.
std::vector<double> components(const tinygltf::Model& model, int view_index, size_t offset, int type,
                               size_t count, size_t per) {
  const size_t bytes = tinygltf::GetComponentSizeInBytes(type);
  const tinygltf::BufferView& view = model.bufferViews.at(view_index);
  const std::vector<unsigned char>& buffer = model.buffers.at(view.buffer).data;
  const size_t stride = view.byteStride ? view.byteStride : bytes * per;
  std::vector<double> values;
  if (count == 0) return values;
  const size_t end = view.byteOffset + offset + (count - 1) * stride + bytes * per;
  if (end > view.byteOffset + view.byteLength || end > buffer.size()) {
    ADD_FAILURE() << "an accessor beyond its view";
    return values;
  }
  for (size_t e = 0; e < count; ++e) {
    for (size_t c = 0; c < per; ++c) {
      const unsigned char* at = buffer.data() + view.byteOffset + offset + e * stride + c * bytes;
      // One component of type T, as the buffer holds it (little-endian, as here).
      const auto take = [&]<typename T>(T) {
        T v;
        std::memcpy(&v, at, sizeof v);
        values.push_back(v);
      };
      switch (type) {
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
          take(uint8_t{});
          break;
        case TINYGLTF_COMPONENT_TYPE_SHORT:
          take(int16_t{});
          break;
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT:
          take(uint16_t{});
          break;
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT:
          take(uint32_t{});
          break;
        case TINYGLTF_COMPONENT_TYPE_FLOAT:
          take(float{});
          break;
        default:
          ADD_FAILURE() << "component type " << type;
          return values;
      }
    }
  }
  return values;
}

// The values of an accessor as a reader gets them: zeros without a view, the
// sparse values put in at their indices.
std::vector<double> accessor_values(const tinygltf::Model& model, int index) {
  const tinygltf::Accessor& accessor = model.accessors.at(index);
  const size_t per = accessor.type == TINYGLTF_TYPE_VEC3 ? 3 : 1;
  std::vector<double> values(accessor.count * per, 0.0);
  if (accessor.bufferView >= 0) {
    values = components(model, accessor.bufferView, accessor.byteOffset, accessor.componentType,
                        accessor.count, per);
  }
  if (accessor.sparse.isSparse) {
    const auto& sparse = accessor.sparse;
    const std::vector<double> at = components(model, sparse.indices.bufferView, sparse.indices.byteOffset,
                                              sparse.indices.componentType, sparse.count, 1);
    const std::vector<double> put = components(model, sparse.values.bufferView, sparse.values.byteOffset,
                                               accessor.componentType, sparse.count, per);
    for (size_t i = 0; i < at.size() && i * per < put.size(); ++i) {
      EXPECT_TRUE(i == 0 || at[i] > at[i - 1]) << "sparse indices ascend";
      for (size_t c = 0; c < per && size_t(at[i]) * per + c < values.size(); ++c)
        values[size_t(at[i]) * per + c] = put[i * per + c];
    }
  }
  return values;
}

// One animation expected: its name and the frames it plays.
struct Played {
  std::string name;
  uint32_t first, last;
};

struct ReadBackCase {
  const char* name;
  void (*make)(const TempDir&);
  std::vector<std::string> args;
  std::vector<Played> played;
  double fps;
  int exit_status;
};

void seven_frames(const TempDir& dir) { convert(dir, 7, "f 1 2 3\nf 5/1/1 4/2/2 3/3/3\nf 2 4 5\n"); }
void faces_out_of_range(const TempDir& dir) { convert(dir, 4, "f 1 2 3\nf 3 4 9\nf 6 1 2\nf 4 5 1\n"); }
void no_face_in_range(const TempDir& dir) { convert(dir, 3, "f 1 2 7\n"); }
void a_thousand_frames(const TempDir& dir) { write_one_vertex_files(dir, 1200); }
void still_frames(const TempDir& dir) { write_files(dir, 9, 62, eight_move); }
void every_vertex_moves(const TempDir& dir) { write_files(dir, 6, 62, all_move); }
// 40 frames in clips with gaps between them, one of a single frame, listed
// with the members the Blender add-on writes besides.
void clip_set(const TempDir& dir) {
  write_files(dir, 40, 62, eight_move);
  write_bytes(
      dir / "clips.json",
      R"({"scale": 2.5, "vertices": 62, "triangles": 60, "clips": [)"
      R"({"name": "walk", "files": ["a1.3d"], "first_frame": 0, "frame_count": 10},)"
      R"({"name": "jump", "files": ["a2.3d"], "first_frame": 12, "frame_count": 1},)"
      R"({"name": "run \"fast\"", "files": ["a3.3d", "a4.3d"], "first_frame": 20, "frame_count": 20}]})");
}

const std::vector<Played> kClipSet = {{"walk", 0, 9}, {"jump", 12, 12}, {"run \"fast\"", 20, 39}};

const ReadBackCase kReadBackCases[] = {
    {"the bundled example", copy_example, {}, {{"frames", 0, 23}}, 30, 0},
    {"the bundled example, frames 3 to 7 at 12 a second",
     copy_example,
     {"--frames", "3-7", "--fps", "12"},
     {{"frames", 3, 7}},
     12,
     0},
    {"the bundled example, frame 23 alone", copy_example, {"--frames", "23-23"}, {}, 30, 0},
    {"the bundled example in floats", copy_example, {"--float"}, {{"frames", 0, 23}}, 30, 0},
    {"seven frames at 29.97 a second", seven_frames, {"--fps", "29.97"}, {{"frames", 0, 6}}, 29.97, 0},
    {"seven frames, 1 to 6", seven_frames, {"--frames", "1-6"}, {{"frames", 1, 6}}, 30, 0},
    {"faces out of range left out", faces_out_of_range, {}, {{"frames", 0, 3}}, 30, 1},
    {"no face in range: points", no_face_in_range, {}, {{"frames", 0, 2}}, 30, 1},
    {"1,000 frames of 1,200",
     a_thousand_frames,
     {"--frames", "200-1199", "--fps", "1000"},
     {{"frames", 200, 1199}},
     1000,
     0},
    {"frames with no motion", still_frames, {}, {{"frames", 0, 8}}, 30, 0},
    {"every vertex moves", every_vertex_moves, {}, {{"frames", 0, 5}}, 30, 0},
    {"a clip set", clip_set, {"--fps", "24"}, kClipSet, 24, 0},
    {"a clip set in floats", clip_set, {"--float"}, kClipSet, 30, 0},
    {"one clip", clip_set, {"--clip", "run \"fast\""}, {{"run \"fast\"", 20, 39}}, 30, 0},
    {"a clip set, frames chosen", clip_set, {"--frames", "5-14"}, {{"frames", 5, 14}}, 30, 0},
};

// The frames a case writes, in order.
std::vector<uint32_t> frames_of(const ReadBackCase& c, uint32_t frame_count) {
  if (c.played.empty()) return {frame_count - 1};  // the one frame of "frame 23 alone"
  std::vector<uint32_t> frames;
  for (const Played& p : c.played) {
    for (uint32_t f = p.first; f <= p.last; ++f) frames.push_back(f);
  }
  return frames;
}

// Each axis' least and greatest of `values`, three a vertex.
void expect_min_max(const tinygltf::Accessor& accessor, const std::vector<double>& values,
                    const std::string& what) {
  ASSERT_EQ(accessor.minValues.size(), 3u) << what;
  ASSERT_EQ(accessor.maxValues.size(), 3u) << what;
  for (size_t axis = 0; axis < 3; ++axis) {
    double low = values[axis], high = values[axis];
    for (size_t i = axis; i < values.size(); i += 3) {
      low = std::min(low, values[i]);
      high = std::max(high, values[i]);
    }
    EXPECT_EQ(accessor.minValues[axis], low) << what << " axis " << axis;
    EXPECT_EQ(accessor.maxValues[axis], high) << what << " axis " << axis;
  }
}

TEST(Gltf, ReadBackPlaysEveryFrameExactlyOverTheTriangles) {
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
    ASSERT_EQ(model.nodes.size(), 1u) << c.name;
    const tinygltf::Primitive& primitive = model.meshes[0].primitives[0];

    // The encoding: whole steps scaled by the node, or model units.
    const bool floats = std::find(c.args.begin(), c.args.end(), "--float") != c.args.end();
    const std::vector<std::string> extensions =
        floats ? std::vector<std::string>{} : std::vector<std::string>{"KHR_mesh_quantization"};
    EXPECT_EQ(model.extensionsUsed, extensions) << c.name;
    EXPECT_EQ(model.extensionsRequired, extensions) << c.name;
    const std::vector<double> scale =
        floats ? std::vector<double>{} : std::vector<double>{0.125, 0.125, 0.25};
    EXPECT_EQ(model.nodes[0].scale, scale) << c.name;
    const double step[3] = {floats ? 1 : 0.125, floats ? 1 : 0.125, floats ? 1 : 0.25};
    const int component = floats ? TINYGLTF_COMPONENT_TYPE_FLOAT : TINYGLTF_COMPONENT_TYPE_SHORT;

    const std::vector<uint32_t> expected_indices = in_range_indices(*read_bytes(dir / "data00.3d"));
    if (expected_indices.empty()) {
      EXPECT_EQ(primitive.mode, TINYGLTF_MODE_POINTS) << c.name;
      EXPECT_EQ(primitive.indices, -1) << c.name;
    } else {
      EXPECT_EQ(primitive.mode, TINYGLTF_MODE_TRIANGLES) << c.name;
      const std::vector<double> indices = accessor_values(model, primitive.indices);
      EXPECT_EQ(std::vector<uint32_t>(indices.begin(), indices.end()), expected_indices) << c.name;
    }

    // Every position accessor: of the encoding, its min and max those of its values.
    const std::vector<std::vector<double>> frames = decoded_frames(*read_bytes(dir / "aniv00.3d"));
    const std::vector<uint32_t> written = frames_of(c, static_cast<uint32_t>(frames.size()));
    const size_t target_count = written.size() - 1;
    ASSERT_EQ(primitive.targets.size(), target_count) << c.name;
    const int base_index = primitive.attributes.at("POSITION");
    const std::vector<double> base = accessor_values(model, base_index);
    expect_min_max(model.accessors[base_index], base, std::string(c.name) + " base");
    EXPECT_EQ(model.accessors[base_index].componentType, component) << c.name;
    std::vector<std::vector<double>> targets;
    for (const auto& target : primitive.targets) {
      const int index = target.at("POSITION");
      targets.push_back(accessor_values(model, index));
      expect_min_max(model.accessors[index], targets.back(), std::string(c.name) + " target");
      EXPECT_EQ(model.accessors[index].componentType, component) << c.name;
    }
    const auto played_at = [&](const std::vector<double>& weights, size_t k) {
      std::vector<double> positions = base;
      for (size_t t = 0; t < target_count; ++t) {
        for (size_t i = 0; i < positions.size(); ++i)
          positions[i] += weights[k * target_count + t] * targets[t][i];
      }
      for (size_t i = 0; i < positions.size(); ++i) positions[i] *= step[i % 3];
      return positions;
    };
    if (target_count == 0) {
      EXPECT_TRUE(model.animations.empty()) << c.name;
      EXPECT_EQ(played_at({}, 0), frames[written[0]]) << c.name;
      continue;
    }
    const tinygltf::Value& names = model.meshes[0].extras.Get("targetNames");
    ASSERT_EQ(names.ArrayLen(), target_count) << c.name;
    for (size_t t = 0; t < target_count; ++t) {
      char name[16];
      std::snprintf(name, sizeof name, "frame%03u", written[t + 1]);
      EXPECT_EQ(names.Get(int(t)).Get<std::string>(), name) << c.name;
    }

    // Each animation's keyframe k: its frame first + k, every position
    // exactly the engine's.
    ASSERT_EQ(model.animations.size(), c.played.size()) << c.name;
    for (size_t a = 0; a < c.played.size(); ++a) {
      const tinygltf::Animation& animation = model.animations[a];
      const Played& played = c.played[a];
      EXPECT_EQ(animation.name, played.name) << c.name;
      ASSERT_EQ(animation.channels.size(), 1u) << c.name;
      EXPECT_EQ(animation.channels[0].target_path, "weights");
      const tinygltf::AnimationSampler& sampler = animation.samplers.at(animation.channels[0].sampler);
      EXPECT_EQ(sampler.interpolation, "STEP");
      const std::vector<double> times = accessor_values(model, sampler.input);
      const std::vector<double> weights = accessor_values(model, sampler.output);
      const size_t keyframe_count = played.last - played.first + 1;
      ASSERT_EQ(times.size(), keyframe_count) << c.name;
      ASSERT_EQ(weights.size(), keyframe_count * target_count) << c.name;
      EXPECT_EQ(model.accessors[sampler.input].minValues, std::vector<double>{0}) << c.name;
      EXPECT_EQ(model.accessors[sampler.input].maxValues, std::vector<double>{times.back()}) << c.name;
      for (size_t k = 0; k < keyframe_count; ++k) {
        EXPECT_EQ(times[k], static_cast<float>(k / c.fps)) << c.name << " keyframe " << k;
        ASSERT_EQ(played_at(weights, k), frames[played.first + k])
            << c.name << " " << played.name << " keyframe " << k;
      }
    }
  }
}

// How a file stores its targets: of 62 vertices, 8 moving as sparse
// accessors, every one moving as dense ones, none moving as no data; the
// weights of 1,000 keyframes as one 1 in each but the first.
TEST(Gltf, TargetsAndWeightsStoreWhatIsNotZero) {
  struct Stored {
    const char* name;
    void (*make)(const TempDir&);
    std::vector<std::string> args;
    std::vector<int> target_sparse_counts;  // -1 dense, 0 no data
    int weights_sparse_count;               // -1 dense
  };
  const Stored cases[] = {
      {"frames with no motion", still_frames, {}, {8, 0, 8, 8, 0, 8, 8, 0}, 8},
      {"frames with no motion in floats", still_frames, {"--float"}, {8, 0, 8, 8, 0, 8, 8, 0}, 8},
      {"every vertex moves", every_vertex_moves, {}, {-1, -1, -1, -1, -1}, 5},
      {"1,000 frames of one vertex",
       a_thousand_frames,
       {"--frames", "0-999"},
       std::vector<int>(999, -1),
       999},
      {"two frames", every_vertex_moves, {"--frames", "0-1"}, {-1}, -1},
  };
  for (const Stored& c : cases) {
    TempDir dir;
    c.make(dir);
    std::vector<std::string> args = {"gltf", "--out", "out.glb"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ASSERT_EQ(run_program(kInspect, dir.path, args).exit_status, 0) << c.name;
    tinygltf::Model model;
    tinygltf::TinyGLTF loader;
    std::string err, warn;
    ASSERT_TRUE(loader.LoadBinaryFromFile(&model, &err, &warn, (dir / "out.glb").string())) << c.name << err;
    const auto stored = [&](int index) {
      const tinygltf::Accessor& accessor = model.accessors.at(index);
      if (accessor.sparse.isSparse) {
        EXPECT_EQ(accessor.bufferView, -1) << c.name;
        return accessor.sparse.count;
      }
      return accessor.bufferView < 0 ? 0 : -1;
    };
    std::vector<int> targets;
    for (const auto& target : model.meshes.at(0).primitives.at(0).targets)
      targets.push_back(stored(target.at("POSITION")));
    EXPECT_EQ(targets, c.target_sparse_counts) << c.name;
    EXPECT_EQ(stored(model.animations.at(0).samplers.at(0).output), c.weights_sparse_count) << c.name;
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

TEST(Gltf, RangesRatesAndClipsItCannotWriteExitWithTwo) {
  TempDir dir;
  seven_frames(dir);
  TempDir many;
  write_one_vertex_files(many, 1001);
  TempDir clips;
  clip_set(clips);
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
      {{"--float", "--float"}, "inspect3d: gltf takes --float once\n"},
      {{"--clip"}, "inspect3d: --clip needs the name of a clip of clips.json\n"},
      {{"--clip", "walk"}, "inspect3d: --clip walk: there is no clips.json here\nusage:"},
      {{"--out", "no-such-dir/out.glb"},
       "inspect3d: cannot write no-such-dir/out.glb: its folder is missing or cannot be written in\n"},
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
  const GltfUsageCase clip_cases[] = {
      {{"--clip", "swim"}, "inspect3d: --clip swim: clips.json names no such clip\nusage:"},
      {{"--clip", "walk", "--frames", "0-3"}, "inspect3d: gltf takes --frames or --clip, not both\nusage:"},
  };
  for (const GltfUsageCase& c : clip_cases) {
    std::vector<std::string> args = {"gltf"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CapturedRun run = run_program(kInspect, clips.path, args);
    EXPECT_EQ(run.exit_status, 2) << args.back();
    EXPECT_EQ(run.err.substr(0, c.err_start.size()), c.err_start) << args.back();
  }
  EXPECT_FALSE(std::filesystem::exists(clips / "aniv00.glb"));

  const CapturedRun help = run_program(kInspect, dir.path, {"gltf", "--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_NE(help.out.find("\n       inspect3d gltf [--out FILE] [--fps N] [--frames FIRST-LAST | --clip "
                          "NAME] [--float] [--json]\n"),
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

// The limit counts the frames of the clips written, not the file's.
TEST(Gltf, TheFrameLimitCountsTheClipsWritten) {
  TempDir dir;
  write_one_vertex_files(dir, 1200);
  const auto with_clips = [&](uint32_t second_count) {
    write_bytes(dir / "clips.json", R"({"clips": [{"name": "a", "first_frame": 0, "frame_count": 500},)"
                                    R"({"name": "b", "first_frame": 600, "frame_count": )" +
                                        std::to_string(second_count) + "}]}");
  };
  with_clips(500);
  const CapturedRun fits = run_program(kInspect, dir.path, {"gltf"});
  EXPECT_EQ(fits.exit_status, 0) << fits.err;
  EXPECT_EQ(fits.out,
            "wrote aniv00.glb: 2 clips, 1000 frames of 1 vertex, 0 triangles, 30 frames a second\n"
            "  a: frames 0 to 499\n"
            "  b: frames 600 to 1099\n");
  std::filesystem::remove(dir / "aniv00.glb");
  with_clips(501);
  const CapturedRun over = run_program(kInspect, dir.path, {"gltf"});
  EXPECT_EQ(over.exit_status, 2);
  EXPECT_EQ(
      over.err,
      "inspect3d: 1001 frames are more than one glTF file holds (1000): choose one with --clip NAME, or "
      "frames with --frames FIRST-LAST\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "aniv00.glb"));
  const CapturedRun one = run_program(kInspect, dir.path, {"gltf", "--clip", "b"});
  EXPECT_EQ(one.exit_status, 0) << one.err;
  EXPECT_EQ(one.out,
            "wrote aniv00.glb: 1 clip, 501 frames of 1 vertex, 0 triangles, 30 frames a second\n"
            "  b: frames 600 to 1100\n");
}

// A clips.json that does not agree with the file is said, and the frames
// written as the one take, exit status 1; --clip then has nothing to choose.
TEST(Gltf, AClipSetThatDisagreesIsSaidAndLeftOut) {
  TempDir dir;
  seven_frames(dir);
  write_bytes(dir / "clips.json", R"({"clips": [{"name": "a", "first_frame": 0, "frame_count": 4},)"
                                  R"({"name": "b", "first_frame": 3, "frame_count": 4}]})");
  const CapturedRun run = run_program(kInspect, dir.path, {"gltf", "--json"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(
      run.err,
      "inspect3d: clips.json not used: clip 'b' begins at frame 3, within clip 'a' (frames 0 to 3); the "
      "frames are written as one animation, frames\n");
  const nlohmann::json said = nlohmann::json::parse(run.out, nullptr, false);
  ASSERT_TRUE(said.is_object()) << run.out;
  EXPECT_EQ(said["animations"],
            nlohmann::json::parse(R"([{"name": "frames", "first_frame": 0, "last_frame": 6,
                                                          "frame_count": 7}])"));
  EXPECT_EQ(said["clips_json_unused"], "clip 'b' begins at frame 3, within clip 'a' (frames 0 to 3)");
  EXPECT_EQ(said["bytes"], read_bytes(dir / "aniv00.glb")->size());
  EXPECT_EQ(said["file"], "aniv00.glb");
  EXPECT_EQ(said["encoding"], "KHR_mesh_quantization");
  EXPECT_EQ(said["frames"], 7);
  EXPECT_EQ(said["vertices"], 5);
  EXPECT_EQ(said["triangles"], 3);

  const CapturedRun clip = run_program(kInspect, dir.path, {"gltf", "--clip", "a", "--out", "a.glb"});
  EXPECT_EQ(clip.exit_status, 2);
  EXPECT_EQ(clip.err.substr(0, 112),
            "inspect3d: clips.json not used: clip 'b' begins at frame 3, within clip 'a' (frames 0 to 3)\n"
            "inspect3d: --clip a:");
  EXPECT_FALSE(std::filesystem::exists(dir / "a.glb"));
}

TEST(Gltf, TheJsonSummaryNamesEachClipAndTheEncoding) {
  TempDir dir;
  clip_set(dir);
  const CapturedRun run = run_program(kInspect, dir.path, {"gltf", "--json", "--float", "--out", "set.glb"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const nlohmann::json said = nlohmann::json::parse(run.out, nullptr, false);
  ASSERT_TRUE(said.is_object()) << run.out;
  EXPECT_EQ(said["file"], "set.glb");
  EXPECT_EQ(said["bytes"], read_bytes(dir / "set.glb")->size());
  EXPECT_EQ(said["encoding"], "float");
  EXPECT_EQ(said["fps"], 30.0);
  EXPECT_EQ(said["frames"], 31);
  EXPECT_EQ(said["clips_json_unused"], nullptr);
  EXPECT_EQ(said["animations"], nlohmann::json::parse(R"([
      {"name": "walk", "first_frame": 0, "last_frame": 9, "frame_count": 10},
      {"name": "jump", "first_frame": 12, "last_frame": 12, "frame_count": 1},
      {"name": "run \"fast\"", "first_frame": 20, "last_frame": 39, "frame_count": 20}])"));
}

// clips.json's rules, in memory, against a file of 50 frames.
TEST(ClipSet, AgreesOnlyWithClipsNamedInOrderWithinTheFile) {
  const auto list = [](const std::string& clips) { return "{\"clips\": [" + clips + "]}"; };
  const std::string a = R"({"name": "a", "first_frame": 0, "frame_count": 10})";
  // (the text, why it does not agree: "" when it does)
  const std::vector<std::pair<std::string, std::string>> cases = {
      {list(a + R"(, {"name": "b", "first_frame": 10, "frame_count": 40, "files": []})"), ""},
      {list(R"({"name": "a", "first_frame": 49, "frame_count": 1})"), ""},
      {"{", "it is not JSON"},
      {"[]", "it holds no list \"clips\""},
      {R"({"clip": []})", "it holds no list \"clips\""},
      {R"({"clips": {}})", "\"clips\" is not a list"},
      {list(""), "it lists no clip"},
      {list("3"), "clip 1 is not an object"},
      {list(a + R"(, {"first_frame": 10, "frame_count": 1})"), "clip 2 has no name"},
      {list(R"({"name": "", "first_frame": 0, "frame_count": 1})"), "clip 1 has no name"},
      {list(R"({"name": 7, "first_frame": 0, "frame_count": 1})"), "clip 1 has no name"},
      {list(R"({"name": "a", "first_frame": -1, "frame_count": 1})"),
       "clip 'a' has no first_frame from 0 to 65535"},
      {list(R"({"name": "a", "first_frame": 1.5, "frame_count": 1})"),
       "clip 'a' has no first_frame from 0 to 65535"},
      {list(R"({"name": "a", "first_frame": "1", "frame_count": 1})"),
       "clip 'a' has no first_frame from 0 to 65535"},
      {list(R"({"name": "a", "first_frame": 65536, "frame_count": 1})"),
       "clip 'a' has no first_frame from 0 to 65535"},
      {list(R"({"name": "a", "frame_count": 1})"), "clip 'a' has no first_frame from 0 to 65535"},
      {list(R"({"name": "a", "first_frame": 0, "frame_count": 0})"),
       "clip 'a' has no frame_count from 1 to 65535"},
      {list(R"({"name": "a", "first_frame": 0})"), "clip 'a' has no frame_count from 1 to 65535"},
      {list(a + ", " + a), "two clips are named 'a'"},
      {list(R"({"name": "a", "first_frame": 41, "frame_count": 10})"),
       "clip 'a' (frames 41 to 50) ends beyond frame 49, the last of aniv00.3d"},
      {list(R"({"name": "a", "first_frame": 50, "frame_count": 1})"),
       "clip 'a' (frame 50) ends beyond frame 49, the last of aniv00.3d"},
      {list(R"({"name": "b", "first_frame": 20, "frame_count": 5}, )" + a),
       "clip 'a' begins at frame 0, before clip 'b' listed ahead of it"},
      {list(a + R"(, {"name": "b", "first_frame": 9, "frame_count": 5})"),
       "clip 'b' begins at frame 9, within clip 'a' (frames 0 to 9)"},
  };
  for (const auto& [json, why] : cases) {
    std::vector<Clip> clips;
    EXPECT_EQ(clips_of_json(json, 50, clips), why) << json;
    EXPECT_EQ(clips.empty(), !why.empty()) << json;
  }
  std::vector<Clip> clips;
  ASSERT_EQ(clips_of_json(cases[0].first, 50, clips), "");
  ASSERT_EQ(clips.size(), 2u);
  EXPECT_EQ(clips[1].name, "b");
  EXPECT_EQ(clips[1].first_frame, 10u);
  EXPECT_EQ(clips[1].frame_count, 40u);
}

}  // namespace
