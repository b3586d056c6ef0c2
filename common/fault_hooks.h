// The points of a run where the tests' fault-injection build of the programs
// (ANIM3D_FAULT_HOOKS, the *_faults targets, which alone compile
// fault_hooks.cpp) can stop it; in every other build they do nothing.
// fault_point marks the point "step name" ("replaced aniv00.3d"; "locked"):
// the run is killed there when the environment variable ANIM3D_KILL_AT names
// it, and held there when ANIM3D_HOLD_AT does: it creates the file
// ANIM3D_HOLD_FILE and waits while that exists. fault_links_fail makes
// a second name of a file fail (ANIM3D_FAULT_NO_LINKS set), as on a file
// system without hard links; fault_lock_wait gives the wait for the folder's
// lock in milliseconds (ANIM3D_LOCK_WAIT_MS, else `wait_ms`).
#pragma once

#ifdef ANIM3D_FAULT_HOOKS
void fault_point(const char* step, const char* name = "");
bool fault_links_fail();
int fault_lock_wait(int wait_ms);
#else
inline void fault_point(const char*, const char* = "") {}
inline bool fault_links_fail() { return false; }
inline int fault_lock_wait(int wait_ms) { return wait_ms; }
#endif
