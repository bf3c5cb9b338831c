#include "console_pause.h"

DWORD ConsoleProcessCount() {
  // Input from a pipe or a file means a program runs the tool (the setup
  // program does, in a hidden console of the tool's own): nobody is there
  // to press Enter.
  DWORD mode = 0;
  if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) return 0;
  DWORD processes[2];
  return GetConsoleProcessList(processes, 2);
}
