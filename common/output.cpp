#include "output.h"

#include <cstdio>

#include "platform.h"

bool write_file(const char* name, const uint8_t* head, size_t head_bytes, const uint8_t* body,
                size_t body_bytes) {
  FILE* file = std::fopen(name, "wb");
  if (!file) return false;
  bool ok = std::fwrite(head, 1, head_bytes, file) == head_bytes;
  if (ok && body_bytes > 0) ok = std::fwrite(body, 1, body_bytes, file) == body_bytes;
  ok = std::fflush(file) == 0 && ok;
  ok = std::fclose(file) == 0 && ok;
  if (!ok) std::remove(name);
  return ok;
}

void temp_name(const char* name, char (&temp)[kTempNameBytes]) {
  std::snprintf(temp, sizeof temp, "%s.tmp", name);
}

void backup_name(const char* name, char (&backup)[kTempNameBytes]) {
  std::snprintf(backup, sizeof backup, "%s.bak", name);
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
      std::remove(names[i]);  // no earlier file stood here
    }
    std::remove(output.temp);
  }
}

}  // namespace

const char* commit_outputs(const char* const* names, int count, MoveFile move) {
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
    if (!move(names[i], outputs[i].backup)) {
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
  // A backup left by a run that was killed while moving goes too, but never
  // anything else of that name.
  for (int i = 0; i < count; ++i) {
    if (output_slot(outputs[i].backup) == OutputSlot::kFile) std::remove(outputs[i].backup);
  }
  return nullptr;
}
