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

static void remove_temps(const char* const* names, int count) {
  for (int i = 0; i < count; ++i) {
    char temp[kTempNameBytes];
    temp_name(names[i], temp);
    std::remove(temp);
  }
}

const char* commit_outputs(const char* const* names, int count) {
  for (int i = 0; i < count; ++i) {
    if (!can_replace(names[i])) {
      remove_temps(names, count);
      return names[i];
    }
  }
  for (int i = 0; i < count; ++i) {
    char temp[kTempNameBytes];
    temp_name(names[i], temp);
    if (!replace_file(temp, names[i])) {
      remove_temps(names + i, count - i);
      return names[i];
    }
  }
  return nullptr;
}
