#include "scan.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "decimal.h"

// The first place in [at, last] where bytes a and b stand one after the
// other, or nullptr. Reads no byte past last + 1.
static const char* find_pair(const char* at, const char* last, char a, char b) {
#ifdef __SSE2__
  // Sixteen places at a time: a search for "v " no longer stops at every "vt"
  // and "vn".
  const __m128i first = _mm_set1_epi8(a), second = _mm_set1_epi8(b);
  for (; last - at >= 15; at += 16) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 1));
    const int found =
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(here, first), _mm_cmpeq_epi8(next, second)));
    if (found) return at + __builtin_ctz(static_cast<unsigned>(found));
  }
#endif
  for (; at <= last; ++at) {
    if (at[0] == a && at[1] == b) return at;
  }
  return nullptr;
}

#if defined(__x86_64__) || defined(__i386__)
// find_pair_far's blocks in AVX2 registers, thirty-two places a comparison,
// where the processor has them.
[[gnu::target("avx2")]] static const char* skip_pairless_blocks_avx2(const char* at, const char* last, char a,
                                                                     char b) {
  const __m256i first = _mm256_set1_epi8(a), second = _mm256_set1_epi8(b);
  for (; last - at >= 63; at += 64) {
    const __m256i low = _mm256_and_si256(
        _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)), first),
        _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 1)), second));
    const __m256i high = _mm256_and_si256(
        _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32)), first),
        _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 33)), second));
    if (_mm256_movemask_epi8(_mm256_or_si256(low, high))) break;
  }
  return at;
}

// Asked once, before main; __builtin_cpu_init makes that safe in any order of
// initialisation.
static const bool kHaveAvx2 = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
#endif

// find_pair for a search expected to run long, over the rest of a frame:
// sixty-four places at a time, one branch for them all, until a block holds
// the pair; find_pair then finds it there.
static const char* find_pair_far(const char* at, const char* last, char a, char b) {
#if defined(__x86_64__) || defined(__i386__)
  if (kHaveAvx2) return find_pair(skip_pairless_blocks_avx2(at, last, a, b), last, a, b);
#endif
#ifdef __SSE2__
  const __m128i first = _mm_set1_epi8(a), second = _mm_set1_epi8(b);
  auto pairs = [&](const char* p) {
    return _mm_and_si128(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), first),
                         _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1)), second));
  };
  for (; last - at >= 63; at += 64) {
    const __m128i any =
        _mm_or_si128(_mm_or_si128(pairs(at), pairs(at + 16)), _mm_or_si128(pairs(at + 32), pairs(at + 48)));
    if (_mm_movemask_epi8(any)) break;
  }
#endif
  return find_pair(at, last, a, b);
}

bool find_token(ScanCursor& scan, const char* pattern, size_t length) {
  if (scan.cursor > scan.end) return false;
  if (scan.end - scan.cursor >= length) {
    const char* at = scan.data + scan.cursor;
    const char* last = scan.data + (scan.end - length);  // last place the pattern can start
    if (length == 2) {
      at = find_pair(at, last, pattern[0], pattern[1]);
    } else {
      while (at <= last) {
        at = static_cast<const char*>(std::memchr(at, pattern[0], static_cast<size_t>(last - at) + 1));
        if (!at || std::memcmp(at + 1, pattern + 1, length - 1) == 0) break;
        ++at;
      }
      if (at > last) at = nullptr;
    }
    if (at) {
      scan.cursor = static_cast<size_t>(at - scan.data) + length;
      return true;
    }
  }
  scan.cursor = scan.end + 1;
  return false;
}

bool skip_past_space(ScanCursor& scan) {
  if (scan.cursor < scan.end) {
    const size_t window = std::min(kSpaceWindowBytes, scan.end - scan.cursor);
    const void* space = std::memchr(scan.data + scan.cursor, ' ', window);
    if (space) {
      scan.cursor = static_cast<size_t>(static_cast<const char*>(space) - scan.data) + 1;
      return true;
    }
  }
  // note: no space in the window moves the cursor on by the whole window,
  // even past end of data, so that the next coordinate is read from wherever
  // that lands, as in every stored file; past end the readers yield 0.
  scan.cursor += kSpaceWindowBytes;
  return false;
}

