// The recording variant: every call is appended as one line to the file
// named by VORN_LAYER_RECORD (default "layer_calls.txt" in the current
// directory), and nothing reaches a pad. The test sets the answers in the
// environment, read at every call:
//   VORN_LAYER_RESULT_<function>  result of that function (default 0)
//   VORN_LAYER_UID                the UID, 16 hex digits, stored little-endian
//   VORN_LAYER_UID_AFTER          number of first queries that give a zero UID
//   VORN_LAYER_ZERO_UID           the bit pattern of that zero UID (default 0)
//   VORN_LAYER_UID_RESULT         getMediapadUID's result (default 0)
// Lines: "getMediapadUID" or "<function> <16 hex digits: the UID bytes in
// memory order><the other arguments>".

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "layer_backend.h"

namespace {

constexpr unsigned long long kDefaultUid = 0x1122334455667788ull;

int g_uid_queries;  // since the layer was loaded

bool ReadVariable(const char* name, char* value, DWORD size) {
  DWORD n = GetEnvironmentVariableA(name, value, size);
  return n > 0 && n < size;
}

long long NumberVariable(const char* name, long long fallback) {
  char value[64];
  return ReadVariable(name, value, sizeof value) ? strtoll(value, nullptr, 0) : fallback;
}

void Record(const char* line) {
  char path[MAX_PATH];
  if (!ReadVariable("VORN_LAYER_RECORD", path, sizeof path)) strcpy(path, "layer_calls.txt");
  if (FILE* file = fopen(path, "a")) {
    fprintf(file, "%s\n", line);
    fclose(file);
  }
}

}  // namespace

double BackendQueryUid(uint8_t uid[8]) {
  Record("getMediapadUID");
  ++g_uid_queries;
  const bool answered = g_uid_queries > NumberVariable("VORN_LAYER_UID_AFTER", 0);
  char text[64];
  unsigned long long value = answered ? kDefaultUid : 0;
  if (ReadVariable(answered ? "VORN_LAYER_UID" : "VORN_LAYER_ZERO_UID", text, sizeof text))
    value = strtoull(text, nullptr, 16);
  memcpy(uid, &value, 8);
  return static_cast<double>(NumberVariable("VORN_LAYER_UID_RESULT", 0));
}

int32_t BackendCommand(const LayerCall& call) {
  char line[128];
  int n = snprintf(line, sizeof line, "%s ", call.function);
  for (int i = 0; i < 8 && n > 0 && n < static_cast<int>(sizeof line) - 2; ++i)
    n += snprintf(line + n, sizeof line - n, "%02x", call.uid[i]);
  snprintf(line + n, sizeof line - n, "%s", call.record);
  Record(line);
  char name[64];
  snprintf(name, sizeof name, "VORN_LAYER_RESULT_%s", call.function);
  return static_cast<int32_t>(NumberVariable(name, 0));
}
