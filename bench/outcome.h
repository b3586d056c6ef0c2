// How the driver judges the way a run ended: the output it expects, and how
// far frameconv got when its vertex store filled.
#pragma once

#include <cstddef>
#include <string>

// frameconv's and clipmerge's closing line after a whole conversion.
constexpr char kCompleteLine[] = "Conversion Complete: Conversion Complete";

// A pattern (see matches) of frameconv's closing line after a whole
// conversion, plain or naming what the files leave out ("Conversion
// Complete, but 9602 faces past the limit of 10000 (...): Conversion
// Complete", as set B, of more faces than are read, ends).
constexpr char kConvertedLine[] = "Conversion Complete*: Conversion Complete";

// Whether `text` is `pattern`, where one '*' in pattern stands for any text
// (the counts a floor or the peer prints). Without a '*', text must equal it.
bool matches(const std::string& pattern, const std::string& text);

// From frameconv's closing line on a set of frame_count frames: N when it is
// "Conversion Error: Vertex store full at animaNNN.obj" with 0 < N <
// frame_count, so that the first N frames filled the store; else 0.
size_t frames_before_store_full(const std::string& closing, size_t frame_count);
