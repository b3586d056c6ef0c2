// Fuzzes the scanner on arbitrary frame text: the searches, the number readers
// and the three passes as read_frame_sequence runs them, on inputs up to the
// whole 5,000,000-byte text buffer.
//
// First input byte: when its low five bits are all set, the rest of the input
// is tiled over the whole buffer (so that cursors run near its very end; rare,
// since such a run is slow); its high three bits pick the later-frame pass's
// vertex count, 0 meaning the first frame's. The rest is the frame text, read
// as the first frame and as a later one; its first 64 bytes also drive a
// random walk of cursor operations.
#include <cmath>
#include <cstring>
#include <vector>

#include "check.h"
#include "frame_recorder.h"
#include "frames.h"
#include "mesh.h"
#include "scan.h"

namespace {

char* text;  // exactly the text buffer's size, so that ASan sees any overrun

// Each operation may move the cursor forward only, and only as its contract says.
void walk_cursor(const char* ops, size_t op_count, size_t end) {
  ScanCursor scan{text, end, 0};
  for (size_t i = 0; i < op_count; ++i) {
    const size_t before = scan.cursor;
    static const char* const kPatterns[] = {"v ", " ", "f "};
    switch (static_cast<unsigned char>(ops[i]) % 5) {
      case 0:
      case 1:
      case 2: {
        const char* pattern = kPatterns[static_cast<unsigned char>(ops[i]) % 5];
        const size_t length = std::strlen(pattern);
        const bool found = find_token(scan, pattern, length);
        if (found) {
          CHECK(scan.cursor >= before + length && scan.cursor <= end);
          CHECK(std::memcmp(text + scan.cursor - length, pattern, length) == 0);
        } else {
          CHECK(scan.cursor == (before > end ? before : end + 1));
        }
        // The match is the first one: none starts earlier, byte by byte.
        const size_t first_after = found ? scan.cursor - length : end + 1;
        if (end <= 100000) {
          for (size_t at = before; at < first_after && at + length <= end; ++at) {
            CHECK(!(text[at] == pattern[0] && (length == 1 || text[at + 1] == pattern[1])));
          }
        }
        break;
      }
      case 3:
        if (skip_past_space(scan)) {
          CHECK(scan.cursor > before && scan.cursor - before <= kSpaceWindowBytes && scan.cursor <= end);
          CHECK(text[scan.cursor - 1] == ' ');
        } else {
          CHECK(scan.cursor == before + kSpaceWindowBytes);
        }
        break;
      default:
        read_real(scan);
        read_integer(scan);
        CHECK(scan.cursor == before);
    }
  }
}

// Where the grammars agree (no 'd' exponent, no hex, inf or nan), read_real
// must give exactly what the C library's correctly rounded strtod gives.
void compare_with_strtod(size_t end) {
  if (end > 200 || std::strpbrk(std::string(text, end).c_str(), "dDxXiInNpP") != nullptr) return;
  if (std::memchr(text, 0, end) != nullptr) return;
  const double expected = std::strtod(text, nullptr);
  const double got = read_real(ScanCursor{text, end, 0});
  CHECK(std::memcmp(&expected, &got, sizeof got) == 0);
}

// The vertex passes as plainly as they can be written, one search after each
// number: the passes' shortcuts must give exactly these words.
std::vector<uint32_t> plain_first_frame(size_t end) {
  std::vector<uint32_t> words;
  ScanCursor scan{text, end, 0};
  while (words.size() < kFirstFrameVertexLimit && find_token(scan, "v ", 2)) {
    const double x = read_real(scan);
    find_token(scan, " ", 1);
    const double y = read_real(scan);
    find_token(scan, " ", 1);
    words.push_back(pack_vertex(x, y, read_real(scan)));
  }
  return words;
}

std::vector<uint32_t> plain_later_frame(size_t end, uint32_t vertex_count) {
  std::vector<uint32_t> words;
  ScanCursor scan{text, end, 0};
  while (words.size() < vertex_count && find_token(scan, "v ", 2)) {
    const double x = read_real(scan);
    skip_past_space(scan);
    const double y = read_real(scan);
    skip_past_space(scan);
    words.push_back(pack_vertex(x, y, read_real(scan)));
  }
  return words;
}

std::vector<uint32_t> words_of(const std::vector<Vertex>& vertices) {
  std::vector<uint32_t> words;
  for (const Vertex& v : vertices) words.push_back(pack_vertex(v.x, v.y, v.z));
  return words;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!text) text = static_cast<char*>(std::malloc(kFrameReadLimit + 1));
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  ++data;
  --size;

  size_t end = std::min(size, kFrameReadLimit);
  if ((mode & 0x1F) == 0x1F && size > 0) {
    for (size_t at = 0; at < kFrameReadLimit; at += size)
      std::memcpy(text + at, data, std::min(size, kFrameReadLimit - at));
    end = kFrameReadLimit;
  } else {
    std::memcpy(text, data, end);
  }
  text[end] = 0;

  walk_cursor(text, std::min<size_t>(end, 64), end);
  compare_with_strtod(end);

  // The text as the first frame, and again as a later one.
  const std::string_view frame(text, end);
  const RecordedSequence read = record_sequence({frame, frame}, false);
  const std::vector<uint32_t> first_words = plain_first_frame(end);
  const auto vertex_count = static_cast<uint32_t>(first_words.size());
  if (end == 0) {
    CHECK(read.end == SequenceEnd::kEmptyFirstFrame);
    return 0;
  }
  if (vertex_count == 0) {
    CHECK(read.end == SequenceEnd::kNoVertices);
    return 0;
  }
  CHECK(!read.recorder.frames.empty() && words_of(read.recorder.frames[0]) == first_words);
  CHECK(read.sequence.vertex_count == vertex_count);
  const TriangleTable& triangles = *read.triangles;
  CHECK(triangles.triangle_count <= kTriangleLimit);
  const uint8_t* trailing = triangles.bytes + triangles.triangle_count * kTriangleRecordBytes;
  for (size_t i = 0; i < kTrailingRecords * kTriangleRecordBytes; ++i) CHECK(trailing[i] == 0);

  // The later-frame pass, with the first frame's count or one the mode picks.
  const uint32_t later_count = (mode >> 5) == 0 ? vertex_count : (mode >> 5) * 1428u;
  std::string first;  // of later_count plain vertices
  for (uint32_t i = 0; (mode >> 5) != 0 && i < later_count; ++i) first += "v 0 0 0\n";
  RecordedSequence other;
  if ((mode >> 5) != 0) other = record_sequence({first, frame}, false);
  const RecordedSequence& later = (mode >> 5) == 0 ? read : other;
  const std::vector<uint32_t> later_words = plain_later_frame(end, later_count);
  const bool complete = later.end == SequenceEnd::kComplete;
  CHECK(complete || later.end == SequenceEnd::kTooFewVertices);
  CHECK(complete == (later_words.size() == later_count));
  CHECK(words_of(complete ? later.recorder.frames[1] : later.recorder.dropped) == later_words);
  return 0;
}
