// frameconv: converts the frame sequence anima000.obj, anima001.obj, ... in the
// current directory into the vertex animation file aniv00.3d and the mesh file
// data00.3d.
#pragma once

#include <cstddef>

// The most bytes of one frame file that are read; a longer file is cut there.
constexpr size_t kFrameReadLimit = 5000000;

// Advances the three-digit frame number of "animaNNN.obj" by one, in place.
// The hundreds digit is not checked: after "anima999.obj" it becomes ':'.
void next_frame_name(char* name);
