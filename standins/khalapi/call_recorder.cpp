#include "call_recorder.h"

#include <cstdio>
#include <cstring>

namespace {

void AppendHex(FILE* f, const uint8_t* bytes, int count) {
  for (int i = 0; i < count; ++i) fprintf(f, "%02x", bytes[i]);
}

FILE* Open() { return fopen(kCallRecordFile, "ab"); }

}  // namespace

void RecordPosition(const char* function, uint64_t position) {
  FILE* f = Open();
  if (!f) return;
  fprintf(f, "%s position=0x%016llx\n", function, static_cast<unsigned long long>(position));
  fclose(f);
}

void RecordControl(uint64_t device, int32_t code, const void* record) {
  FILE* f = Open();
  if (!f) return;
  const uint8_t* bytes = static_cast<const uint8_t*>(record);
  int32_t words[4];
  memcpy(words, bytes, sizeof words);
  fprintf(f, "LD_DeviceControl device=0x%016llx code=%d size=%d ", static_cast<unsigned long long>(device), code,
          words[0]);
  if (words[0] == 32) {
    uint64_t data;
    memcpy(&data, bytes + 16, sizeof data);
    fprintf(f, "words=%d,%d,%d data=", words[1], words[2], words[3]);
    if (data && words[3] > 0) AppendHex(f, reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(data)), words[3]);
  } else {
    fputs("raw=", f);
    AppendHex(f, bytes, 24);
  }
  fputc('\n', f);
  fclose(f);
}

void RecordInfo(uint64_t device, const void* record) {
  FILE* f = Open();
  if (!f) return;
  const uint8_t* bytes = static_cast<const uint8_t*>(record);
  int32_t size;
  memcpy(&size, bytes, sizeof size);
  fprintf(f, "LD_GetDeviceInfo device=0x%016llx size=%d info=", static_cast<unsigned long long>(device), size);
  AppendHex(f, bytes + 4, 64);
  fputc('\n', f);
  fclose(f);
}
