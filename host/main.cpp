// Vorn64BitInterface.exe: serves the 32-bit proxy's calls with the 64-bit
// vendor library. Its command line is ignored; it reports only through its
// log file.
#include "poll_loop.h"

int main() { return RunPollLoop(); }
