// The platform layer: the only code that differs between Windows and elsewhere
// lives in platform.cpp and entry.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Shows how the run went and returns when the user has seen it. On Windows a
// modal message box (text as body, caption as title, one OK button, no icon)
// owned by the thread's active window; elsewhere one line "text: caption" on
// standard output. Every run ends with exactly one call.
void report_result(const char* text, const char* caption);

// File names are UTF-8 throughout; on Windows the functions below hand them to
// the wide-character file functions, never to the ANSI code page.

// What stands at an output's name: nothing, a regular file that a finished
// output may replace, or something else in the way (a directory, or a file
// without any write permission, which the user has protected: a rename would
// ignore the permission, so the decision is made here, also for root).
enum class OutputSlot { kFree, kFile, kBlocked };
OutputSlot output_slot(const char* name);

// Moves the file `from` over `to`, replacing `to` if it exists. False if the
// move did not happen (on Windows, for one, when either file is held open by
// another program without delete sharing); both files are then as they were.
// On Windows the move is written through to the disk before it returns.
bool replace_file(const char* from, const char* to);

// Moves the file `from` to `to`, which must not exist: never replaces
// anything, never follows a link at `to`.
bool move_to_new_name(const char* from, const char* to);

// Removes the name `name` (a link itself, never what it points to; on Windows
// only a plain file, never a link or a folder); false if nothing was removed.
bool remove_file(const char* name);

// Creates `name` afresh for writing: whatever stands at the name (a file or a
// link left by an interrupted run) is removed first, as remove_file does,
// then the name is created exclusively, never through a link (POSIX O_CREAT | O_EXCL | O_NOFOLLOW,
// Windows CREATE_NEW). nullptr if that fails.
FILE* create_new_file(const char* name);

// Flushes `file` to the disk (fsync, FlushFileBuffers); false if that fails.
bool flush_to_disk(FILE* file);

// Makes the renames in the folder holding `name` durable (an fsync of the
// folder; Windows writes renames through already). Best effort: a file system
// that cannot flush a folder changes nothing.
void flush_folder_of(const char* name);

// Opens `name` for reading if it is a regular file. Never waits: a FIFO, a
// device or a socket (on Windows a device name such as "anima000.obj" can be
// made to mean) is refused without blocking. nullptr if not opened, with
// `missing` saying whether nothing stands at the name.
FILE* open_regular_file(const char* name, bool& missing);

// Moves the position of `file` to `offset` bytes from its start, also beyond
// 2 GiB (in the 32-bit Windows build too); false if that fails.
bool seek_file(FILE* file, uint64_t offset);

// What tells one file from every other, whatever name reaches it: device and
// inode; volume and file index on Windows.
struct FileIdentity {
  uint64_t volume = 0, index = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of what `name` names; false if nothing can be found there.
bool file_identity(const char* name, FileIdentity& identity);

// The one large buffer of a run, of `bytes` bytes, or nullptr if memory is
// short; release_buffer gives it back.
void* allocate_buffer(size_t bytes);
void release_buffer(void* buffer, size_t bytes);

// Makes standard output and standard error pass their bytes on as they are,
// so that a report is the same on every system (on Windows they would turn
// each "\n" into "\r\n"). Console programs call it first thing.
void use_binary_standard_streams();

// Makes a write past a file size limit (ulimit -f) fail as any failed write
// does, instead of ending the program by the signal SIGXFSZ; a no-op where
// there is no such signal.
void ignore_file_size_signal();

// Readies a console program: use_binary_standard_streams and
// ignore_file_size_signal, and on Windows replaces `argv` with the arguments
// of the wide-character command line in UTF-8, so that a name of any
// characters reaches the program whole.
void start_console_program(int& argc, char**& argv);

// The whole run of a program, defined by each program; its result is the exit
// status. The entry point calls it and ignores the command line.
int program_main();
