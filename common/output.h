// Writing output files whole. Each output NAME is first written under a
// temporary name beside it, NAME~PROGRAM-new ("aniv00.3d~frameconv-new"),
// created afresh (never through a link) and flushed to the disk. Only when
// every output of the run is complete are they moved into place, together,
// by the commit below; a kill or a power cut at any instant leaves the
// earlier outputs, the new ones, or what the next run needs to put the
// earlier ones back. One run at a time: begin_outputs takes the folder's lock
// first.
//
// The commit of outputs N1 (and N2) by PROGRAM, step by step:
//   1. each Ni that holds a file is kept as its backup Ni~PROGRAM-old: a
//      second name of the same file, or a copy, flushed, where the file
//      system has no links;
//   2. the record N1~PROGRAM-commit is created and the folder flushed: from
//      here on a kill is undone by the next run;
//   3. each Ni~PROGRAM-new is renamed over Ni: one rename, so Ni never stands
//      empty;
//   4. the folder is flushed (for one output the next flush will do); the
//      record is removed and the folder flushed again: from here on the new
//      outputs stand;
//   5. the backups are removed.
// What a kill leaves, and what the next run (begin_outputs) does with it:
//   - no record (a kill before 2 or after 4): the outputs are the earlier
//     pair or the new one, whole; any -new and -old files beside them are
//     leftovers, and are removed;
//   - the record (a kill in 2 to 4): the outputs may be a mix. Each output is
//     put back: from its backup where it has one; with none it held no file
//     before, so a new file moved in (its -new gone) is removed, and an
//     output whose -new is still there was never touched. Then the folder is
//     flushed, the record removed, the folder flushed, and the backups and
//     temporaries removed. Putting back restores a backup through the -new
//     name (link, then rename) and removes no backup before the record, so a
//     kill while putting back leaves the record, and the next run does it
//     again.
// A backup is thus never removed while its pair is not whole. The temporary,
// backup and record names carry the program's name and a "~", so no user's
// file (an "aniv00.3d.bak" of their own) is ever one of them: a run creates,
// replaces and removes only names of its own and its outputs.
#pragma once

#include <cstddef>
#include <cstdint>

// Room for an output's name (at most 9 characters here) with the longest
// ending an own name gets ("~inspect3d-new", "~frameconv-commit").
constexpr size_t kTempNameBytes = 32;

constexpr int kMaxOutputs = 2;

constexpr int kLockWaitMs = 60000;

// Names the program whose temporaries and backups these are ("frameconv");
// their names carry it. The entry point calls it first; until then "anim3d".
void set_program_name(const char* program);

// Readies the current folder for the run's outputs, before the run's first
// write and before it reads anything: takes the folder's lock (lock_folder,
// waiting up to kLockWaitMs), then puts back the earlier outputs of a commit
// that a killed run of frameconv or clipmerge left (see above), and removes
// both programs' leftovers. Returns nullptr, or the output to name in "Cannot
// write NAME": the first output, aniv00.3d, when the lock stayed held; the
// output that could not be put back, whose record and backups then stay.
const char* begin_outputs();

// Whether `folder` (UTF-8, "" for the current one) holds the record of a
// commit of frameconv or clipmerge that a kill interrupted; its name
// ("aniv00.3d~frameconv-commit") into `record`.
bool unfinished_commit(const char* folder, char (&record)[kTempNameBytes]);

// Creates `name` afresh as create_new_file does (whatever stood at the name
// removed first, never written through a link), writes `head` then `body` and
// flushes it to the disk. Checks every write, the flush and the close; on
// failure removes what it created and returns false.
bool write_file(const char* name, const uint8_t* head, size_t head_bytes, const uint8_t* body,
                size_t body_bytes);

// The temporary name an output is written under: `name` + "~PROGRAM-new".
void temp_name(const char* name, char (&temp)[kTempNameBytes]);

// Why an output could not be written, one value a cause, each with its words
// (fault_words) for "cannot write NAME: ...". The same words on every system:
// each cause is the step that failed, never the system's own error text.
enum class WriteFault {
  kNone,         // written
  kNameTooLong,  // no room for the name with its temporary's ending
  kNotCreated,   // no file could be created in the output's folder
  kInTheWay,     // output_slot: something that is not replaced stands at the name
  kNotWritten,   // a write, the flush or the close failed
  kNotKept,      // commit: the earlier output could not be kept as its backup
  kNotRecorded,  // commit: its record could not be created or removed
  kNotMoved,     // the new file could not be moved over the name
};
const char* fault_words(WriteFault fault);

// Writes `head` then `body` (either may be empty; never joined in memory) as
// the one output `name` (a path of any length): through its temporary,
// flushed, then moved over an earlier file unless output_slot says that one is
// in the way. Leaves nothing beside it on failure, and says why.
WriteFault write_output_file(const char* name, const uint8_t* head, size_t head_bytes, const uint8_t* body,
                             size_t body_bytes);

// Moves a file over another, as replace_file does; tests pass one that fails
// when they say.
using MoveFile = bool (*)(const char* from, const char* to);

// Moves the temporary of each of `names` (at most kMaxOutputs) into place, all
// or none, as described above. On failure every earlier output is back under
// its name, no temporary is left, and the result is the name that could not be
// replaced, with why in `fault` where one is given; on success the result is
// nullptr. Should putting an earlier output back fail too, the record and the
// backups stay for the next run.
const char* commit_outputs(const char* const* names, int count, MoveFile move = nullptr,
                           WriteFault* fault = nullptr);
