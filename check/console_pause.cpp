#include "console_pause.h"

#include <cstdio>

void PauseIfAloneOnConsole() {
  if (ConsoleProcessCount() != 1) return;
  printf("\nPress Enter to close this window.\n");
  fflush(stdout);
  int c;
  do c = getchar();
  while (c != '\n' && c != EOF);
}
