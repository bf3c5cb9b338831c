#include "vendor_library.h"

#include <cstdio>

#include "debug_log.h"
#include "system_error.h"
#include "typed_export.h"

VendorLibrary g_vendor;

namespace {

// Looks one entry point up and logs the outcome; false when it is missing.
template <typename Fn>
bool Resolve(const char* name, Fn* slot) {
  FARPROC address = GetProcAddress(g_vendor.module, name);
  *slot = FunctionCast<Fn>(address);
  if (!address) {
    LogWrite("Failed at GetProcAddress for khalapi.dll/", name);
    return false;
  }
  LogWritef("GETFN", "%s at address 0x%016llX", name,
            static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(address)));
  return true;
}

}  // namespace

int32_t bind_vendor_library() {
  g_vendor.module = nullptr;
  g_vendor.module = LoadLibraryA(kVendorLibraryPath);
  if (!g_vendor.module) {
    const DWORD code = GetLastError();
    char message[512];
    FormatSystemError(message, sizeof message, code, "Error %d - %s");
    LogWrite("Failed to load khalapi.dll library", message);
    return -1;
  }
  if (!Resolve("LD_GetFirstDevicePosition", &g_vendor.get_first_device_position)) return -2;
  if (!Resolve("LD_GetNextDevicePosition", &g_vendor.get_next_device_position)) return -2;
  if (!Resolve("LD_DeviceControl", &g_vendor.device_control)) return -2;
  if (!Resolve("LD_GetDeviceInfo", &g_vendor.get_device_info)) return -2;
  LogWrite("Init", "KhalApi.dll loaded");
  return 0;
}
