// The OBJ text scanner. A frame file is not parsed line by line: it is held as
// raw bytes and a cursor moves through them with two searches and two number
// readers. Only "v " and "f " are ever looked for, and the searches are not
// anchored to line starts, so a "v " inside a comment or a name is matched too.
// note: that quirk, the bounds of 10,000 and 1,000 below and the two vertex
// passes' different ways between coordinates are what the stored files were
// made with; changing any of them changes output bytes.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "vertex_animation.h"

// Most vertices the first frame contributes; every later frame contributes as
// many as the first did.
constexpr uint32_t kFirstFrameVertexLimit = 10000;

// How far skip_past_space looks for a space.
constexpr size_t kSpaceWindowBytes = 1000;

// One frame's text and a position in it. The bytes are the file as read; end is
// the offset just past the last of them, and data[end] must be 0 so that the
// number readers stop there without an end check. The cursor only moves
// forward and may pass end; at or past end nothing more is read.
struct ScanCursor {
  const char* data;
  size_t end;
  size_t cursor;
};

// Searches from the cursor for the `length` bytes of `pattern` (length >= 1)
// lying wholly before end. Found: the cursor moves just past them. Not found:
// the cursor is left at end + 1, or where it was if already past end.
bool find_token(ScanCursor& scan, const char* pattern, size_t length);

// Looks for a space among the next 1,000 bytes before end. Found: the cursor
// moves just past it. Not found: the cursor moves 1,000 bytes on.
bool skip_past_space(ScanCursor& scan);

// Where a number read_real read stands: `at`, its first byte, after the
// white space at the cursor; `end`, the first byte after its sign, digits,
// point and exponent that it did not take. Both kNoNumber when the cursor is
// at or past end.
struct NumberPlace {
  size_t at;
  size_t end;
};

constexpr size_t kNoNumber = SIZE_MAX;

// Reads a decimal number at the cursor without moving it: leading white space,
// an optional sign, digits with an optional '.' and fraction (".5" is a number),
// and an optional exponent introduced by 'e', 'E', 'd' or 'D' ("1.5d2" is 150).
// '.' is the decimal point whatever the locale. Correctly rounded; too large
// reads as infinity with its sign, too small as 0. No number reads as 0, and so
// does a cursor at or past end. Says where the number stands in `place`, if
// given: the vertex passes move on from there.
double read_real(const ScanCursor& scan, NumberPlace* place = nullptr);

// Reads a decimal integer at the cursor without moving it: leading white space,
// an optional sign, digits up to the first non-digit ("12/5/7" is 12). The
// value accumulates as value * 10 + digit in 32 bits and wraps around without
// a check ("3000000000" is -1294967296). note: face indices are made from the
// wrapped value, so clamping here would change mesh files. No digits, or a
// cursor at or past end, reads as 0.
int32_t read_integer(const ScanCursor& scan);

// Face-line reading, with the cursor just past an "f ": the first three vertex
// references of the line, a search for a space before the second and third.
// Texture and normal references ("1/4/7") and a quad's fourth vertex are not
// read.
void read_face_line(ScanCursor& scan, int32_t (&references)[3]);

// The two vertex passes: read_frame_sequence reads every frame through them,
// so that frameconv, inspect3d check and preview cannot disagree about what a
// frame holds.

// One vertex of a pass: the offset of its "v ", its coordinates as read, and
// whether they were read as written: false when y was read from the number x
// was read from, or z from y's, or y or z from a later line than the "v " (a
// line feed lies between the "v " and that number's first byte), or y or z
// from no number at all (the search for it ran past end of data). A number is
// where the reader starts, after the white space at the cursor.
struct Vertex {
  size_t at;
  double x, y, z;
  bool as_written;
};

// A vertex pass in progress: the cursor, and where the last number read ended,
// which lets the next search start from what is already known.
struct VertexScan {
  ScanCursor cursor;
  size_t number_end;
};

inline VertexScan start_vertex_scan(const char* data, size_t end) { return {{data, end, 0}, kNoNumber}; }

// Up to `room` next vertices of a pass into `vertices`, in the order of the
// text; fewer only when no "v " is left. The first-frame pass reads the "v ",
// then x, a search for a space up to end of data, y, another such search, z;
// the later-frame pass moves between coordinates by skip_past_space's
// 1,000-byte window instead. The batch keeps the search inlined in one loop
// while the caller handles each vertex in its own.
uint32_t next_first_frame_vertices(VertexScan& scan, Vertex* vertices, uint32_t room);
uint32_t next_later_frame_vertices(VertexScan& scan, Vertex* vertices, uint32_t room);

// After a pass, one more search for "v " from where the pass left its cursor:
// true, with the offset of that "v " in `at`, if the text holds one. The
// cursor is left where it was.
bool vertex_follows(const VertexScan& scan, size_t& at);

// True if the face whose third reference is read at the cursor (just past the
// space the second search matched) goes on, on the same line, with a fourth:
// past blanks (space, tab, vertical tab, form feed), one field (bytes that
// are no white space), blanks again, a digit, '+' or '-' before end of data.
bool face_goes_on(const ScanCursor& scan);

// Values a conversion packs that its files cannot hold, counted over the whole
// run as the passes go: how many, and where the first of them stands.
struct OutOfRange {
  uint32_t count;
  uint32_t first_line;  // of the statement ("v " or "f ") holding the first, from 1
  uint32_t first_word;  // for coordinates: the store index of the vertex holding the first
};

// What a conversion leaves out of its frames without a read error, in the
// order the closing text names them.
enum class LeftOutKind : uint8_t {
  kVertexNotAsWritten,     // a vertex not read as written (Vertex::as_written)
  kFaceNotInFull,          // a face with a fourth vertex reference (face_goes_on)
  kFacePastLimit,          // an "f " after the 10,000th face of the first frame
  kFrameWithMoreVertices,  // a frame with a "v " after the vertices taken of it
  kFrameLongerThanRead,    // a frame file longer than the bytes read of it
};
constexpr int kLeftOutKinds = 5;

// Told of each thing left out as a pass finds it: its kind and the offset of
// its statement ("v " or "f ") in the text. No function: nobody is told.
struct LeftOutNote {
  void (*note)(void* context, LeftOutKind kind, size_t at);
  void* context;
  void operator()(LeftOutKind kind, size_t at) const {
    if (note) note(context, kind, at);
  }
};

// The line of the byte at offset `at`: 1 + the newline bytes before it.
uint32_t line_of(const char* data, size_t at);

// Counts in `coordinates` each coordinate of `vertex` that its field cannot
// hold (packs_in_range); of the first of the run it keeps the line, counted
// in `data`, and the store index the vertex is packed at.
[[gnu::cold, gnu::noinline]] void count_out_of_range(const VertexStore& store, OutOfRange& coordinates,
                                                     const char* data, const Vertex& vertex);

// Every field holds a coordinate of magnitude below 127 (x and y reach
// 127.875, z 127.75, all three -128), so only beyond it is each axis asked:
// nearly every vertex then costs the count one comparison.
constexpr double kInsideEveryField = 127.0;

// Packs one vertex into `store`, which must have room, and counts its
// coordinates out of range.
inline void pack_counting(VertexStore& store, OutOfRange& coordinates, const char* data,
                          const Vertex& vertex) {
  if (!(std::fabs(vertex.x) < kInsideEveryField && std::fabs(vertex.y) < kInsideEveryField &&
        std::fabs(vertex.z) < kInsideEveryField)) {
    count_out_of_range(store, coordinates, data, vertex);
  }
  append_word(store, pack_vertex(vertex.x, vertex.y, vertex.z));
}
