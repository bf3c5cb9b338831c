// The emulated pad as the vendor's 32-bit device library, for
// Vorn32BitInterface.exe on 32-bit Windows: 32-bit device and position
// words, the caller's 24-byte control record (the data's address at bytes
// 16-19) and its information record (a count word, then the bytes). Each
// call is put into the pad's own records.
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "emulated_pad.h"
#include "pad_protocol.h"

#define KHALAPI_EXPORT extern "C" __declspec(dllexport)

namespace {

constexpr int32_t kHeaderSize32 = 24;
constexpr int32_t kInfoBytes = 64;

int32_t Position(int32_t* position, bool first) {
  uint64_t wide = static_cast<uint32_t>(*position);
  const int32_t result = first ? PadFirstPosition(&wide) : PadNextPosition(&wide);
  *position = static_cast<int32_t>(static_cast<uint32_t>(wide));
  return result;
}

// The pad's device values reach past 32 bits; a 32-bit caller holds their
// low words.
uint64_t Device(int32_t device) {
  const int index = PadIndexFromLow32(static_cast<uint32_t>(device));
  return index < 0 ? 0 : kPadDeviceBase + static_cast<uint64_t>(index);
}

}  // namespace

KHALAPI_EXPORT int32_t LD_GetFirstDevicePosition(int32_t* position) { return Position(position, true); }

KHALAPI_EXPORT int32_t LD_GetNextDevicePosition(int32_t* position) { return Position(position, false); }

KHALAPI_EXPORT int32_t LD_DeviceControl(int32_t device, int32_t code, void* record) {
  int32_t words[5];
  memcpy(words, record, sizeof words);
  if (words[0] != kHeaderSize32) return kPadBadRecord;
  uint8_t wide[kPadControlRecordSize] = {};
  const int32_t size = kPadControlRecordSize;
  const uint64_t data = static_cast<uint32_t>(words[4]);
  memcpy(wide, &size, 4);
  memcpy(wide + 4, &words[1], 12);
  memcpy(wide + 16, &data, 8);
  return PadControl(Device(device), code, wide);
}

KHALAPI_EXPORT int32_t LD_GetDeviceInfo(int32_t device, void* record) {
  int32_t count;
  memcpy(&count, record, sizeof count);
  if (count < kInfoBytes) return kPadBadRecord;
  uint8_t wide[kPadInfoRecordSize] = {};
  const int32_t size = kPadInfoRecordSize;
  memcpy(wide, &size, 4);
  const int32_t result = PadDeviceInfo(Device(device), wide);
  memcpy(static_cast<uint8_t*>(record) + 4, wide + 4, kInfoBytes);
  return result;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
