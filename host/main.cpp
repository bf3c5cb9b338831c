// Vorn64BitInterface.exe (and, built for 32-bit, Vorn32BitInterface.exe):
// serves the 32-bit proxy's calls with the vendor library. Its command line
// is ignored; it reports only through its log file.
#include "poll_loop.h"

int main() { return RunPollLoop(); }
