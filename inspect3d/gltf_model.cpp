#include "gltf_model.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include "le.h"
#include "tinygltf.h"

namespace {

constexpr int kArrayBuffer = 34962, kElementArrayBuffer = 34963;
constexpr char kQuantization[] = "KHR_mesh_quantization";

// note: about what a sparse accessor's "sparse" object adds to the JSON; it
// tips the choice only where the binary sizes are near (every vertex moving).
constexpr size_t kSparseJsonBytes = 100;

// The buffer views, one per kind of data; every accessor of the kind lies in
// its kind's view at an offset of its own.
enum Lane {
  kIndexLane,              // the triangles' corners
  kPositionLane,           // dense positions: the base, and targets stored whole
  kDisplacementIndexLane,  // sparse targets: the vertices that move
  kDisplacementLane,       // sparse targets: their displacements
  kTimeLane,               // the keyframe times of the longest animation
  kWeightLane,             // dense weights
  kWeightIndexLane,        // sparse weights: where the 1s are
  kOneLane,                // sparse weights: 1s, as many as the most any animation needs
  kLaneCount
};

class Views {
 public:
  Views(tinygltf::Model& model, int position_stride) : model_(model), position_stride_(position_stride) {}

  // The view of `lane`, made at its first use.
  int view(Lane lane) {
    if (view_[lane] < 0) {
      tinygltf::BufferView view;
      view.buffer = 0;
      if (lane == kIndexLane) view.target = kElementArrayBuffer;
      if (lane == kPositionLane) {
        view.target = kArrayBuffer;
        // Several vertex accessors share it; the stride keeps each SHORT
        // element on a 4-byte boundary.
        view.byteStride = position_stride_;
      }
      model_.bufferViews.push_back(view);
      view_[lane] = static_cast<int>(model_.bufferViews.size() - 1);
    }
    return view_[lane];
  }

  // Appends `bytes` bytes at `data` to `lane` at an offset aligned to
  // `align`; returns the offset.
  size_t append(Lane lane, const void* data, size_t bytes, size_t align) {
    view(lane);
    std::vector<unsigned char>& to = bytes_[lane];
    to.resize((to.size() + align - 1) / align * align);
    const size_t offset = to.size();
    const unsigned char* from = static_cast<const unsigned char*>(data);
    to.insert(to.end(), from, from + bytes);
    return offset;
  }

  size_t size(Lane lane) const { return bytes_[lane].size(); }

  // Lays the views out in the one buffer, each 4-byte aligned, in the order
  // they were made.
  void place() {
    std::vector<unsigned char>& buffer = model_.buffers[0].data;
    size_t total = buffer.size();  // once, rather than copied again at each growth
    for (int lane = 0; lane < kLaneCount; ++lane) {
      if (view_[lane] >= 0) total = (total + 3) / 4 * 4 + bytes_[lane].size();
    }
    buffer.reserve(total);
    for (int lane = 0; lane < kLaneCount; ++lane) {
      if (view_[lane] < 0) continue;
      tinygltf::BufferView& view = model_.bufferViews[view_[lane]];
      buffer.resize((buffer.size() + 3) / 4 * 4);
      view.byteOffset = buffer.size();
      view.byteLength = bytes_[lane].size();
      buffer.insert(buffer.end(), bytes_[lane].begin(), bytes_[lane].end());
    }
  }

