// Writing output files whole. Each output is first written under a temporary
// name beside it ("aniv00.3d~frameconv-new"), created afresh (never through a
// link) and flushed to the disk. Only when every output of the run is complete
// are they moved into place, together: each earlier output is moved aside to a
// backup name beside it ("aniv00.3d~frameconv-old"), the new ones are moved in,
// the folder is flushed, and the backups are removed. A step that fails undoes
// the steps before it, so a run leaves either all new outputs or all earlier
// ones, also after a power cut.
//
// The temporary and backup names carry the program's name and a "~", so no
// user's file (an "aniv00.3d.bak" of their own) is ever one of them: a run
// creates, replaces and removes only names of its own and its outputs.
//
// note: a run killed while moving can leave a backup beside an output (or in
// place of one). It holds that output's earlier contents; the next run of the
// same program removes it, and never fails because of it.
#pragma once

#include <cstddef>
#include <cstdint>

// Room for an output's name (at most 9 characters here) with the longest
// ending a temporary or backup gets ("~inspect3d-new").
constexpr size_t kTempNameBytes = 32;

// Names the program whose temporaries and backups these are ("frameconv");
// their names carry it. The entry point calls it first; until then "anim3d".
void set_program_name(const char* program);

// Creates `name` afresh as create_new_file does (whatever stood at the name
// removed first, never written through a link), writes `head` then `body` and
// flushes it to the disk. Checks every write, the flush and the close; on
// failure removes what it created and returns false.
bool write_file(const char* name, const uint8_t* head, size_t head_bytes, const uint8_t* body,
                size_t body_bytes);

// The temporary name an output is written under: `name` + "~PROGRAM-new".
void temp_name(const char* name, char (&temp)[kTempNameBytes]);

// The name an earlier output is moved aside to while the new one moves in:
// `name` + "~PROGRAM-old".
void backup_name(const char* name, char (&backup)[kTempNameBytes]);

// Writes `head` then `body` (either may be empty; never joined in memory) as
// the one output `name` (a path of any length): through its temporary,
// flushed, then moved over an earlier file unless output_slot says that one is
// in the way. False, with nothing left beside it, on failure.
bool write_output_file(const char* name, const uint8_t* head, size_t head_bytes, const uint8_t* body,
                       size_t body_bytes);

// Moves a file over another, as replace_file does; tests pass one that fails
// when they say.
using MoveFile = bool (*)(const char* from, const char* to);

// Moves the temporary of each of `names` (at most kMaxOutputs) into place, all
// or none, as described above. On failure every earlier output is back under
// its name, no temporary is left, and the result is the name that could not be
// replaced; on success the result is nullptr. Should moving an earlier output
// back fail too, its backup is kept, never removed.
constexpr int kMaxOutputs = 2;
const char* commit_outputs(const char* const* names, int count, MoveFile move = nullptr);
