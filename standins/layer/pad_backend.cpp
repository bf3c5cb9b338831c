// Serves the layer through VornApx.dll, loaded by file name as the patched
// vendor layer loads it, in the emulated pad's protocol.

#include <windows.h>

#include <cstring>

#include "layer_backend.h"
#include "pad_protocol.h"
#include "typed_export.h"

namespace {

using DeviceControlFn = int32_t(__cdecl*)(int32_t device, int32_t code, const void* control);
using DeviceInfoFn = int32_t(__cdecl*)(int32_t device, void* info);
using PositionFn = int32_t(__cdecl*)(int32_t* position);

constexpr int32_t kNoProxy = -1;
constexpr int32_t kHeaderSize = 24;
constexpr int32_t kInfoBytes = 64;  // bytes 4-67 of the pad's record, which the host copies back

struct Proxy {
  bool attempted;
  DeviceControlFn control;
  DeviceInfoFn info;
  PositionFn first;
  PositionFn next;
};
Proxy g_proxy;
int32_t g_device;  // low 32 bits of the pad's device value; the host keeps the whole one

// Loaded once; a missing proxy or function makes every call fail with kNoProxy.
bool ProxyReady() {
  if (!g_proxy.attempted) {
    g_proxy.attempted = true;
    if (HMODULE apx = LoadLibraryA("VornApx.dll")) {
      g_proxy.control = LookupExport<DeviceControlFn>(apx, "LD_DeviceControl");
      g_proxy.info = LookupExport<DeviceInfoFn>(apx, "LD_GetDeviceInfo");
      g_proxy.first = LookupExport<PositionFn>(apx, "LD_GetFirstDevicePosition");
      g_proxy.next = LookupExport<PositionFn>(apx, "LD_GetNextDevicePosition");
    }
  }
  return g_proxy.control && g_proxy.info && g_proxy.first && g_proxy.next;
}

#pragma pack(push, 4)
struct ControlRequest {
  int32_t header_size;
  int32_t arg1;
  int32_t arg2;
  int32_t data_count;
  int32_t unused[2];
  char data[kPadLineLength];
};
struct InfoRequest {
  int32_t count;
  uint8_t bytes[kInfoBytes];
};
#pragma pack(pop)
static_assert(sizeof(ControlRequest) == kHeaderSize + kPadLineLength, "header directly followed by the data");

}  // namespace

double BackendQueryUid(uint8_t uid[8]) {
  memset(uid, 0, 8);
  if (!ProxyReady()) return kNoProxy;
  int32_t position = static_cast<int32_t>(kPadStartPosition);
  int32_t result = g_proxy.first(&position);
  if (result != kPadOk) return result;
  result = g_proxy.next(&position);
  if (result != kPadOk) return result;
  if (static_cast<uint32_t>(position) == kPadEndOfList) return kPadNoDevice;
  InfoRequest info = {};
  info.count = kInfoBytes;
  result = g_proxy.info(position, &info);
  if (result != kPadOk) return result;
  g_device = position;
  memcpy(uid, info.bytes, 8);
  return 0;
}

int32_t BackendCommand(const LayerCall& call) {
  if (!ProxyReady()) return kNoProxy;
  ControlRequest request = {};
  request.header_size = kHeaderSize;
  request.arg1 = call.arg1;
  request.arg2 = call.arg2;
  const int32_t count = call.data_count < kPadLineLength ? call.data_count : kPadLineLength;
  request.data_count = count > 0 ? count : 0;
  if (count > 0) memcpy(request.data, call.data, static_cast<size_t>(count));
  return g_proxy.control(g_device, call.command, &request);
}
