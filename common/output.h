// Writing output files whole. Each output is first written under a temporary
// name beside it ("aniv00.3d.tmp"). Only when every output of the run is
// complete are they moved into place, together: each earlier output is moved
// aside to a backup name beside it ("aniv00.3d.bak"), the new ones are moved in,
// and the backups are removed. A step that fails undoes the steps before it, so
// a run leaves either all new outputs or all earlier ones.
//
// note: a run killed while moving can leave a backup beside an output (or in
// place of one). It holds that output's earlier contents; the next run moves
// over it or removes it, and never fails because of it.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kTempNameBytes = 32;

// Creates or truncates `name` and writes `head` then `body`. Checks every write,
// the flush and the close; on failure removes what it created and returns false.
bool write_file(const char* name, const uint8_t* head, size_t head_bytes, const uint8_t* body,
                size_t body_bytes);

// The temporary name an output is written under: `name` + ".tmp".
void temp_name(const char* name, char (&temp)[kTempNameBytes]);

// The name an earlier output is moved aside to while the new one moves in:
// `name` + ".bak".
void backup_name(const char* name, char (&backup)[kTempNameBytes]);

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
