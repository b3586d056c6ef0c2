// The platform layer: the only code that differs between Windows and elsewhere
// lives in platform.cpp and entry.cpp.
#pragma once

#include <cstddef>

// Shows how the run went and returns when the user has seen it. On Windows a
// modal message box (text as body, caption as title, one OK button, no icon)
// owned by the thread's active window; elsewhere one line "text: caption" on
// standard output. Every run ends with exactly one call.
void report_result(const char* text, const char* caption);

// What stands at an output's name: nothing, a regular file that a finished
// output may replace, or something else in the way (a directory).
enum class OutputSlot { kFree, kFile, kBlocked };
OutputSlot output_slot(const char* name);

// Moves the file `from` over `to`, replacing `to` if it exists. False if the
// move did not happen (on Windows, for one, when either file is held open by
// another program without delete sharing); both files are then as they were.
bool replace_file(const char* from, const char* to);

// The one large buffer of a run, of `bytes` bytes, or nullptr if memory is
// short; release_buffer gives it back.
void* allocate_buffer(size_t bytes);
void release_buffer(void* buffer, size_t bytes);

// Makes standard output and standard error pass their bytes on as they are,
// so that a report is the same on every system (on Windows they would turn
// each "\n" into "\r\n"). Console programs call it first thing.
void use_binary_standard_streams();

// The whole run of a program, defined by each program; its result is the exit
// status. The entry point calls it and ignores the command line.
int program_main();
