#include "output.h"

#include <cstdio>
#include <iterator>

#include "fault_hooks.h"
#include "file_names.h"
#include "folder_lock.h"
#include "platform.h"

namespace {

const char* program_name = "anim3d";

// The endings of a temporary, a backup and a commit's record, after the
// program's name.
constexpr char kTempEnding[] = "-new", kBackupEnding[] = "-old", kRecordEnding[] = "-commit";

// The most bytes of a path write_output_file takes, with its temporary's ending.
constexpr size_t kPathBytes = 4096;

// The programs that commit outputs in a folder, each with its outputs: a run
// of either puts back what a killed run of either left.
struct Committer {
  const char* program;
  const char* outputs[kMaxOutputs];
  int count;
};
constexpr Committer kCommitters[] = {{"frameconv", {kVertexAnimationName, kMeshName}, 2},
                                     {"clipmerge", {kVertexAnimationName, nullptr}, 1}};

}  // namespace

void set_program_name(const char* program) { program_name = program; }

// Writes `head` then `body` into `file`, flushes it to the disk and closes it;
// false if any of these fails.
static bool fill_file(FILE* file, const uint8_t* head, size_t head_bytes, const uint8_t* body,
                      size_t body_bytes) {
  bool ok = std::fwrite(head, 1, head_bytes, file) == head_bytes;
  if (ok && body_bytes > 0) ok = std::fwrite(body, 1, body_bytes, file) == body_bytes;
  ok = flush_to_disk(file) && ok;
  return std::fclose(file) == 0 && ok;
}

bool write_file(const char* name, const uint8_t* head, size_t head_bytes, const uint8_t* body,
                size_t body_bytes) {
  FILE* file = create_new_file(name);
  if (!file) return false;
  const bool ok = fill_file(file, head, head_bytes, body, body_bytes);
  if (!ok) remove_file(name);
  return ok;
}

// `name` + "~" + `program` + `ending` into `own` of `bytes` bytes; false if
// it does not fit.
static bool own_name(const char* name, const char* program, const char* ending, char* own, size_t bytes) {
  const int length = std::snprintf(own, bytes, "%s~%s%s", name, program, ending);
  return length >= 0 && static_cast<size_t>(length) < bytes;
}

void temp_name(const char* name, char (&temp)[kTempNameBytes]) {
  own_name(name, program_name, kTempEnding, temp, sizeof temp);
}

const char* fault_words(WriteFault fault) {
  static constexpr const char* kWords[] = {
      "it was written",
      "its name is too long",
      "its folder is missing or cannot be written in",
      "its name is taken by a folder, a read-only file or a file in use",
      "writing it failed: the disk may be full",
      "the earlier file cannot be kept as a backup",
      "the record of the commit cannot be made or removed",
      "the new file cannot be moved into place",
  };
  static_assert(std::size(kWords) == static_cast<size_t>(WriteFault::kNotMoved) + 1, "words for each fault");
  return kWords[static_cast<size_t>(fault)];
}

WriteFault write_output_file(const char* name, const uint8_t* head, size_t head_bytes, const uint8_t* body,
                             size_t body_bytes) {
  char temp[kPathBytes];
  if (!own_name(name, program_name, kTempEnding, temp, sizeof temp)) return WriteFault::kNameTooLong;
  FILE* file = create_new_file(temp);
  if (!file) return WriteFault::kNotCreated;
  // note: the name is looked at only once its folder has taken a file, so that
  // a missing folder is never taken for something in the way (Windows says
  // the one as the other).
  WriteFault fault = WriteFault::kNone;
  if (output_slot(name) == OutputSlot::kBlocked) {
    std::fclose(file);
    fault = WriteFault::kInTheWay;
  } else if (!fill_file(file, head, head_bytes, body, body_bytes)) {
    fault = WriteFault::kNotWritten;
  } else if (!replace_file(temp, name)) {
    fault = WriteFault::kNotMoved;
  }
  if (fault != WriteFault::kNone) {
    remove_file(temp);
    return fault;
  }
  flush_folder_of(name);
  return WriteFault::kNone;
}

