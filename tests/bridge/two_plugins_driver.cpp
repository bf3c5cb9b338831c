// A 64-bit display host with two bridged display plug-ins loaded at once,
// for the chain test of two bridges side by side:
//   two_plugins_driver <first.dll> <second.dll>
// Loads both, Inits both (parameters " "), then writes to them in turn,
// each its own text ("<n>: line <i>" at line 1, n = 1 or 2), and ends with
// Done and FreeLibrary of each. Prints each Init's text; exit status 0, or
// 1 when a plug-in could not be loaded or its Init failed.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "display_session_entries.h"

int main(int argc, char** argv) {
  if (argc != 3) return 1;
  HMODULE modules[2] = {LoadLibraryA(argv[1]), LoadLibraryA(argv[2])};
  DisplaySessionEntries plugins[2];
  for (int n = 0; n < 2; ++n) {
    if (!plugins[n].Load(modules[n])) return 1;
    uint8_t ok = 0;
    printf("Init %d: %s\n", n + 1, plugins[n].init(16, 2, " ", &ok));
    if (ok != 1) return 1;
  }
  for (int i = 0; i < 6; ++i) {
    for (int n = 0; n < 2; ++n) {
      char text[17];
      snprintf(text, sizeof text, "%d: line %-8d", n + 1, i);
      plugins[n].set_position(1, 1);
      plugins[n].write(text);
    }
    Sleep(100);
  }
  for (int n = 0; n < 2; ++n) {
    plugins[n].done();
    FreeLibrary(modules[n]);
  }
  return 0;
}
