// The ten functions of the stand-in MediaPadLayer.dll, with the vendor
// layer's calling conventions: getMediapadUID (entry in uid_entry_block.S)
// is a C function returning a double; the others are standard-convention
// functions that take the 8-byte UID by value in two stack slots, low word
// first. The vendor declares that parameter a double; we take it as a
// record of 8 bytes, which travels identically, so that the bytes are
// recorded and sent exactly as they arrived (a copy through the x87 unit
// would quieten a signalling-NaN bit pattern).

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "layer_backend.h"
#include "pad_protocol.h"

struct Uid {
  uint8_t bytes[8];
};
static_assert(sizeof(Uid) == sizeof(double), "the UID takes two stack slots");

namespace {

int32_t Command(const char* function, const Uid& uid, int32_t command, int32_t arg1, int32_t arg2, const char* record,
                const char* data = nullptr, int32_t data_count = 0) {
  return BackendCommand(LayerCall{function, uid.bytes, command, arg1, arg2, data, data_count, record});
}

}  // namespace

extern "C" {

double __cdecl LayerGetMediapadUID(double* uid) {
  uint8_t bytes[8] = {};
  const double result = BackendQueryUid(bytes);
  if (uid) memcpy(uid, bytes, sizeof bytes);
  return result;
}

int32_t WINAPI makeBeep(Uid uid) { return Command("makeBeep", uid, kPadCmdBeep, 0, 0, ""); }

int32_t WINAPI controlLed(Uid uid, int32_t state) {
  char record[16];
  snprintf(record, sizeof record, " %d", state);
  return Command("controlLed", uid, kPadCmdLed, state, 0, record);
}

int32_t WINAPI clearScreen(Uid uid) { return Command("clearScreen", uid, kPadCmdClear, 0, 0, ""); }

int32_t WINAPI SetMode(Uid uid, int32_t mode) {
  char record[16];
  snprintf(record, sizeof record, " %d", mode);
  return Command("SetMode", uid, kPadCmdMode, mode, 0, record);
}

int32_t WINAPI setLine(Uid uid, int32_t line, const char* text, int32_t style) {
  const int32_t count = text ? static_cast<int32_t>(strnlen(text, kPadLineLength)) : 0;
  char record[48];
  snprintf(record, sizeof record, " %d |%.*s| %d", line, static_cast<int>(count), text ? text : "", style);
  return Command("setLine", uid, kPadCmdSetLine, line, style, record, text, count);
}

int32_t WINAPI SetIconState(Uid uid, int32_t icon, int32_t state) {
  char record[32];
  snprintf(record, sizeof record, " %d %d", icon, state);
  return Command("SetIconState", uid, kPadCmdIcon, icon, state, record);
}

#ifndef LAYER_WITHOUT_OPTIONAL
// The plug-in resolves these three but never calls them; they answer
// without reaching the pad.
int32_t WINAPI GetMode(Uid, int32_t* mode) {
  if (mode) *mode = 0;
  return 0;
}
int32_t WINAPI registerclearEvent(Uid, void*) { return 0; }
int32_t WINAPI registerkeyEvent(Uid, void*) { return 0; }
#endif

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