 private:
  tinygltf::Model& model_;
  int position_stride_;
  int view_[kLaneCount] = {-1, -1, -1, -1, -1, -1, -1, -1};
  std::vector<unsigned char> bytes_[kLaneCount];
};

int add_accessor(tinygltf::Model& model, tinygltf::Accessor accessor) {
  model.accessors.push_back(std::move(accessor));
  return static_cast<int>(model.accessors.size() - 1);
}

// The smallest unsigned component type that holds `largest`, and its bytes.
void index_type(uint64_t largest, int& component_type, size_t& bytes) {
  if (largest <= 0xFF) {
    component_type = TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE;
    bytes = 1;
  } else if (largest <= 0xFFFF) {
    component_type = TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT;
    bytes = 2;
  } else {
    component_type = TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
    bytes = 4;
  }
}

// Appends `indices` (ascending, each below 2^32) to `lane` as `bytes`-byte
// integers; returns the offset.
size_t append_indices(Views& views, Lane lane, const std::vector<uint32_t>& indices, size_t bytes) {
  std::vector<unsigned char> packed(indices.size() * bytes);
  for (size_t i = 0; i < indices.size(); ++i) {
    for (size_t b = 0; b < bytes; ++b)
      packed[i * bytes + b] = static_cast<unsigned char>(indices[i] >> (8 * b));
  }
  return views.append(lane, packed.data(), packed.size(), bytes);
}

// Makes `accessor` sparse over `indices` (ascending), stored in `lane` as
// `index_bytes`-byte integers of `index_component`; its values are the
// caller's to place.
void make_sparse(Views& views, Lane lane, const std::vector<uint32_t>& indices, int index_component,
                 size_t index_bytes, tinygltf::Accessor& accessor) {
  accessor.sparse.isSparse = true;
  accessor.sparse.count = static_cast<int>(indices.size());
  accessor.sparse.indices.bufferView = views.view(lane);
  accessor.sparse.indices.byteOffset = static_cast<int>(append_indices(views, lane, indices, index_bytes));
  accessor.sparse.indices.componentType = index_component;
}

// The triangles' corners, unsigned 16-bit (a frame has at most 16,383
// vertices).
int add_index_accessor(tinygltf::Model& model, Views& views, const std::vector<Triangle>& triangles) {
  std::vector<uint16_t> indices;
  for (const Triangle& triangle : triangles) indices.insert(indices.end(), triangle.begin(), triangle.end());
  tinygltf::Accessor accessor;
  accessor.bufferView = views.view(kIndexLane);
  accessor.byteOffset = views.append(kIndexLane, indices.data(), indices.size() * sizeof(uint16_t), 2);
  accessor.componentType = TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT;
  accessor.type = TINYGLTF_TYPE_SCALAR;
  accessor.count = indices.size();
  return add_accessor(model, std::move(accessor));
}

// Positions and displacements as the packed fields hold them: whole numbers
// of steps (eighths in x and y, quarters in z), three a vertex.
using Steps = std::vector<int32_t>;

// One vertex's three values as the encoding stores them: SHORT steps, or
// FLOAT model units (a whole number of eighths within +-256: exact).
struct Encoded {
  GltfEncoding encoding;

