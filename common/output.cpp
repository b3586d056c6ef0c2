#include "output.h"

#include <cstdio>

#include "platform.h"

namespace {

const char* program_name = "anim3d";

// The endings of a temporary and of a backup, after the program's name.
constexpr char kTempEnding[] = "-new", kBackupEnding[] = "-old";

// The most bytes of a path write_output_file takes, with its temporary's ending.
constexpr size_t kPathBytes = 4096;

}  // namespace

void set_program_name(const char* program) { program_name = program; }

bool write_file(const char* name, const uint8_t* head, size_t head_bytes, const uint8_t* body,
                size_t body_bytes) {
  FILE* file = create_new_file(name);
  if (!file) return false;
  bool ok = std::fwrite(head, 1, head_bytes, file) == head_bytes;
  if (ok && body_bytes > 0) ok = std::fwrite(body, 1, body_bytes, file) == body_bytes;
  ok = flush_to_disk(file) && ok;
  ok = std::fclose(file) == 0 && ok;
  if (!ok) remove_file(name);
  return ok;
}

// `name` + "~" + the program's name + `ending` into `own` of `bytes` bytes;
// false if it does not fit.
static bool own_name(const char* name, const char* ending, char* own, size_t bytes) {
  const int length = std::snprintf(own, bytes, "%s~%s%s", name, program_name, ending);
  return length >= 0 && static_cast<size_t>(length) < bytes;
}

void temp_name(const char* name, char (&temp)[kTempNameBytes]) {
  own_name(name, kTempEnding, temp, sizeof temp);
}

void backup_name(const char* name, char (&backup)[kTempNameBytes]) {
  own_name(name, kBackupEnding, backup, sizeof backup);
}

bool write_output_file(const char* name, const uint8_t* head, size_t head_bytes, const uint8_t* body,
                       size_t body_bytes) {
  char temp[kPathBytes];
  if (!own_name(name, kTempEnding, temp, sizeof temp)) return false;
  if (output_slot(name) == OutputSlot::kBlocked || !write_file(temp, head, head_bytes, body, body_bytes)) {
    return false;
  }
  if (!replace_file(temp, name)) {
    remove_file(temp);
    return false;
  }
  flush_folder_of(name);
  return true;
}

namespace {

// One output on its way into place.
struct Output {
  char temp[kTempNameBytes];
  char backup[kTempNameBytes];
  bool earlier = false;      // an earlier file stood at the name
  bool moved_aside = false;  // ... and is now under the backup name
  bool moved_in = false;     // the new file is now under the name
};

// Undoes the moves made so far, the last first, and removes the temporaries.
void roll_back(const char* const* names, Output* outputs, int count, MoveFile move) {
  for (int i = count - 1; i >= 0; --i) {
    Output& output = outputs[i];
    if (output.moved_aside) {
      // Moving the backup back also takes the new file off the name. Should
      // that fail as well, the backup stays: it is the earlier output.
      move(output.backup, names[i]);
    } else if (output.moved_in) {
      remove_file(names[i]);  // no earlier file stood here
    }
    remove_file(output.temp);
  }
}

}  // namespace

const char* commit_outputs(const char* const* names, int count, MoveFile move) {
  // A backup name is made afresh, as a temporary is: whatever a killed run
  // left there goes first, and the move never replaces anything.
  MoveFile move_aside = move ? move : move_to_new_name;
  if (!move) move = replace_file;
  Output outputs[kMaxOutputs];
  for (int i = 0; i < count; ++i) {
    temp_name(names[i], outputs[i].temp);
    backup_name(names[i], outputs[i].backup);
  }
  // Nothing moves while any name is taken by something a file cannot replace.
  for (int i = 0; i < count; ++i) {
    const OutputSlot slot = output_slot(names[i]);
    if (slot == OutputSlot::kBlocked) {
      roll_back(names, outputs, count, move);
      return names[i];
    }
    outputs[i].earlier = slot == OutputSlot::kFile;
  }
  for (int i = 0; i < count; ++i) {
    if (!outputs[i].earlier) continue;
    remove_file(outputs[i].backup);
    if (!move_aside(names[i], outputs[i].backup)) {
      roll_back(names, outputs, count, move);
      return names[i];
    }
    outputs[i].moved_aside = true;
  }
  for (int i = 0; i < count; ++i) {
    if (!move(outputs[i].temp, names[i])) {
      roll_back(names, outputs, count, move);
      return names[i];
    }
    outputs[i].moved_in = true;
  }
  // The new outputs are on the disk under their names before any earlier one
  // goes.
  flush_folder_of(names[0]);
  // A backup left by a run that was killed while moving goes too: the name is
  // this program's own.
  for (int i = 0; i < count; ++i) remove_file(outputs[i].backup);
  return nullptr;
}
