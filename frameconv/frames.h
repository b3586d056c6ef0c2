// The frame files anima000.obj, anima001.obj, ... that frameconv converts:
// their names, and reading one into the text buffer (frames.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "file_names.h"

// The most bytes of one frame file that are read; a longer file is cut there.
constexpr size_t kFrameReadLimit = 5000000;

// How loading a frame file went.
enum class FrameLoad { kRead, kMissing, kUnreadable };

// Reads up to kFrameReadLimit bytes of `name` into `text` (room for
// kFrameReadLimit + 1), from its first byte, sets `end` to their number and
// puts the 0 after them; `longer` says whether the file holds more than that. Only a file that does not exist
// is missing; one that exists but will not open or is no regular file (a directory, a FIFO, a device) cannot
// be read, just as one whose read fails; nothing waits on it.
FrameLoad load_frame(const char* name, char* text, size_t& end, bool& longer);

// Advances the three-digit frame number of "animaNNN.obj" by one, in place.
// The hundreds digit is not checked: after "anima999.obj" it becomes ':'.
void next_frame_name(char* name);

// The name of frame `frame` (below kFrameLimit): "anima007.obj".
void write_frame_name(uint32_t frame, char (&name)[kFrameNameBytes]);