namespace {

// `failed`, with `why` in `fault` where one is given.
const char* failed_for(const char* failed, WriteFault why, WriteFault* fault) {
  if (fault) *fault = why;
  return failed;
}

// A commit's own names: the record, and each output's temporary and backup.
struct Commit {
  const char* const* names;
  int count;
  char record[kTempNameBytes];
  char temp[kMaxOutputs][kTempNameBytes];
  char backup[kMaxOutputs][kTempNameBytes];

  Commit(const char* program, const char* const* outputs, int output_count)
      : names(outputs), count(output_count) {
    own_name(names[0], program, kRecordEnding, record, sizeof record);
    for (int i = 0; i < count; ++i) {
      own_name(names[i], program, kTempEnding, temp[i], sizeof temp[i]);
      own_name(names[i], program, kBackupEnding, backup[i], sizeof backup[i]);
    }
  }
};

// Copies the regular file `from` to `to`, created afresh and flushed to the
// disk; false, with nothing left at `to`, on failure.
bool copy_file(const char* from, const char* to) {
  bool missing = false;
  FILE* in = open_regular_file(from, missing);
  if (!in) return false;
  FILE* out = create_new_file(to);
  bool ok = out != nullptr;
  uint8_t chunk[1 << 16];
  for (size_t got; ok && (got = std::fread(chunk, 1, sizeof chunk, in)) > 0;) {
    ok = std::fwrite(chunk, 1, got, out) == got;
  }
  ok = ok && !std::ferror(in);
  std::fclose(in);
  if (!out) return false;
  ok = flush_to_disk(out) && ok;
  ok = std::fclose(out) == 0 && ok;
  if (!ok) remove_file(to);
  return ok;
}

// Gives the plain file `from` the second name `to` (link_file), unless the
// tests make file systems without links.
bool second_name(const char* from, const char* to) { return !fault_links_fail() && link_file(from, to); }

// Keeps the file at `name` as `backup`: a second name of it, or a copy where
// that cannot be had (no links on the file system, or `name` is a link).
bool keep_backup(const char* name, const char* backup) {
  remove_file(backup);
  return (is_plain_file(name) && second_name(name, backup)) || copy_file(name, backup);
}

// Puts back the earlier file of output `i` of a commit whose record stands,
// as the comment in output.h says; false if that cannot be done.
bool put_back(const Commit& commit, int i, MoveFile move) {
  const char* name = commit.names[i];
  const char* temp = commit.temp[i];
  const char* backup = commit.backup[i];
  if (!is_plain_file(backup)) {
    if (is_plain_file(temp)) return true;  // never moved in
    remove_file(name);
    return output_slot(name) == OutputSlot::kFree;
  }
  FileIdentity now, earlier;
  if (file_identity(name, now) && file_identity(backup, earlier) && now == earlier)
    return true;  // never replaced
  remove_file(temp);
  if (!second_name(backup, temp) && !copy_file(backup, temp)) return false;
  if (move(temp, name)) return true;
  remove_file(temp);
  return false;
}

// Removes a commit's temporaries and backups.
void remove_own_files(const Commit& commit) {
  for (int i = 0; i < commit.count; ++i) {
    remove_file(commit.temp[i]);
    if (remove_file(commit.backup[i])) fault_point("dropped backup", commit.names[i]);
  }
}

// Undoes a commit whose record stands, of which outputs [0, replaced) may have
// been replaced: puts each back, then removes the record and every own file.
// Returns nullptr, or the output that could not be put back, with the record
// and the backups kept for the next run.
const char* undo(const Commit& commit, int replaced, MoveFile move) {
  for (int i = 0; i < replaced; ++i) {
    if (!put_back(commit, i, move)) {
      for (int j = 0; j < commit.count; ++j) remove_file(commit.temp[j]);
      return commit.names[i];
    }
    fault_point("put back", commit.names[i]);
  }
  flush_folder_of(commit.names[0]);
  if (!remove_file(commit.record)) return commit.names[0];
  flush_folder_of(commit.names[0]);
  fault_point("undone");
  remove_own_files(commit);
  return nullptr;
}

// Gives up a commit before its record: removes its temporaries and backups.
// Returns `failed`, with `why` in `fault` where one is given.
const char* give_up(const Commit& commit, const char* failed, WriteFault why, WriteFault* fault) {
  remove_own_files(commit);
  return failed_for(failed, why, fault);
}

}  // namespace

