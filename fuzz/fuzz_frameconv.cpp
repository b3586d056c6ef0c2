// Fuzzes whole frameconv runs: the input is split at "\n~~~\n" into up to six
// frame files anima000.obj, anima001.obj, ..., and the real run converts them
// in a scratch directory that also holds earlier outputs.
//
// What must hold: exactly one closing message; on "Conversion Complete" both
// outputs are complete and consistent, aniv00.3d holds exactly the words of
// the vertices read_frame_sequence hands over for the same texts, and the text counts the
// coordinates those words do not hold; on any other ending the earlier
// outputs are untouched; never a temporary file left behind.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "check.h"
#include "frame_recorder.h"
#include "frames.h"
#include "le.h"
#include "mesh.h"
#include "platform.h"

namespace {

const std::string kEarlierAnimation = "earlier animation", kEarlierMesh = "earlier mesh";

// The words frameconv should have written, packed here from the vertices
// read_frame_sequence reads of the same texts, and in `coordinates` the
// closing text's part on coordinates out of range, found without
// packs_in_range: a coordinate is out of range when the word does not hold it
// to within one step. Returns false where the run must fail.
bool expected_animation(const std::vector<std::string>& frames, std::string& bytes,
                        std::string& coordinates) {
  const RecordedSequence read = record_sequence({frames.begin(), frames.end()});
  if (read.end != SequenceEnd::kComplete) return false;
  bytes.clear();
  uint32_t count = 0, first_frame = 0;
  size_t first_line = 0;
  for (uint32_t f = 0; f < read.recorder.frames.size(); ++f) {
    for (const Vertex& v : read.recorder.frames[f]) {
      const uint32_t word = pack_vertex(v.x, v.y, v.z);
      uint8_t le[4];
      put_u32(le, word);
      bytes.append(reinterpret_cast<const char*>(le), 4);
      const Position stored = unpack_vertex(word);
      const double source[3] = {v.x, v.y, v.z}, back[3] = {stored.x, stored.y, stored.z};
      for (int axis = 0; axis < 3; ++axis) {
        if (std::fabs(source[axis] - back[axis]) < 1.0) continue;
        if (count++ == 0) {
          first_frame = f;
          const std::string& text = frames[f];
          first_line = 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + v.at, '\n'));
        }
      }
    }
  }
  uint8_t header[4];
  put_u16(put_u16(header, static_cast<uint16_t>(frames.size())),
          static_cast<uint16_t>(read.sequence.vertex_count * 4));
  bytes.insert(0, reinterpret_cast<const char*>(header), 4);
  coordinates.clear();
  if (count > 0) {
    char part[128];
    std::snprintf(part, sizeof part, "%u %s out of range (first in anima%03u.obj line %zu)", count,
                  count == 1 ? "coordinate" : "coordinates", first_frame, first_line);
    coordinates = part;
  }
  return true;
}

bool starts_with(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> frames = split_input(data, size, "\n~~~\n", 6);
  enter_scratch_dir();
  write_whole("aniv00.3d", kEarlierAnimation);
  write_whole("data00.3d", kEarlierMesh);
  for (size_t f = 0; f < frames.size(); ++f) {
    char name[32];
    std::snprintf(name, sizeof name, "anima%03zu.obj", f);
    write_whole(name, frames[f]);
  }
  const std::vector<std::string> names = dir_names();

  const std::string message = capture_stdout(program_main);
  CHECK(std::count(message.begin(), message.end(), '\n') == 1);
  CHECK(dir_names() == names);  // nothing added: no temporary left behind

  std::string expected, coordinates;
  const bool must_complete = expected_animation(frames, expected, coordinates);
  const std::string caption = ": Conversion Complete\n";
  const bool complete = starts_with(message, "Conversion Complete") && message.size() >= caption.size() &&
                        message.compare(message.size() - caption.size(), caption.size(), caption) == 0;
  if (!complete) {
    CHECK(!must_complete);
    CHECK(read_whole("aniv00.3d") == kEarlierAnimation);
    CHECK(read_whole("data00.3d") == kEarlierMesh);
    return 0;
  }
  CHECK(must_complete);
  CHECK(read_whole("aniv00.3d") == expected);
  // The text counts the coordinates first, then the face indices.
  const std::string text = message.substr(0, message.size() - caption.size());
  if (!coordinates.empty()) {
    CHECK(starts_with(text, "Conversion Complete, but " + coordinates));
    const std::string rest = text.substr(25 + coordinates.size());
    CHECK(rest.empty() || starts_with(rest, " and "));
  } else {
    CHECK(text == "Conversion Complete" || starts_with(text, "Conversion Complete, but "));
    CHECK(text.find("coordinate") == std::string::npos);
  }

  const std::string mesh = read_whole("data00.3d");
  uint16_t triangle_count = 0, vertices_per_frame = 0;
  CHECK(get_u16(reinterpret_cast<const uint8_t*>(mesh.data()), mesh.size(), 0, triangle_count));
  CHECK(get_u16(reinterpret_cast<const uint8_t*>(mesh.data()), mesh.size(), 2, vertices_per_frame));
  CHECK(mesh.size() == kMeshHeaderBytes + kTriangleRecordBytes * (triangle_count + kTrailingRecords));
  uint16_t bytes_per_frame = 0;
  CHECK(get_u16(reinterpret_cast<const uint8_t*>(expected.data()), expected.size(), 2, bytes_per_frame));
  CHECK(vertices_per_frame * 4u == bytes_per_frame);
  CHECK(mesh.compare(mesh.size() - 48, 48, std::string(48, '\0')) == 0);
  return 0;
}
