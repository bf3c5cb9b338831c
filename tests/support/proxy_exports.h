#pragma once
// The four LD_ functions of a loaded VornApx.dll, looked up by their plain
// names as the vendor layer looks them up.

#include <windows.h>

#include <cstdint>

#include "typed_export.h"

// The proxy's exports, with 32-bit arguments.
struct ProxyExports {
  using PositionFn = int32_t(__cdecl*)(int32_t*);
  using InfoFn = int32_t(__cdecl*)(int32_t, void*);
  using ControlFn = int32_t(__cdecl*)(int32_t, int32_t, const void*);
  PositionFn first = nullptr;
  PositionFn next = nullptr;
  InfoFn info = nullptr;
  ControlFn control = nullptr;

  // False when one of the four is missing.
  bool Load(HMODULE dll) {
    first = LookupExport<PositionFn>(dll, "LD_GetFirstDevicePosition");
    next = LookupExport<PositionFn>(dll, "LD_GetNextDevicePosition");
    info = LookupExport<InfoFn>(dll, "LD_GetDeviceInfo");
    control = LookupExport<ControlFn>(dll, "LD_DeviceControl");
    return first && next && info && control;
  }
};
