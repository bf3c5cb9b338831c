#pragma once
// The vendor's device library as the host calls it (64-bit, or 32-bit in
// the 32-bit build). Its four
// function names are the vendor's; bind_vendor_library is the system's own.

#include <windows.h>

#include <cstdint>

#include "vendor_path.h"

#ifdef _WIN64
using VendorPosition = uint64_t;
using VendorDevice = uint64_t;
#else
// Vorn32BitInterface.exe: the vendor's 32-bit library takes the 32-bit
// words and records that its 32-bit callers (the layer) hand it.
using VendorPosition = int32_t;
using VendorDevice = int32_t;
#endif
using GetFirstDevicePositionFn = int32_t (*)(VendorPosition* position);
using GetNextDevicePositionFn = int32_t (*)(VendorPosition* position);
using DeviceControlFn = int32_t (*)(VendorDevice device, int32_t code, void* record);
using GetDeviceInfoFn = int32_t (*)(VendorDevice device, void* record);

struct VendorLibrary {
  HMODULE module;
  GetFirstDevicePositionFn get_first_device_position;
  GetNextDevicePositionFn get_next_device_position;
  DeviceControlFn device_control;
  GetDeviceInfoFn get_device_info;
};

extern VendorLibrary g_vendor;

// 0 when all four entry points were found; -1 when the library did not
// load; -2 when an entry point was not found (the later ones are not looked up).
int32_t bind_vendor_library();
