#include "console_pause.h"

DWORD ConsoleProcessCount() {
  DWORD processes[2];
  return GetConsoleProcessList(processes, 2);
}
