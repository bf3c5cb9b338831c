// The benchmark's host program: the host's own core, with a sleep that
// also counts every 1 ms poll sleep into the benchmark's counter section.
// Never shipped; the benchmark runs it under the host program's name.
#include <windows.h>

#include "bench_counters.h"
#include "host_service.h"
#include "sleep_seam.h"

namespace {

BenchCounters* g_counters;

void CountingSleep(uint32_t milliseconds) {
  if (milliseconds == 1 && g_counters) InterlockedIncrement(&g_counters->host_sleeps);
  Sleep(milliseconds);
}

}  // namespace

int main() {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, kBenchCountersName);
  if (mapping) g_counters = static_cast<BenchCounters*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
  SetSleepFunction(CountingSleep);
  return RunHostService();
}
