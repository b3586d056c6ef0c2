// What info reads, computed in memory: each frame's bounding box, and why a
// file fits neither layout.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "animation_in.h"
#include "cli.h"
#include "run.h"

// The commands' usage error is the program's (inspect3d.cpp), which these
// tests do not link: none of them reaches it.
int usage_error(const std::string&) { return kBadUsage; }

namespace {

using Vertex = std::array<double, 3>;

// A vertex animation file of `frames`, every frame of as many vertices,
// cut to `keep` bytes if that is shorter.
std::vector<uint8_t> animation_bytes(const std::vector<std::vector<Vertex>>& frames, size_t keep = SIZE_MAX) {
  const size_t vertices = frames.empty() ? 0 : frames[0].size();
  std::string bytes = u16le(static_cast<uint16_t>(frames.size())) +
                      u16le(static_cast<uint16_t>(vertices * kPackedVertexBytes));
  for (const std::vector<Vertex>& frame : frames) {
    for (const Vertex& v : frame) bytes += u32le(pack_vertex(v[0], v[1], v[2]));
  }
  bytes.resize(std::min(keep, bytes.size()));
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

struct BoxesCase {
  const char* what;
  std::vector<std::vector<Vertex>> frames;
  size_t keep;
  bool read_all;
  std::vector<FrameBox> boxes;
};

TEST(FrameBoxes, EachFramesLowestAndHighestPerAxisUpToAFrameThatCannotBeRead) {
  const BoxesCase cases[] = {
      {"one vertex is its own box",
       {{{1.5, -2, 3.25}}},
       SIZE_MAX,
       true,
       {{{1.5, -2, 3.25}, {1.5, -2, 3.25}}}},
      {"each axis on its own, not the box of one vertex",
       {{{-1, 2, 0.5}, {3, -4, 0.25}, {0, 0, -8}}},
       SIZE_MAX,
       true,
       {{{-1, -4, -8}, {3, 2, 0.5}}}},
      {"each frame its own box, in order",
       {{{1, 1, 1}, {2, 2, 2}}, {{-5, 0, 0}, {-6, 0, 4}}},
       SIZE_MAX,
       true,
       {{{1, 1, 1}, {2, 2, 2}}, {{-6, 0, 0}, {-5, 0, 4}}}},
      {"a wrapped coordinate as the engine reads it",
       {{{128, 0, 0}}},
       SIZE_MAX,
       true,
       {{{-128, 0, 0}, {-128, 0, 0}}}},
      {"a file that ends in the second frame: the first frame's box",
       {{{1, 2, 3}}, {{4, 5, 6}}},
       4 + 4 + 2,
       false,
       {{{1, 2, 3}, {1, 2, 3}}}},
  };
  for (const BoxesCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<uint8_t> bytes = animation_bytes(c.frames, c.keep);
    const Animation animation = animation_in(bytes);
    std::vector<FrameBox> boxes;
    EXPECT_EQ(!frame_boxes(animation, boxes), c.read_all);
    ASSERT_EQ(boxes.size(), c.boxes.size());
    for (size_t f = 0; f < boxes.size(); ++f) {
      for (int axis = 0; axis < 3; ++axis) {
        EXPECT_EQ(boxes[f].low[axis], c.boxes[f].low[axis]) << "frame " << f << " axis " << axis;
        EXPECT_EQ(boxes[f].high[axis], c.boxes[f].high[axis]) << "frame " << f << " axis " << axis;
      }
    }
  }
}

struct NeitherCase {
  const char* what;
  std::string bytes;
  bool too_short;
  uint16_t first, second;
  bool mesh_fields;
};

TEST(WhyNeither, TheHeadsWordsAndWhetherItHasTheMeshFields) {
  uint8_t mesh_header[kMeshHeaderBytes];
  put_mesh_header(mesh_header, 7, 9);
  const std::string mesh_head(reinterpret_cast<const char*>(mesh_header), sizeof mesh_header);
  const NeitherCase cases[] = {
      {"shorter than a vertex animation header", "abc", true, 0, 0, false},
      {"the two words little-endian", u16le(0x1234) + u16le(0xABCD) + "xyz", false, 0x1234, 0xABCD, false},
      {"a mesh header of the wrong size", mesh_head + "odd", false, 7, 9, true},
  };
  for (const NeitherCase& c : cases) {
    SCOPED_TRACE(c.what);
    const auto* head = reinterpret_cast<const uint8_t*>(c.bytes.data());
    const NeitherReason why = why_neither(head, std::min(c.bytes.size(), kKindHeadBytes), c.bytes.size());
    EXPECT_EQ(why.too_short, c.too_short);
    EXPECT_EQ(why.first, c.first);
    EXPECT_EQ(why.second, c.second);
    EXPECT_EQ(why.mesh_fields, c.mesh_fields);
  }
}

}  // namespace
