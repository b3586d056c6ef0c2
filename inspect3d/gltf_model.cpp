#include "gltf_model.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <vector>

#include "le.h"
#include "tinygltf.h"

namespace {

constexpr int kArrayBuffer = 34962, kElementArrayBuffer = 34963;

// Appends `bytes` bytes at `data` to the one buffer, 4-byte aligned as every
// accessor of floats needs, as a view of their own. Returns the view's index.
int add_view(tinygltf::Model& model, const void* data, size_t bytes, int target) {
  std::vector<unsigned char>& buffer = model.buffers[0].data;
  buffer.resize((buffer.size() + 3) / 4 * 4);
  tinygltf::BufferView view;
  view.buffer = 0;
  view.byteOffset = buffer.size();
  view.byteLength = bytes;
  view.target = target;
  const unsigned char* from = static_cast<const unsigned char*>(data);
  buffer.insert(buffer.end(), from, from + bytes);
  model.bufferViews.push_back(view);
  return static_cast<int>(model.bufferViews.size() - 1);
}

int add_accessor(tinygltf::Model& model, tinygltf::Accessor accessor) {
  model.accessors.push_back(std::move(accessor));
  return static_cast<int>(model.accessors.size() - 1);
}

// The triangles' corners, unsigned 16-bit (a frame has at most 16,383
// vertices).
int add_index_accessor(tinygltf::Model& model, const std::vector<Triangle>& triangles) {
  std::vector<uint16_t> indices;
  for (const Triangle& triangle : triangles) indices.insert(indices.end(), triangle.begin(), triangle.end());
  tinygltf::Accessor accessor;
  accessor.bufferView =
      add_view(model, indices.data(), indices.size() * sizeof(uint16_t), kElementArrayBuffer);
  accessor.componentType = TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT;
  accessor.type = TINYGLTF_TYPE_SCALAR;
  accessor.count = indices.size();
  return add_accessor(model, std::move(accessor));
}

// An accessor of `values`, floats in elements of `type` (TINYGLTF_TYPE_*)
// of `components` each, in a view of its own for `target`; the caller adds
// min and max where glTF requires them.
tinygltf::Accessor float_accessor(tinygltf::Model& model, const std::vector<float>& values, int type,
                                  size_t components, int target) {
  tinygltf::Accessor accessor;
  accessor.bufferView = add_view(model, values.data(), values.size() * sizeof(float), target);
  accessor.componentType = TINYGLTF_COMPONENT_TYPE_FLOAT;
  accessor.type = type;
  accessor.count = values.size() / components;
  return accessor;
}

// Three floats a vertex, with min and max per axis of the values written.
int add_position_accessor(tinygltf::Model& model, const std::vector<float>& positions) {
  tinygltf::Accessor accessor = float_accessor(model, positions, TINYGLTF_TYPE_VEC3, 3, kArrayBuffer);
  accessor.minValues.assign(3, 0);
  accessor.maxValues.assign(3, 0);
  for (int axis = 0; axis < 3; ++axis) {
    float low = positions[axis], high = positions[axis];
    for (size_t i = axis; i < positions.size(); i += 3) {
      low = std::min(low, positions[i]);
      high = std::max(high, positions[i]);
    }
    accessor.minValues[axis] = low;
    accessor.maxValues[axis] = high;
  }
  return add_accessor(model, std::move(accessor));
}

// The keyframe times, in seconds, with their min and max (animation inputs
// must have them).
int add_time_accessor(tinygltf::Model& model, const std::vector<float>& times) {
  tinygltf::Accessor accessor = float_accessor(model, times, TINYGLTF_TYPE_SCALAR, 1, -1);
  accessor.minValues = {*std::min_element(times.begin(), times.end())};
  accessor.maxValues = {*std::max_element(times.begin(), times.end())};
  return add_accessor(model, std::move(accessor));
}

// The weights of every keyframe, target after target.
int add_weight_accessor(tinygltf::Model& model, const std::vector<float>& weights) {
  return add_accessor(model, float_accessor(model, weights, TINYGLTF_TYPE_SCALAR, 1, -1));
}

// Frame `frame` as three floats a vertex, read from the file.
Failure frame_floats(const Animation& animation, uint32_t frame, std::vector<float>& positions) {
  std::vector<Position> decoded;
  positions.clear();
  if (Failure read = frame_positions(animation, frame, decoded)) return read;
  positions.reserve(decoded.size() * 3);
  for (const Position& p : decoded) {
    // A whole number of eighths within +-128: exact as a float.
    positions.insert(positions.end(),
                     {static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)});
  }
  return {};
}

std::string target_name(uint32_t frame) {
  char name[16];
  std::snprintf(name, sizeof name, "frame%03u", frame);
  return name;
}

// The animation "frames": keyframe k at k / fps seconds shows target k - 1
// alone; keyframe 0, the base, no target.
void add_frames_animation(tinygltf::Model& model, uint32_t frame_count, double fps) {
  const uint32_t target_count = frame_count - 1;
  std::vector<float> times(frame_count), weights(size_t{frame_count} * target_count, 0.0f);
  for (uint32_t k = 0; k < frame_count; ++k) {
    times[k] = static_cast<float>(k / fps);
    if (k > 0) weights[size_t{k} * target_count + (k - 1)] = 1.0f;
  }
  tinygltf::AnimationSampler sampler;
  sampler.input = add_time_accessor(model, times);
  sampler.output = add_weight_accessor(model, weights);
  sampler.interpolation = "STEP";
  tinygltf::AnimationChannel channel;
  channel.sampler = 0;
  channel.target_node = 0;
  channel.target_path = "weights";
  tinygltf::Animation animation;
  animation.name = "frames";
  animation.samplers.push_back(sampler);
  animation.channels.push_back(channel);
  model.animations.push_back(animation);
}

}  // namespace

