// The four functions of our stand-in device library. One source, seven
// builds: the emulated pad (default), VORN_KHALAPI_NOCONTROL (no
// LD_DeviceControl export), VORN_KHALAPI_RECORDING (the pad, every call
// recorded first), VORN_KHALAPI_ECHO (the echo rules instead of the pad),
// both of the last two (the echo rules, every call recorded first),
// VORN_KHALAPI_NO_STATE_FILE (the pad without its state file) with
// VORN_KHALAPI_CALL_COUNT (its calls counted, call_count.h), and the echo
// rules with the calls counted.
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "call_count.h"
#include "call_recorder.h"
#include "echo_rules.h"
#include "emulated_pad.h"

#define KHALAPI_EXPORT extern "C" __declspec(dllexport)

namespace {

#ifdef VORN_KHALAPI_RECORDING
constexpr bool kRecording = true;
#else
constexpr bool kRecording = false;
#endif

void CountCall() {
#ifdef VORN_KHALAPI_CALL_COUNT
  static KhalapiCallCount* count = OpenKhalapiCallCount();
  if (count) InterlockedIncrement(&count->calls);
#endif
}

#ifdef VORN_KHALAPI_ECHO
int32_t EchoControl(int32_t code, const void* record) {
  const uint8_t* bytes = static_cast<const uint8_t*>(record);
  int32_t words[4];
  memcpy(words, bytes, sizeof words);
  if (words[0] != 32) return EchoControlResult(code, words, nullptr, 0);
  uint64_t data;
  memcpy(&data, bytes + 16, sizeof data);
  return EchoControlResult(code, words, reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(data)), words[3]);
}

int32_t EchoInfo(void* record) {
  uint8_t* bytes = static_cast<uint8_t*>(record) + 4;
  int32_t sum = 0;
  for (int i = 0; i < 64; ++i) {
    sum += bytes[i];
    bytes[i] = EchoInfoByte(i, bytes[i]);
  }
  return sum;
}
#endif

int32_t Position(uint64_t* position, bool first) {
  CountCall();
  if (kRecording) RecordPosition(first ? "LD_GetFirstDevicePosition" : "LD_GetNextDevicePosition", *position);
#ifdef VORN_KHALAPI_ECHO
  const uint64_t before = *position;
  *position = EchoPosition(before, first);
  return EchoPositionResult(before, first);
#else
  return first ? PadFirstPosition(position) : PadNextPosition(position);
#endif
}

}  // namespace

KHALAPI_EXPORT int32_t LD_GetFirstDevicePosition(uint64_t* position) { return Position(position, true); }

KHALAPI_EXPORT int32_t LD_GetNextDevicePosition(uint64_t* position) { return Position(position, false); }

#ifndef VORN_KHALAPI_NOCONTROL
KHALAPI_EXPORT int32_t LD_DeviceControl(uint64_t device, int32_t code, void* record) {
  CountCall();
  if (kRecording) RecordControl(device, code, record);
#ifdef VORN_KHALAPI_ECHO
  (void)device;
  return EchoControl(code, record);
#else
  return PadControl(device, code, record);
#endif
}
#endif

KHALAPI_EXPORT int32_t LD_GetDeviceInfo(uint64_t device, void* record) {
  CountCall();
  if (kRecording) RecordInfo(device, record);
#ifdef VORN_KHALAPI_ECHO
  (void)device;
  return EchoInfo(record);
#else
  return PadDeviceInfo(device, record);
#endif
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
