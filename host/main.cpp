// Vorn64BitInterface.exe (and, built for 32-bit, Vorn32BitInterface.exe):
// serves the 32-bit proxy's calls with the vendor library. Its command line
// is ignored; it reports only through its log file. A crash ends it at
// once, so that the proxy's launcher sees it gone and starts another.
#include "crash_exit.h"
#include "poll_loop.h"

int main() {
  EndAtOnceOnCrash();
  return RunPollLoop();
}
