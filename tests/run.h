// Helpers for tests that work with real files: a fresh temporary directory,
// whole-file reads and writes, and runs of a built program inside it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// A fresh directory under the system's temporary directory, removed with all
// it holds when the test is done.
struct TempDir {
  std::filesystem::path path;
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::filesystem::path operator/(const std::string& name) const { return path / name; }
};

void write_bytes(const std::filesystem::path& file, const std::string& bytes);
std::optional<std::string> read_bytes(const std::filesystem::path& file);

// The names of the entries in `dir`, sorted.
std::vector<std::string> list_dir(const std::filesystem::path& dir);

// How a run of a program ended: its exit status and the closing messages it
// showed ("text: caption" each).
struct RunResult {
  int exit_status = -1;
  std::vector<std::string> messages;
};

// The program a test runs: the path in the environment variable `variable`
// (ANIM3D_FRAMECONV, ANIM3D_CLIPMERGE, ANIM3D_INSPECT3D) when it is set, else `built`, the
// program built beside the tests. So the same tests run against another build
// of the programs, the Windows executables among them. Under Wine (below) the
// variable must name a ".exe": the run ends at once, with a message, if not.
std::string program_under_test(const char* variable, const std::string& built);

// True when the tests run Windows executables under Wine: ANIM3D_WINE names
// the Wine loader that run_program starts them with.
bool running_under_wine();

// Runs `program` in `dir` with three arguments it must ignore. A program whose
// name ends in ".exe" runs under the Wine loader ANIM3D_WINE (in the prefix
// WINEPREFIX, with no display), anything else directly. Natively each line on
// standard output is a message. Under Wine each message box is one, read from
// Wine's relay trace of user32.MessageBoxA; a box not shown the way the
// Windows platform layer promises (owner from GetActiveWindow, style 0:
// MB_OK, no icon) gets what was wrong added to its message, so that it fails
// the test's check of the messages.
RunResult run_program(const std::string& program, const std::filesystem::path& dir);

// Runs `program` as run_program does, once, with the environment variables
// `variables` ("NAME=value" each) set for it; under Wine it is not started a
// second time when it shows no message (a run the test ends on purpose).
RunResult run_program_with(const std::vector<std::string>& variables, const std::string& program,
                           const std::filesystem::path& dir);

// Runs `program` as run_program does while `held`, a file in `dir`, can be
// neither renamed nor replaced. Under Wine the helper ANIM3D_HOLD_OPEN names
// holds it open without delete sharing, as a viewer may; natively it is made
// immutable for the run (chattr +i). Nothing where neither can be done
// (natively that needs root and a file system with the attribute).
std::optional<RunResult> run_with_output_held(const std::string& program, const std::filesystem::path& dir,
                                              const std::string& held);
constexpr char kCannotHoldOutputs[] =
    "cannot make a file immutable here (needs root and a file system with chattr +i)";

// Whether the programs built beside the tests carry the sanitizers, which
// reserve far more address space than a memory limit leaves.
#ifdef ANIM3D_PROGRAMS_SANITIZED
constexpr bool kProgramsSanitized = true;
#else
constexpr bool kProgramsSanitized = false;
#endif

// What a parent that holds the folder's lock hands down to its child in
// ANIM3D_FOLDER_LOCK (folder_lock.h, lock_folder): the descriptor or handle that
// holds it; nothing; one of another folder (POSIX) or file (Windows); a second
// one of the folder (POSIX) or its lock file (Windows) that holds nothing; a
// number that names nothing open.
enum class HandedLock { kHeld, kNone, kOther, kUnheld, kClosed };

// Runs `program` in `dir` twice, as run_program_with does with `variables`,
// under a parent that holds the folder's lock there all the while: first as
// its child, handed `hand`, then as a run started by hand, handed nothing.
// The messages of both runs, in order; the exit status of the first. Natively
// the test is the parent; under Wine the helper ANIM3D_HAND_LOCK is
// (tests/hand_lock.cpp).
RunResult run_under_locking_parent(HandedLock hand, const std::vector<std::string>& variables,
                                   const std::string& program, const std::filesystem::path& dir);

// Runs a native `program` as run_program does, with its address space limited
// to `kilobytes`, so that a large allocation fails.
RunResult run_program_with_memory_limit(const std::string& program, const std::filesystem::path& dir,
                                        int kilobytes);

// Runs a native `program` as run_program does, through the shell with
// `before` in front of it: "ulimit -f 8 && " for a file size limit, "timeout
// -s KILL 20 " so that a run that would wait for ever ends (status 137).
RunResult run_program_after(const std::string& before, const std::string& program,
                            const std::filesystem::path& dir);

// The message-box calls of a relay trace as messages, checked as run_program
// does.
std::vector<std::string> message_boxes_in_trace(const std::string& trace);

// How a run with arguments ended: its exit status and all it wrote to standard
// output and standard error.
struct CapturedRun {
  int exit_status = -1;
  std::string out;
  std::string err;
};

// Runs `program` with `args` in `dir`; a ".exe" under the Wine loader
// ANIM3D_WINE, with no display and none of Wine's own messages.
CapturedRun run_program(const std::string& program, const std::filesystem::path& dir,
                        const std::vector<std::string>& args);

// Bytes from pairs of hex digits; white space between them is ignored.
std::string from_hex(const char* hex);

// Little-endian fields, for building and checking expected bytes.
std::string u16le(uint16_t value);
std::string u32le(uint32_t value);