// Splits the file tinygltf writes of `model`, whose buffer has been moved
// out into `bin`, into the pieces of `glb`: the buffer's byteLength set to
// the size of `bin` in the JSON, the chunk lengths to match. tinygltf would
// copy the buffer twice more on its way to the file.
static bool split_glb(const std::string& without_bin, std::vector<unsigned char>&& bin, Glb& glb) {
  constexpr size_t kHeaderBytes = 12, kChunkHeaderBytes = 8;
  uint32_t json_chunk_bytes = 0;
  if (!get_u32(reinterpret_cast<const uint8_t*>(without_bin.data()), without_bin.size(), kHeaderBytes,
               json_chunk_bytes)) {
    return false;
  }
  std::string json = without_bin.substr(kHeaderBytes + kChunkHeaderBytes, json_chunk_bytes);
  json.erase(json.find_last_not_of(' ') + 1);  // the chunk's padding
  const std::string empty = "\"buffers\":[{\"byteLength\":0}]";
  const size_t at = json.find(empty);
  if (at == std::string::npos || json.find(empty, at + 1) != std::string::npos) return false;
  json.replace(at, empty.size(), "\"buffers\":[{\"byteLength\":" + std::to_string(bin.size()) + "}]");
  json.resize((json.size() + 3) / 4 * 4, ' ');
  const size_t bin_bytes = bin.size();
  bin.resize((bin_bytes + 3) / 4 * 4, 0);
  const bool has_bin = bin_bytes > 0;
  const uint64_t total =
      kHeaderBytes + kChunkHeaderBytes + json.size() + (has_bin ? kChunkHeaderBytes + bin.size() : 0);
  if (total > UINT32_MAX) return false;
  uint8_t header[kHeaderBytes + kChunkHeaderBytes];
  put_u32(put_u32(put_u32(put_u32(put_u32(header, 0x46546C67), 2), static_cast<uint32_t>(total)),
                  static_cast<uint32_t>(json.size())),
          0x4E4F534A);  // "glTF", version 2, length; the JSON chunk's length and "JSON"
  glb.head.assign(reinterpret_cast<const char*>(header), sizeof header);
  glb.head += json;
  if (has_bin) {
    uint8_t chunk[kChunkHeaderBytes];
    put_u32(put_u32(chunk, static_cast<uint32_t>(bin.size())), 0x004E4942);  // "BIN\0"
    glb.head.append(reinterpret_cast<const char*>(chunk), sizeof chunk);
  }
  glb.bin = std::move(bin);
  return true;
}

std::string glb_bytes(const Glb& glb) { return glb.head + std::string(glb.bin.begin(), glb.bin.end()); }

Failure make_glb(const Animation& animation, const Mesh& mesh, const GltfRange& range, Glb& glb,
                 uint32_t& left_out_count) {
  tinygltf::Model model;
  model.asset.version = "2.0";
  model.asset.generator = "inspect3d";
  model.buffers.resize(1);

  tinygltf::Primitive primitive;
  const std::vector<Triangle> triangles = triangles_in_range(mesh, animation.vertex_count, left_out_count);
  if (triangles.empty()) {
    primitive.mode = TINYGLTF_MODE_POINTS;  // nothing to fill: the vertices alone
  } else {
    primitive.mode = TINYGLTF_MODE_TRIANGLES;
    primitive.indices = add_index_accessor(model, triangles);
  }
  std::vector<float> base, displacements;
  if (Failure read = frame_floats(animation, range.first, base)) return read;
  primitive.attributes["POSITION"] = add_position_accessor(model, base);

  tinygltf::Mesh gltf_mesh;
  gltf_mesh.name = "aniv00";
  tinygltf::Value::Array names;
  for (uint32_t frame = range.first + 1; frame <= range.last; ++frame) {
    if (Failure read = frame_floats(animation, frame, displacements)) return read;
    for (size_t i = 0; i < displacements.size(); ++i) displacements[i] -= base[i];
    primitive.targets.push_back({{"POSITION", add_position_accessor(model, displacements)}});
    names.emplace_back(target_name(frame));
    gltf_mesh.weights.push_back(0);
  }
  gltf_mesh.primitives.push_back(primitive);
  if (!names.empty()) {
    tinygltf::Value::Object extras;
    extras["targetNames"] = tinygltf::Value(std::move(names));
    gltf_mesh.extras = tinygltf::Value(std::move(extras));
  }
  model.meshes.push_back(gltf_mesh);

  tinygltf::Node node;
  node.mesh = 0;
  node.name = "aniv00";
  model.nodes.push_back(node);
  tinygltf::Scene scene;
  scene.nodes.push_back(0);
  model.scenes.push_back(scene);
  model.defaultScene = 0;

  if (range.last > range.first) add_frames_animation(model, range.last - range.first + 1, range.fps);

  std::vector<unsigned char> bin = std::move(model.buffers[0].data);
  model.buffers[0].data.clear();
  std::ostringstream out;
  tinygltf::TinyGLTF writer;
  if (!writer.WriteGltfSceneToStream(&model, out, false, true) ||
      !split_glb(std::move(out).str(), std::move(bin), glb)) {
    return failure();  // the library's: nothing the user can be told of
  }
  return {};
}
