// The benchmark's host program: the host's own core with the benchmark's
// waits (bench_waits.h). Never shipped; the benchmark runs it under the
// host program's name, and tests run it as a host that only polls.
#include "bench_counters.h"
#include "bench_waits.h"
#include "channel.h"
#include "poll_loop.h"

int main() {
  BenchCounters* counters = OpenBenchCounters();
  InstallBenchWaits(counters ? &counters->host_run_out : nullptr, counters ? &counters->host_wake_ups : nullptr);
  if (BenchSignalsOff()) CommsDisableSignals();
  return RunPollLoop();
}