const char* begin_outputs() {
  if (!lock_folder(kLockWaitMs)) return kVertexAnimationName;
  fault_point("locked");
  for (const Committer& committer : kCommitters) {
    const Commit commit(committer.program, committer.outputs, committer.count);
    if (is_plain_file(commit.record)) {
      if (const char* failed = undo(commit, commit.count, replace_file)) return failed;
    } else {
      remove_file(commit.record);  // a link planted there, never a record
      remove_own_files(commit);
    }
  }
  return nullptr;
}

bool unfinished_commit(const char* folder, char (&record)[kTempNameBytes]) {
  for (const Committer& committer : kCommitters) {
    own_name(committer.outputs[0], committer.program, kRecordEnding, record, sizeof record);
    char path[kPathBytes];
    const int length = std::snprintf(path, sizeof path, "%s%s%s", folder, *folder ? "/" : "", record);
    if (length >= 0 && static_cast<size_t>(length) < sizeof path && is_plain_file(path)) return true;
  }
  return false;
}

const char* commit_outputs(const char* const* names, int count, MoveFile move, WriteFault* fault) {
  if (!move) move = replace_file;
  if (fault) *fault = WriteFault::kNone;
  const Commit commit(program_name, names, count);
  fault_point("staged");
  // Nothing is done while any name is taken by something a file cannot replace.
  bool earlier[kMaxOutputs] = {};
  for (int i = 0; i < count; ++i) {
    const OutputSlot slot = output_slot(names[i]);
    if (slot == OutputSlot::kBlocked) return give_up(commit, names[i], WriteFault::kInTheWay, fault);
    earlier[i] = slot == OutputSlot::kFile;
  }
  for (int i = 0; i < count; ++i) {
    if (!earlier[i]) {
      // A file left at the backup name would be taken for the earlier output.
      remove_file(commit.backup[i]);
      if (is_plain_file(commit.backup[i])) return give_up(commit, names[i], WriteFault::kNotKept, fault);
      continue;
    }
    if (!keep_backup(names[i], commit.backup[i]))
      return give_up(commit, names[i], WriteFault::kNotKept, fault);
    fault_point("backed up", names[i]);
  }
  FILE* record = create_new_file(commit.record);
  if (!record || std::fclose(record) != 0) {
    remove_file(commit.record);
    return give_up(commit, names[0], WriteFault::kNotRecorded, fault);
  }
  flush_folder_of(names[0]);
  fault_point("recorded");
  for (int i = 0; i < count; ++i) {
    if (!move(commit.temp[i], names[i])) {
      undo(commit, i, move);
      return failed_for(names[i], WriteFault::kNotMoved, fault);
    }
    fault_point("replaced", names[i]);
  }
  // Every rename is on the disk before the record goes, or a power cut could
  // keep one of two without the record that puts it back. A single output is
  // whole either way: the flush after the record's removal is enough.
  if (count > 1) flush_folder_of(names[0]);
  if (!remove_file(commit.record)) {
    undo(commit, count, move);
    return failed_for(names[0], WriteFault::kNotRecorded, fault);
  }
  flush_folder_of(names[0]);
  fault_point("committed");
  remove_own_files(commit);
  return nullptr;
}
