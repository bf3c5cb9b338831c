// One DISPLAYDLL_Write through the 64-bit QX20481.dll, its helper and the
// 32-bit chain behind it, for proxy_bench's session (not a test). Run in a
// folder laid out as the 64-bit display host's, with the session's proxy,
// host program and device library:
//   bridge_bench <writes>
// prints "row DISPLAYDLL_Write64 <median> <p99> <proxy run out> <host run out>".
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "bench_counters.h"
#include "bench_timing.h"
#include "display_session_entries.h"

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  const int writes = argc > 1 ? atoi(argv[1]) : 200;
  const BenchCounters* counters = OpenBenchCounters();
  HMODULE module = LoadLibraryA("displays\\QX20481.dll");
  DisplaySessionEntries plugin;
  uint8_t ok = 0;
  if (!counters || !plugin.Load(module) || (plugin.init(16, 2, " ", &ok), ok != 1)) {
    fprintf(stderr, "the 64-bit plug-in did not start\n");
    return 1;
  }
  int i = 0;
  auto one_write = [&] {
    char text[17];
    snprintf(text, sizeof text, "write %10d", ++i);
    plugin.set_position(1, 1 + (i & 1));
    plugin.write(text);
  };
  WarmUp(one_write);
  const LONG proxy_before = counters->proxy_run_out, host_before = counters->host_run_out;
  const Spread spread = TimeCalls(writes, one_write);
  printf("row DISPLAYDLL_Write64 %.1f %.1f %.3f %.3f\n", spread.median_us, spread.p99_us,
         static_cast<double>(counters->proxy_run_out - proxy_before) / writes,
         static_cast<double>(counters->host_run_out - host_before) / writes);
  plugin.done();
  FreeLibrary(module);
  return 0;
}
