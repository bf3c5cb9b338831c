// The check tool's console-process count for its test build: the number in
// VORN_TEST_CONSOLE_PROCESSES (0 without it), since a console of its own,
// as a double-click gives, cannot be made here.
#include <cstdlib>

#include "console_pause.h"

DWORD ConsoleProcessCount() {
  char value[16];
  const DWORD n = GetEnvironmentVariableA("VORN_TEST_CONSOLE_PROCESSES", value, sizeof value);
  return n > 0 && n < sizeof value ? strtoul(value, nullptr, 10) : 0;
}
