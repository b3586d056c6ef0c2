#include "fault_hooks.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform.h"

void fault_point(const char* step, const char* name) {
  char point[128];
  std::snprintf(point, sizeof point, "%s%s%s", step, *name ? " " : "", name);
  const char* kill_at = std::getenv("ANIM3D_KILL_AT");
  if (kill_at && std::strcmp(kill_at, point) == 0) end_process_now();
  const char* hold_at = std::getenv("ANIM3D_HOLD_AT");
  const char* hold_file = std::getenv("ANIM3D_HOLD_FILE");
  if (!hold_at || !hold_file || std::strcmp(hold_at, point) != 0) return;
  FILE* held = std::fopen(hold_file, "wb");
  if (held) std::fclose(held);
  while ((held = std::fopen(hold_file, "rb"))) {
    std::fclose(held);
    pause_ms(5);
  }
}

bool fault_links_fail() { return std::getenv("ANIM3D_FAULT_NO_LINKS") != nullptr; }

int fault_lock_wait(int wait_ms) {
  const char* wait = std::getenv("ANIM3D_LOCK_WAIT_MS");
  return wait ? std::atoi(wait) : wait_ms;
}
