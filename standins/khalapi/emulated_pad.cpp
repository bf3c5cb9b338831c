#include "emulated_pad.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct PadState {
  char lines[2][kPadLineLength];
  int32_t led;
  int32_t mode;
  int32_t icons[4];
  int32_t beeps;
  int32_t commands;
};

PadState g_pads[kPadMaxPads];
bool g_ready;

void Ready() {
  if (g_ready) return;
  g_ready = true;
  for (PadState& pad : g_pads) memset(pad.lines, ' ', sizeof pad.lines);
}

// Only the first pad's state is shown; the others exist for enumeration.
void WriteStateFile() {
#ifdef VORN_KHALAPI_NO_STATE_FILE
  return;  // the benchmark's pad: what a call costs without the file
#endif
  const PadState& pad = g_pads[0];
  char temporary[64];
  snprintf(temporary, sizeof temporary, "%s.tmp", kPadStateFile);
  FILE* f = fopen(temporary, "wb");
  if (!f) return;
  fprintf(f, "line0=|%.16s|\nline1=|%.16s|\n", pad.lines[0], pad.lines[1]);
  fprintf(f, "led=%d\nmode=%d\nicons=%d %d %d %d\nbeeps=%d\ncommands=%d\n", pad.led, pad.mode, pad.icons[0],
          pad.icons[1], pad.icons[2], pad.icons[3], pad.beeps, pad.commands);
  fclose(f);
  // A reader that holds the file open without delete sharing makes the
  // replace fail for a moment; try again rather than leave a stale state.
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (MoveFileExA(temporary, kPadStateFile, MOVEFILE_REPLACE_EXISTING)) return;
    Sleep(1);
  }
}

struct ControlRecord {
  int32_t size;
  int32_t arg1;
  int32_t arg2;
  int32_t count;
  uint64_t data;
  uint8_t unused[8];
};

int32_t Apply(PadState& pad, int32_t command, const ControlRecord& r) {
  switch (command) {
    case kPadCmdSetLine: {
      if (r.arg1 < 0 || r.arg1 > 1 || r.count < 1 || r.count > kPadLineLength || r.data == 0) return kPadBadArgument;
      const char* text = reinterpret_cast<const char*>(static_cast<uintptr_t>(r.data));
      memset(pad.lines[r.arg1], ' ', kPadLineLength);
      memcpy(pad.lines[r.arg1], text, static_cast<size_t>(r.count));
      return kPadOk;
    }
    case kPadCmdLed: pad.led = r.arg1; return kPadOk;
    case kPadCmdMode: pad.mode = r.arg1; return kPadOk;
    case kPadCmdIcon:
      if (r.arg1 < 0 || r.arg1 > 3) return kPadBadArgument;
      pad.icons[r.arg1] = r.arg2;
      return kPadOk;
    case kPadCmdBeep: ++pad.beeps; return kPadOk;
    case kPadCmdClear: memset(pad.lines, ' ', sizeof pad.lines); return kPadOk;
    case kPadCmdHold:
      if (r.arg1 < 0 || r.arg1 > 10000) return kPadBadArgument;
      Sleep(static_cast<DWORD>(r.arg1));
      return kPadOk;
    default: return kPadBadCommand;
  }
}

}  // namespace

int PadCount() {
  const char* text = getenv("VORN_PAD_COUNT");
  int n = text ? atoi(text) : 1;
  return n < 1 ? 1 : (n > kPadMaxPads ? kPadMaxPads : n);
}

int PadIndexFromLow32(uint32_t low32) {
  for (int i = 0; i < PadCount(); ++i)
    if (static_cast<uint32_t>(kPadDeviceBase + i) == low32) return i;
  return -1;
}

int PadIndexFromDevice(uint64_t device) {
  for (int i = 0; i < PadCount(); ++i)
    if (kPadDeviceBase + i == device) return i;
  return -1;
}

int32_t PadFirstPosition(uint64_t* position) {
  *position = kPadStartPosition;
  return kPadOk;
}

int32_t PadNextPosition(uint64_t* position) {
  const uint32_t low32 = static_cast<uint32_t>(*position);
  int next = 0;
  if (*position != kPadStartPosition) {
    const int current = PadIndexFromLow32(low32);
    next = current < 0 ? PadCount() : current + 1;
  }
  if (next >= PadCount()) {
    *position = kPadEndOfList;
    return kPadEndOfListResult;
  }
  *position = kPadDeviceBase + next;
  return kPadOk;
}

int32_t PadDeviceInfo(uint64_t device, void* record) {
  const int index = PadIndexFromDevice(device);
  if (index < 0) return kPadNoDevice;
  uint8_t* bytes = static_cast<uint8_t*>(record);
  int32_t size;
  memcpy(&size, bytes, sizeof size);
  if (size != kPadInfoRecordSize) return kPadBadRecord;
  memset(bytes + 4, 0, 64);
  const uint64_t uid = kPadUidBase + index;
  memcpy(bytes + 4, &uid, sizeof uid);
  memcpy(bytes + 12, &kPadProductId, sizeof kPadProductId);
  memcpy(bytes + 16, &kPadFirmware, sizeof kPadFirmware);
  memcpy(bytes + 20, "MediaPad", 8);
  snprintf(reinterpret_cast<char*>(bytes + 52), 16, "MP-%08d", index);
  return kPadOk;
}

int32_t PadControl(uint64_t device, int32_t command, void* record) {
  Ready();
  const int index = PadIndexFromDevice(device);
  if (index < 0) return kPadNoDevice;
  int32_t size;
  memcpy(&size, record, sizeof size);
  if (size != kPadControlRecordSize) return kPadBadRecord;
  ControlRecord r;
  memcpy(&r, record, sizeof r);
  PadState& pad = g_pads[index];
  const int32_t result = Apply(pad, command, r);
  if (result == kPadOk) {
    ++pad.commands;
    WriteStateFile();
  }
  return result;
}
