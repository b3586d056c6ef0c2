// The platform layer: the operating system's calls, one file a platform
// (platform_posix.cpp, platform_windows.cpp, and the entry points
// entry_posix.cpp and entry_windows.cpp), chosen by the build. Nothing else
// differs between Windows and elsewhere; the rules built on these calls (the
// folder's lock, the run's buffer, the fault points of the tests) live in
// files of their own.
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

// Whether `name` is a regular file itself: not a link to one, nor anything else.
bool is_plain_file(const char* name);

// Gives the plain file `from` the second name `to`, which must not exist (a
// hard link). False on a file system without such links, or on failure.
bool link_file(const char* from, const char* to);

// Moves the file `from` over `to`, replacing `to` if it exists. False if the
// move did not happen (on Windows, for one, when either file is held open by
// another program without delete sharing); both files are then as they were.
// On Windows the move is written through to the disk before it returns.
bool replace_file(const char* from, const char* to);

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

// The folder's lock as the system keeps it (folder_lock.h puts it to use):
// one try each, saying whether the lock was taken, is held by another
// process, or cannot be had here at all. try_own_folder_lock tries through a
// descriptor or handle of the run's own; try_handed_folder_lock through the
// descriptor or handle `number` a parent handed down: kNone when that is no
// lock of the current folder, kTaken when it holds the lock for this run,
// kHeld while another process holds it. close_folder_lock closes whichever
// holds it (a handed-down one leaves the parent's lock held).
//   POSIX: flock(LOCK_EX) on the folder itself, opened read-only; nothing is
//     left in the folder. A handed-down descriptor counts when it is the
//     current folder, by device and inode; flock belongs to the open folder,
//     which parent and child share.
//   Windows: LockFileEx(LOCKFILE_EXCLUSIVE_LOCK), byte 0, length 1, on the
//     file "anim3d~lock" in the folder, opened (created if need be) with read,
//     write and delete access, sharing read, write and delete, and
//     FILE_FLAG_DELETE_ON_CLOSE: the file goes with the last process that has
//     it open. A handed-down handle counts when it is this folder's
//     "anim3d~lock", by volume and file index; the byte it cannot take
//     through it is its parent's.
enum class LockTry { kTaken, kHeld, kNone };
LockTry try_own_folder_lock();
LockTry try_handed_folder_lock(long long number);
void close_folder_lock();

// Waits `milliseconds`.
void pause_ms(int milliseconds);

// Ends the process at once, as a kill would (the tests' fault points).
void end_process_now();

// Anonymous memory straight from the system, for the run's buffer (buffer.h):
// `length` bytes, zero-filled, or nullptr where none is had this way (always
// on Windows, where the heap serves). unmap_pages gives back any whole pages
// of it; advise_huge_pages asks for huge pages, a hint that may go unheard.
void* map_pages(size_t length);
void unmap_pages(void* start, size_t length);
void advise_huge_pages(void* start, size_t length);

// Makes standard output and standard error pass their bytes on as they are,
// so that a report is the same on every system (on Windows they would turn
// each "\n" into "\r\n"). Console programs call it first thing.
void use_binary_standard_streams();

// Makes a write past a file size limit (ulimit -f) fail as any failed write
// does, instead of ending the program by the signal SIGXFSZ; a no-op where
// there is no such signal.
void ignore_file_size_signal();

// The whole run of a program, defined by each program; its result is the exit
// status. The entry point calls it and ignores the command line.
int program_main();
