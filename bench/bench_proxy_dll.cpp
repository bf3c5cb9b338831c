// The benchmark's VornApx.dll: the proxy's own core with the benchmark's
// waits (bench_waits.h), set up when the library is loaded. Never shipped.
#include <windows.h>

#include "bench_counters.h"
#include "bench_waits.h"
#include "channel.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    BenchCounters* counters = OpenBenchCounters();
    InstallBenchWaits(counters ? &counters->proxy_run_out : nullptr);
    if (BenchSignalsOff()) CommsDisableSignals();
  }
  return TRUE;
}
