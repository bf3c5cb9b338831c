#pragma once
// The display plug-in's entry points that a display host drives a session
// with, in the display host's calling form, looked up by their plain names
// as the display host looks them up. One definition for every program that
// loads a plug-in: the 64-bit plug-in's helper, the stand-in display host,
// the tests and the benchmark.

#include <windows.h>

#include <cstdint>

#include "typed_export.h"

struct DisplaySessionEntries {
  using InitFn = const char*(WINAPI*)(uint32_t, uint32_t, const char*, uint8_t*);
  using VoidFn = void(WINAPI*)();
  using WriteFn = void(WINAPI*)(const char*);
  using PositionFn = void(WINAPI*)(uint32_t, uint32_t);
  InitFn init = nullptr;
  VoidFn done = nullptr;
  WriteFn write = nullptr;
  PositionFn set_position = nullptr;

  // False when one of the four is missing.
  bool Load(HMODULE plugin) {
    init = LookupExport<InitFn>(plugin, "DISPLAYDLL_Init");
    done = LookupExport<VoidFn>(plugin, "DISPLAYDLL_Done");
    write = LookupExport<WriteFn>(plugin, "DISPLAYDLL_Write");
    set_position = LookupExport<PositionFn>(plugin, "DISPLAYDLL_SetPosition");
    return init && done && write && set_position;
  }
};