  size_t element_bytes() const { return encoding == GltfEncoding::kQuantized ? 6 : 12; }
  int component_type() const {
    return encoding == GltfEncoding::kQuantized ? TINYGLTF_COMPONENT_TYPE_SHORT
                                                : TINYGLTF_COMPONENT_TYPE_FLOAT;
  }
  // What the accessor holds of `steps` on `axis`, for min and max.
  double value(int32_t steps, int axis) const {
    return encoding == GltfEncoding::kQuantized ? steps : steps / kPackedFields[axis].scale;
  }
  // Appends vertex `vertex` of `steps`, then `padding` zero bytes.
  void append(std::vector<unsigned char>& to, const Steps& steps, size_t vertex, size_t padding) const {
    for (int axis = 0; axis < 3; ++axis) {
      const int32_t s = steps[vertex * 3 + axis];
      unsigned char bytes[4];
      if (encoding == GltfEncoding::kQuantized) {
        const int16_t value = static_cast<int16_t>(s);  // within +-2047: the difference of two fields
        std::memcpy(bytes, &value, 2);
        to.insert(to.end(), bytes, bytes + 2);
      } else {
        const float value = static_cast<float>(s / kPackedFields[axis].scale);
        std::memcpy(bytes, &value, 4);
        to.insert(to.end(), bytes, bytes + 4);
      }
    }
    to.insert(to.end(), padding, 0);
  }
};

// An accessor of three values a vertex of `steps`, with min and max per axis
// of the values it holds; no data yet.
tinygltf::Accessor vertex_accessor(const Encoded& encoded, const Steps& steps) {
  tinygltf::Accessor accessor;
  accessor.componentType = encoded.component_type();
  accessor.type = TINYGLTF_TYPE_VEC3;
  accessor.count = steps.size() / 3;
  accessor.minValues.assign(3, 0);
  accessor.maxValues.assign(3, 0);
  for (int axis = 0; axis < 3; ++axis) {
    int32_t low = steps[axis], high = steps[axis];
    for (size_t i = axis; i < steps.size(); i += 3) {
      low = std::min(low, steps[i]);
      high = std::max(high, steps[i]);
    }
    accessor.minValues[axis] = encoded.value(low, axis);
    accessor.maxValues[axis] = encoded.value(high, axis);
  }
  return accessor;
}

// Places the whole of `steps` in the view of dense positions.
void place_dense(Views& views, const Encoded& encoded, const Steps& steps, tinygltf::Accessor& accessor) {
  const size_t stride = encoded.encoding == GltfEncoding::kQuantized ? 8 : 12;
  std::vector<unsigned char> bytes;
  bytes.reserve(steps.size() / 3 * stride);
  for (size_t vertex = 0; vertex < steps.size() / 3; ++vertex) {
    encoded.append(bytes, steps, vertex, stride - encoded.element_bytes());
  }
  accessor.bufferView = views.view(kPositionLane);
  accessor.byteOffset = views.append(kPositionLane, bytes.data(), bytes.size(), stride);
}

// The base positions, every vertex stored.
int add_position_accessor(tinygltf::Model& model, Views& views, const Encoded& encoded, const Steps& steps) {
  tinygltf::Accessor accessor = vertex_accessor(encoded, steps);
  place_dense(views, encoded, steps, accessor);
  return add_accessor(model, std::move(accessor));
}

// A target's displacements: none stored where none moves, the vertices that
// move as a sparse accessor where that is smaller, else every vertex.
int add_target_accessor(tinygltf::Model& model, Views& views, const Encoded& encoded, const Steps& steps) {
  tinygltf::Accessor accessor = vertex_accessor(encoded, steps);
  const size_t vertex_count = steps.size() / 3;
  std::vector<uint32_t> moving;
  for (size_t vertex = 0; vertex < vertex_count; ++vertex) {
    if (steps[vertex * 3] != 0 || steps[vertex * 3 + 1] != 0 || steps[vertex * 3 + 2] != 0) {
      moving.push_back(static_cast<uint32_t>(vertex));
    }
  }
  if (moving.empty()) return add_accessor(model, std::move(accessor));  // no view: all zeros
  int index_component = 0;
  size_t index_bytes = 0;
  index_type(vertex_count - 1, index_component, index_bytes);
  const size_t dense_bytes = vertex_count * (encoded.encoding == GltfEncoding::kQuantized ? 8 : 12);
  const size_t sparse_bytes = moving.size() * (index_bytes + encoded.element_bytes()) + kSparseJsonBytes;
  if (sparse_bytes >= dense_bytes) {
    place_dense(views, encoded, steps, accessor);
    return add_accessor(model, std::move(accessor));
  }
  std::vector<unsigned char> values;
  for (const uint32_t vertex : moving) encoded.append(values, steps, vertex, 0);
  make_sparse(views, kDisplacementIndexLane, moving, index_component, index_bytes, accessor);
  accessor.sparse.values.bufferView = views.view(kDisplacementLane);
  accessor.sparse.values.byteOffset = static_cast<int>(
      views.append(kDisplacementLane, values.data(), values.size(), encoded.element_bytes() == 6 ? 2 : 4));
  return add_accessor(model, std::move(accessor));
}

// The first `count` keyframe times of the time view (which holds those of
// the longest animation), with their min and max (animation inputs must
// have them).
int add_time_accessor(tinygltf::Model& model, Views& views, const std::vector<float>& times, uint32_t count) {
  tinygltf::Accessor accessor;
  accessor.bufferView = views.view(kTimeLane);
  accessor.componentType = TINYGLTF_COMPONENT_TYPE_FLOAT;
  accessor.type = TINYGLTF_TYPE_SCALAR;
  accessor.count = count;
  accessor.minValues = {*std::min_element(times.begin(), times.begin() + count)};
  accessor.maxValues = {*std::max_element(times.begin(), times.begin() + count)};
  return add_accessor(model, std::move(accessor));
}

// The weights of `shown.size()` keyframes of `target_count` weights each:
// keyframe k is 1 on target shown[k] and 0 on the others, all 0 where
// shown[k] is -1. Sparse where that is smaller.
int add_weight_accessor(tinygltf::Model& model, Views& views, const std::vector<int32_t>& shown,
                        uint32_t target_count) {
  tinygltf::Accessor accessor;
  accessor.componentType = TINYGLTF_COMPONENT_TYPE_FLOAT;
  accessor.type = TINYGLTF_TYPE_SCALAR;
  accessor.count = shown.size() * target_count;
  std::vector<uint32_t> ones;
  for (size_t k = 0; k < shown.size(); ++k) {
    if (shown[k] >= 0) ones.push_back(static_cast<uint32_t>(k * target_count + shown[k]));
  }
  if (ones.empty()) return add_accessor(model, std::move(accessor));  // no view: all zeros
  int index_component = 0;
  size_t index_bytes = 0;
  index_type(accessor.count - 1, index_component, index_bytes);
  const uint64_t dense_bytes = uint64_t{accessor.count} * sizeof(float);
  const uint64_t sparse_bytes = ones.size() * index_bytes + kSparseJsonBytes;  // the 1s are shared
  if (sparse_bytes >= dense_bytes) {
    std::vector<float> weights(accessor.count, 0.0f);
    for (const uint32_t at : ones) weights[at] = 1.0f;
    accessor.bufferView = views.view(kWeightLane);
    accessor.byteOffset = views.append(kWeightLane, weights.data(), weights.size() * sizeof(float), 4);
    return add_accessor(model, std::move(accessor));
  }
  make_sparse(views, kWeightIndexLane, ones, index_component, index_bytes, accessor);
  // Every sparse weight is a 1: all of them read the same 1s from the start.
  accessor.sparse.values.bufferView = views.view(kOneLane);
  accessor.sparse.values.byteOffset = 0;
  const size_t ones_there = views.size(kOneLane) / sizeof(float);
  if (ones.size() > ones_there) {
    const std::vector<float> more(ones.size() - ones_there, 1.0f);
    views.append(kOneLane, more.data(), more.size() * sizeof(float), 4);
  }
  return add_accessor(model, std::move(accessor));
}

// Frame `frame` as the packed fields' whole numbers, three a vertex, read
// from the file.
Failure frame_steps(const Animation& animation, uint32_t frame, Steps& steps) {
  std::vector<Position> decoded;
  steps.clear();
  if (Failure read = frame_positions(animation, frame, decoded)) return read;
  steps.reserve(decoded.size() * 3);
  for (const Position& p : decoded) {
    // The decoded field over its scale: times the scale, the field again, exactly.
    steps.insert(steps.end(), {static_cast<int32_t>(p.x * kPackedFields[0].scale),
                               static_cast<int32_t>(p.y * kPackedFields[1].scale),
                               static_cast<int32_t>(p.z * kPackedFields[2].scale)});
  }
  return {};
}

std::string target_name(uint32_t frame) {
  char name[16];
  std::snprintf(name, sizeof name, "frame%03u", frame);
  return name;
}

// The animation `animation`: keyframe k at k / fps seconds shows frame
// first + k, through its target (`target_of`, by frame; -1 for the base).
void add_animation(tinygltf::Model& model, Views& views, const GltfAnimation& animation,
                   const std::vector<float>& times, const std::vector<int32_t>& target_of,
                   uint32_t target_count) {
  std::vector<int32_t> shown;
  for (uint32_t frame = animation.first; frame <= animation.last; ++frame) shown.push_back(target_of[frame]);
  tinygltf::AnimationSampler sampler;
  sampler.input = add_time_accessor(model, views, times, static_cast<uint32_t>(shown.size()));
  sampler.output = add_weight_accessor(model, views, shown, target_count);
  sampler.interpolation = "STEP";
  tinygltf::AnimationChannel channel;
  channel.sampler = 0;
  channel.target_node = 0;
  channel.target_path = "weights";
  tinygltf::Animation gltf_animation;
  gltf_animation.name = animation.name;
  gltf_animation.samplers.push_back(sampler);
  gltf_animation.channels.push_back(channel);
  model.animations.push_back(gltf_animation);
}

}  // namespace

