#pragma once
// The vendor's 64-bit device library as the host calls it. Its four
// function names are the vendor's; bind_vendor_library is the system's own.

#include <windows.h>

#include <cstdint>

#include "vendor_path.h"

using GetFirstDevicePositionFn = int32_t (*)(uint64_t* position);
using GetNextDevicePositionFn = int32_t (*)(uint64_t* position);
using DeviceControlFn = int32_t (*)(uint64_t device, int32_t code, void* record);
using GetDeviceInfoFn = int32_t (*)(uint64_t device, void* record);

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
