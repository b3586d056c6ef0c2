#include "folder_lock.h"

#include <cstdlib>

#include "fault_hooks.h"
#include "platform.h"

namespace {

// While another process holds the folder's lock, it is tried again every
// kLockPollMs.
constexpr int kLockPollMs = 20;

// note: the one environment variable a released program reads. A run started any other
// way than by a parent that holds the lock never has it, and then waits as
// every run does.
constexpr char kHandedLockVariable[] = "ANIM3D_FOLDER_LOCK";

// The number the parent handed down, or -1 where none (or no number) is.
long long handed_lock_number() {
  const char* value = std::getenv(kHandedLockVariable);
  if (!value || *value < '0' || *value > '9') return -1;
  char* end = nullptr;
  const long long number = std::strtoll(value, &end, 10);
  return *end == 0 && number >= 0 ? number : -1;
}

// A lock handed down for this folder is the run's lock; any other hand-down is
// ignored, and the run takes the lock itself.
LockTry try_lock_folder() {
  const long long handed = handed_lock_number();
  if (handed >= 0) {
    const LockTry tried = try_handed_folder_lock(handed);
    if (tried != LockTry::kNone) return tried;
  }
  return try_own_folder_lock();
}

}  // namespace

bool lock_folder(int wait_ms) {
  wait_ms = fault_lock_wait(wait_ms);
  for (int waited = 0;; waited += kLockPollMs) {
    if (try_lock_folder() != LockTry::kHeld) return true;
    if (waited >= wait_ms) return false;
    pause_ms(kLockPollMs);
  }
}

void unlock_folder() { close_folder_lock(); }
