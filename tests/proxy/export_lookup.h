#pragma once
// Looking up the four LD_ functions in a loaded library by their plain
// names, as the vendor layer does with VornApx.dll.

#include <windows.h>

#include <cstdint>
#include <cstring>

template <typename Fn>
Fn LookupExport(HMODULE dll, const char* name) {
  FARPROC p = GetProcAddress(dll, name);
  Fn fn = nullptr;
  memcpy(&fn, &p, sizeof fn);
  return fn;
}

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