static bool is_space(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
static bool is_digit(unsigned char c) { return static_cast<unsigned>(c - '0') < 10; }

// The number readers rely on data[end] == 0: it is neither white space, a sign
// nor a digit, so every loop below stops at end at the latest.
static const unsigned char* number_start(const ScanCursor& scan) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(scan.data) + scan.cursor;
  while (is_space(*p)) ++p;
  return p;
}

int32_t read_integer(const ScanCursor& scan) {
  if (scan.cursor >= scan.end) return 0;
  const unsigned char* p = number_start(scan);
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  uint32_t value = 0;  // unsigned, so that wrapping around is defined
  for (; is_digit(*p); ++p) value = value * 10 + (*p - '0');
  return static_cast<int32_t>(negative ? 0u - value : value);
}

// Exact powers of ten: a double holds 10^k exactly up to k = 22.
static constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// More significant digits than any double needs to be rounded correctly (767);
// digits beyond are folded into one sticky digit.
constexpr size_t kSignificantDigitsKept = 800;

// Exponents are accumulated only this far: anything larger already overflows
// or underflows whatever the digits.
constexpr int64_t kExponentCap = 100000000;

// Converts digits [first, last) (a '.' may stand among them, at most once) times
// 10^exponent, none of it fitting the exact fast path, by handing a normalised
// form "0.DDDDe<E>" to std::from_chars.
[[gnu::cold, gnu::noinline]] static double convert_slow(const unsigned char* first, const unsigned char* last,
                                                        int64_t exponent) {
  char text[kSignificantDigitsKept + 40];
  size_t length = 0;
  text[length++] = '0';
  text[length++] = '.';
  int64_t point = 0;  // value = 0.DDDD x 10^point x 10^exponent
  bool seen_point = false, seen_nonzero = false, dropped_nonzero = false;
  size_t kept = 0;
  for (const unsigned char* p = first; p < last; ++p) {
    if (*p == '.') {
      seen_point = true;
      continue;
    }
    if (!seen_nonzero) {
      if (*p == '0') {
        if (seen_point) --point;
        continue;
      }
      seen_nonzero = true;
    }
    if (!seen_point) ++point;
    if (kept < kSignificantDigitsKept) {
      text[length++] = static_cast<char>(*p);
      ++kept;
    } else if (*p != '0') {
      dropped_nonzero = true;
    }
  }
  if (!seen_nonzero) return 0.0;
  if (dropped_nonzero) text[length++] = '1';
  const int64_t decimal_exponent = point + exponent;
  text[length++] = 'e';
  if (decimal_exponent < 0) text[length++] = '-';
  char reversed[24];
  size_t reversed_length = 0;
  uint64_t magnitude = static_cast<uint64_t>(decimal_exponent < 0 ? -decimal_exponent : decimal_exponent);
  do {
    reversed[reversed_length++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  while (reversed_length > 0) text[length++] = reversed[--reversed_length];
  double value = 0.0;
  const auto result = decimal_to_double(text, text + length, value);
  if (result.ec == std::errc::result_out_of_range) {
    // 0.DDDD x 10^E with a leading nonzero digit: E > 0 is far too large.
    return decimal_exponent > 0 ? HUGE_VAL : 0.0;
  }
  return value;
}

// note: the vertex passes call this for every coordinate; inlined there,
// `place` is known not to be null and costs nothing.
double read_real(const ScanCursor& scan, NumberPlace* place) {
  NumberPlace unused;
  NumberPlace& where = place ? *place : unused;
  where = {kNoNumber, kNoNumber};
  if (scan.cursor >= scan.end) return 0.0;
  const unsigned char* text = reinterpret_cast<const unsigned char*>(scan.data);
  const unsigned char* p = number_start(scan);
  where.at = static_cast<size_t>(p - text);
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;

  const unsigned char* digits = p;
  uint64_t mantissa = 0;
  int digit_count = 0, fraction_count = 0;
  for (; is_digit(*p); ++p, ++digit_count) mantissa = mantissa * 10 + (*p - '0');
  if (*p == '.') {
    for (++p; is_digit(*p); ++p, ++digit_count, ++fraction_count) mantissa = mantissa * 10 + (*p - '0');
  }
  where.end = static_cast<size_t>(p - text);
  if (digit_count == 0) return 0.0;  // a sign or a lone '.' is no number
  const unsigned char* digits_end = p;

  int64_t exponent = 0;
  if ((*p | 0x20) == 'e' || (*p | 0x20) == 'd') {
    const unsigned char* q = p + 1;
    const bool exponent_negative = *q == '-';
    if (*q == '+' || *q == '-') ++q;
    // An exponent letter without digits ends the number before it ("1e" is 1).
    for (; is_digit(*q); ++q) {
      if (exponent < kExponentCap) exponent = exponent * 10 + (*q - '0');
    }
    if (exponent_negative) exponent = -exponent;
    if (is_digit(q[-1])) where.end = static_cast<size_t>(q - text);
  }

  double value;
  const int64_t scale = exponent - fraction_count;
  // Up to 19 digits the mantissa is exact in 64 bits; below 2^53 it is exact as
  // a double, and one multiplication or division by an exact power of ten is
  // then correctly rounded.
  if (digit_count <= 19 && mantissa <= (uint64_t{1} << 53) && scale >= -22 && scale <= 22) {
    value = static_cast<double>(mantissa);
    value = scale < 0 ? value / kExactPowersOfTen[-scale] : value * kExactPowersOfTen[scale];
  } else if (digit_count <= 19 && mantissa == 0) {
    value = 0.0;
  } else {
    value = convert_slow(digits, digits_end, exponent);
  }
  return negative ? -value : value;
}

// The moves between coordinates, given where the number just read at the
// cursor ended. When that number starts right at the cursor and a space
// follows it, that space is the first at or after the cursor, so the search
// would find it there: take it at once. Otherwise search as always.
// Both say whether they took the space at once: then the number started at
// the cursor and the next one's cursor is just past its end.
static inline bool find_space_after(ScanCursor& scan, size_t number_end) {
  if (number_end < scan.end && scan.data[number_end] == ' ' &&
      !is_space(static_cast<unsigned char>(scan.data[scan.cursor]))) {
    scan.cursor = number_end + 1;
    return true;
  }
  find_token(scan, " ", 1);
  return false;
}

static inline bool skip_space_after(ScanCursor& scan, size_t number_end) {
  if (number_end < scan.end && scan.data[number_end] == ' ' && number_end - scan.cursor < kSpaceWindowBytes &&
      !is_space(static_cast<unsigned char>(scan.data[scan.cursor]))) {
    scan.cursor = number_end + 1;
    return true;
  }
  skip_past_space(scan);
  return false;
}

// The search for the next "v " from the cursor, which stands at the start of
// the z just read. Its white space and number hold no 'v', nor does the white
// space after it, so if "v " follows that, it is the first match.
static inline bool find_vertex_after(ScanCursor& scan, size_t number_end) {
  if (number_end != kNoNumber) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(scan.data) + number_end;
    while (is_space(*p)) ++p;  // stops at the 0 at end
    const size_t at = static_cast<size_t>(p - reinterpret_cast<const unsigned char*>(scan.data));
    if (scan.end - at >= 2 && p[0] == 'v' && p[1] == ' ') {
      scan.cursor = at + 2;
      return true;
    }
  }
  return find_token(scan, "v ", 2);
}

// Whether the vertex whose "v " stands at `at` was read as written
// (Vertex::as_written), asked in full: its three numbers read again from
// just past the "v ", with the same moves, noting where each starts.
template <bool (*move_on)(ScanCursor&, size_t)>
[[gnu::cold, gnu::noinline]] static bool read_as_written_slowly(const ScanCursor& text, size_t at) {
  ScanCursor cursor{text.data, text.end, at + 2};
  NumberPlace x, y, z;
  read_real(cursor, &x);
  move_on(cursor, x.end);
  read_real(cursor, &y);
  move_on(cursor, y.end);
  read_real(cursor, &z);
  if (y.at == kNoNumber || z.at == kNoNumber) return false;
  if (y.at == x.at || z.at == y.at) return false;
  return std::memchr(text.data + at, '\n', z.at - at) == nullptr;
}

// One vertex: the "v ", then x, y and z with `move_on` between them. The
// common case of as_written costs next to nothing: both moves took the
// space at once (so x and y each started at their cursor, and y and z were
// read right after the space that ends the number before) and z starts at
// its cursor, before end. Then only number text and two spaces lie between
// the "v " and z, and the three numbers differ. Otherwise the rule is asked
// in full.
template <bool (*move_on)(ScanCursor&, size_t)>
static inline bool next_vertex(VertexScan& scan, Vertex& vertex) {
  ScanCursor& cursor = scan.cursor;
  if (!find_vertex_after(cursor, scan.number_end)) return false;
  vertex.at = cursor.cursor - 2;
  NumberPlace number;
  vertex.x = read_real(cursor, &number);
  const bool x_plain = move_on(cursor, number.end);
  vertex.y = read_real(cursor, &number);
  const bool y_plain = move_on(cursor, number.end);
  vertex.z = read_real(cursor, &number);
  scan.number_end = number.end;
  vertex.as_written = (x_plain && y_plain && number.at == cursor.cursor && number.at != kNoNumber) ||
                      read_as_written_slowly<move_on>(cursor, vertex.at);
  return true;
}

[[gnu::flatten]] uint32_t next_first_frame_vertices(VertexScan& scan, Vertex* vertices, uint32_t room) {
  uint32_t count = 0;
  while (count < room && next_vertex<find_space_after>(scan, vertices[count])) ++count;
  return count;
}

[[gnu::flatten]] uint32_t next_later_frame_vertices(VertexScan& scan, Vertex* vertices, uint32_t room) {
  uint32_t count = 0;
  while (count < room && next_vertex<skip_space_after>(scan, vertices[count])) ++count;
  return count;
}

bool vertex_follows(const VertexScan& scan, size_t& at) {
  // find_token(cursor, end, "v ", 2), over what is mostly the rest of the frame.
  const ScanCursor& cursor = scan.cursor;
  if (cursor.cursor > cursor.end || cursor.end - cursor.cursor < 2) return false;
  const char* found = find_pair_far(cursor.data + cursor.cursor, cursor.data + cursor.end - 2, 'v', ' ');
  if (!found) return false;
  at = static_cast<size_t>(found - cursor.data);
  return true;
}

// Space, tab, vertical tab and form feed: white space that does not end a line.
static bool is_blank(unsigned char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

bool face_goes_on(const ScanCursor& scan) {
  const unsigned char* text = reinterpret_cast<const unsigned char*>(scan.data);
  size_t p = scan.cursor;
  while (p < scan.end && is_blank(text[p])) ++p;
  while (p < scan.end && !is_space(text[p])) ++p;
  while (p < scan.end && is_blank(text[p])) ++p;
  return p < scan.end && (is_digit(text[p]) || text[p] == '+' || text[p] == '-');
}

void read_face_line(ScanCursor& scan, int32_t (&references)[3]) {
  references[0] = read_integer(scan);
  find_token(scan, " ", 1);
  references[1] = read_integer(scan);
  find_token(scan, " ", 1);
  references[2] = read_integer(scan);
}

uint32_t line_of(const char* data, size_t at) {
  uint32_t newlines = 0;
  size_t i = 0;
#ifdef __SSE2__
  // Sixteen bytes a step: the first of a kind left out can stand millions of
  // bytes into a frame. Each byte lane counts up to 255 newlines before the
  // lanes are summed.
  const __m128i newline = _mm_set1_epi8('\n'), zero = _mm_setzero_si128();
  while (at - i >= 16) {
    __m128i lanes = zero;
    for (int step = 0; step < 255 && at - i >= 16; ++step, i += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
      lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(bytes, newline));
    }
    const __m128i sums = _mm_sad_epu8(lanes, zero);
    newlines += static_cast<uint32_t>(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
  }
#endif
  for (; i < at; ++i) newlines += data[i] == '\n';
  return 1 + newlines;
}

void count_out_of_range(const VertexStore& store, OutOfRange& coordinates, const char* data,
                        const Vertex& vertex) {
  const double xyz[3] = {vertex.x, vertex.y, vertex.z};
  for (int axis = 0; axis < 3; ++axis) {
    if (packs_in_range(xyz[axis], axis)) continue;
    if (coordinates.count++ == 0) {
      coordinates.first_line = line_of(data, vertex.at);
      coordinates.first_word = store.word_count;
    }
  }
}