// Splits the file tinygltf writes of `model`, whose buffer has been moved
// out into `bin`, into the pieces of `glb`: its JSON chunk parsed, the
// buffer's byteLength set to the size of `bin`, and written again as tinygltf
// writes it; the chunk lengths to match. tinygltf would copy the buffer twice
// more on its way to the file.
static bool split_glb(const std::string& without_bin, std::vector<unsigned char>&& bin, Glb& glb) {
  constexpr size_t kHeaderBytes = 12, kChunkHeaderBytes = 8;
  uint32_t json_chunk_bytes = 0;
  if (without_bin.size() < kHeaderBytes + kChunkHeaderBytes ||
      !get_u32(reinterpret_cast<const uint8_t*>(without_bin.data()), without_bin.size(), kHeaderBytes,
               json_chunk_bytes)) {
    return false;
  }
  nlohmann::json model = nlohmann::json::parse(
      without_bin.substr(kHeaderBytes + kChunkHeaderBytes, json_chunk_bytes), nullptr, false);
  if (model.is_discarded() || !model.is_object()) return false;
  const auto buffers = model.find("buffers");
  if (buffers == model.end() || !buffers->is_array() || buffers->size() != 1) return false;
  (*buffers)[0]["byteLength"] = bin.size();
  std::string json = model.dump();
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

std::vector<uint32_t> frames_written(const GltfPlan& plan) {
  std::vector<uint32_t> frames;
  for (const GltfAnimation& animation : plan.animations) {
    for (uint32_t frame = animation.first; frame <= animation.last; ++frame) frames.push_back(frame);
  }
  return frames;
}

Failure make_glb(const Animation& animation, const Mesh& mesh, const GltfPlan& plan, Glb& glb,
                 uint32_t& left_out_count) {
  const Encoded encoded{plan.encoding};
  const bool quantized = plan.encoding == GltfEncoding::kQuantized;
  tinygltf::Model model;
  model.asset.version = "2.0";
  model.asset.generator = "inspect3d";
  model.buffers.resize(1);
  Views views(model, quantized ? 8 : 12);

  tinygltf::Primitive primitive;
  const std::vector<Triangle> triangles = triangles_in_range(mesh, animation.vertex_count, left_out_count);
  if (triangles.empty()) {
    primitive.mode = TINYGLTF_MODE_POINTS;  // nothing to fill: the vertices alone
  } else {
    primitive.mode = TINYGLTF_MODE_TRIANGLES;
    primitive.indices = add_index_accessor(model, views, triangles);
  }
  const std::vector<uint32_t> frames = frames_written(plan);
  Steps base, displacements;
  if (Failure read = frame_steps(animation, frames[0], base)) return read;
  primitive.attributes["POSITION"] = add_position_accessor(model, views, encoded, base);

  tinygltf::Mesh gltf_mesh;
  gltf_mesh.name = "aniv00";
  tinygltf::Value::Array names;
  std::vector<int32_t> target_of(animation.frame_count, -1);
  for (size_t i = 1; i < frames.size(); ++i) {
    if (Failure read = frame_steps(animation, frames[i], displacements)) return read;
    for (size_t j = 0; j < displacements.size(); ++j) displacements[j] -= base[j];
    target_of[frames[i]] = static_cast<int32_t>(i - 1);
    primitive.targets.push_back({{"POSITION", add_target_accessor(model, views, encoded, displacements)}});
    names.emplace_back(target_name(frames[i]));
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
  if (quantized) {
    // One step of each field: the positions a viewer computes are the engine's.
    node.scale = {1 / kPackedFields[0].scale, 1 / kPackedFields[1].scale, 1 / kPackedFields[2].scale};
    model.extensionsUsed.push_back(kQuantization);
    model.extensionsRequired.push_back(kQuantization);
  }
  model.nodes.push_back(node);
  tinygltf::Scene scene;
  scene.nodes.push_back(0);
  model.scenes.push_back(scene);
  model.defaultScene = 0;

  // A single frame has no target for an animation to move.
  if (frames.size() > 1) {
    uint32_t longest = 0;
    for (const GltfAnimation& a : plan.animations) longest = std::max(longest, a.last - a.first + 1);
    std::vector<float> times(longest);
    for (uint32_t k = 0; k < longest; ++k) times[k] = static_cast<float>(k / plan.fps);
    views.append(kTimeLane, times.data(), times.size() * sizeof(float), 4);
    for (const GltfAnimation& a : plan.animations) {
      add_animation(model, views, a, times, target_of, static_cast<uint32_t>(frames.size() - 1));
    }
  }
  views.place();

  std::vector<unsigned char> bin = std::move(model.buffers[0].data);
  model.buffers[0].data.clear();
  std::ostringstream out;
  tinygltf::TinyGLTF writer;
  if (!writer.WriteGltfSceneToStream(&model, out, false, true) ||
      !split_glb(std::move(out).str(), std::move(bin), glb)) {
    return failure("the glTF library did not write the model");
  }
  return {};
}
