// The platform layer: the only code that differs between Windows and elsewhere
// lives in platform.cpp and entry.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Shows how the run went and returns when the user has seen it. On Windows a
// modal message box (text as body, caption as title, one OK button, no icon)
// owned by the thread's active window; elsewhere one line "text: caption" on
// standard output. Every run ends with exactly one call. It releases the
// folder's lock (lock_folder) first: the next run need not wait for the user.
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

// Takes the lock that keeps the runs in the current folder apart, waiting up
// to `wait_ms` while another process holds it; false if it is held still.
// Where no lock can be had at all (a folder that cannot be opened, or written
// on Windows; a file system without locks) the run goes on without one. The
// lock belongs to the process: the system releases it however the process
// ends. The Blender add-on takes the same lock:
//   POSIX: flock(LOCK_EX) on the folder itself, opened read-only; nothing is
//     left in the folder.
//   Windows: LockFileEx(LOCKFILE_EXCLUSIVE_LOCK), byte 0, length 1, on the
//     file "anim3d~lock" in the folder, opened (created if need be) with read,
//     write and delete access, sharing read, write and delete, and
//     FILE_FLAG_DELETE_ON_CLOSE: the file goes with the last process that has
//     it open.
// A parent that holds the lock may hand it down to the run (the add-on's
// export does, so that no other run gets in between its steps): the
// environment variable ANIM3D_FOLDER_LOCK names, in decimal, the descriptor
// or handle the run inherits. It counts only when it is the current folder
// itself (POSIX, by device and inode) or its "anim3d~lock" (Windows, by volume
// and file index), and the lock is held through it: on POSIX the flock of
// that open folder, which parent and child share; on Windows the byte that
// the run cannot take because its parent holds it. Otherwise the run takes
// the lock itself, and waits as any run does. Ending the run closes the
// handed-down descriptor and leaves the parent's lock held.
bool lock_folder(int wait_ms);

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

// The points of a run where the tests' fault-injection build of the programs
// (ANIM3D_FAULT_HOOKS) can stop it; in every other build they do nothing.
// fault_point marks the point "step name" ("replaced aniv00.3d"; "locked"):
// the run is killed there when the environment variable ANIM3D_KILL_AT names
// it, and held there when ANIM3D_HOLD_AT does: it creates the file
// ANIM3D_HOLD_FILE and waits while that exists. fault_links_fail makes
// link_file fail (ANIM3D_FAULT_NO_LINKS set); fault_lock_wait gives the wait
// for the folder's lock in milliseconds (ANIM3D_LOCK_WAIT_MS, else `wait_ms`).
#ifdef ANIM3D_FAULT_HOOKS
void fault_point(const char* step, const char* name = "");
bool fault_links_fail();
int fault_lock_wait(int wait_ms);
#else
inline void fault_point(const char*, const char* = "") {}
inline bool fault_links_fail() { return false; }
inline int fault_lock_wait(int wait_ms) { return wait_ms; }
#endif

// The whole run of a program, defined by each program; its result is the exit
// status. The entry point calls it and ignores the command line.
int program_main();
