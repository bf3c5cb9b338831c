// A 64-bit caller of the 64-bit QX20481.dll for the chain test of a write
// longer than the bridge's record holds:
//   long_write_driver <characters>
// Init (parameters " "), SetPosition(1, 1), one Write of that many
// characters ('A' + i % 26), Done. Exit status 0, or 1 when Init failed.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "typed_export.h"

int main(int argc, char** argv) {
  using InitFn = const char*(WINAPI*)(uint32_t, uint32_t, const char*, uint8_t*);
  using VoidFn = void(WINAPI*)();
  using WriteFn = void(WINAPI*)(const char*);
  using PositionFn = void(WINAPI*)(uint32_t, uint32_t);
  const int length = argc > 1 ? atoi(argv[1]) : 0;
  HMODULE module = LoadLibraryA("displays\\QX20481.dll");
  auto init = LookupExport<InitFn>(module, "DISPLAYDLL_Init");
  auto done = LookupExport<VoidFn>(module, "DISPLAYDLL_Done");
  auto write = LookupExport<WriteFn>(module, "DISPLAYDLL_Write");
  auto set_position = LookupExport<PositionFn>(module, "DISPLAYDLL_SetPosition");
  uint8_t ok = 0;
  if (!init || !done || !write || !set_position) return 1;
  printf("Init: %s\n", init(16, 2, " ", &ok));
  if (ok != 1) return 1;
  std::string text;
  for (int i = 0; i < length; ++i) text += static_cast<char>('A' + i % 26);
  set_position(1, 1);
  write(text.c_str());
  done();
  FreeLibrary(module);
  return 0;
}
