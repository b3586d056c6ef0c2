// The lock that keeps the runs in a folder apart: one run of frameconv or
// clipmerge at a time writes there, and the Blender add-on's export holds the
// same lock. The lock belongs to the process: the system releases it however
// the process ends (platform.h says how each system keeps it).
#pragma once

// Takes the current folder's lock, waiting up to `wait_ms` while another
// process holds it; false if it is held still. Where no lock can be had at
// all (a folder that cannot be opened, or written on Windows; a file system
// without locks) the run goes on without one.
//
// A parent that holds the lock may hand it down to the run (the add-on's
// export does, so that no other run gets in between its steps): the
// environment variable ANIM3D_FOLDER_LOCK names, in decimal, the descriptor
// or handle the run inherits. It counts only when it is this folder's lock
// (platform.h, try_handed_folder_lock); otherwise the run takes the lock
// itself, and waits as any run does.
bool lock_folder(int wait_ms);

// Gives the lock up, if the run holds it: a run does as it shows its result,
// so that the next run need not wait for the user. A handed-down lock stays
// with the parent.
void unlock_folder();
