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

#include "display_session_entries.h"

int main(int argc, char** argv) {
  const int length = argc > 1 ? atoi(argv[1]) : 0;
  HMODULE module = LoadLibraryA("displays\\QX20481.dll");
  DisplaySessionEntries plugin;
  uint8_t ok = 0;
  if (!plugin.Load(module)) return 1;
  printf("Init: %s\n", plugin.init(16, 2, " ", &ok));
  if (ok != 1) return 1;
  std::string text;
  for (int i = 0; i < length; ++i) text += static_cast<char>('A' + i % 26);
  plugin.set_position(1, 1);
  plugin.write(text.c_str());
  plugin.done();
  FreeLibrary(module);
  return 0;
}
