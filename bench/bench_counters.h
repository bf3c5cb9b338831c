#pragma once
// A small section through which the benchmark's host program and its proxy
// library report the 1 ms waits and sleeps that ran out (no signal ended
// them). Only the benchmark makes it. The calls that reached the device
// library are counted by the stand-in itself (standins/khalapi/call_count.h).

#include <windows.h>

constexpr char kBenchCountersName[] = "VornBenchCounters";

struct BenchCounters {
  volatile LONG host_run_out;
  volatile LONG proxy_run_out;
  volatile LONG host_wake_ups;  // the host's waits and sleeps that returned
};

// This process's view of the counters; null when the benchmark made none.
inline BenchCounters* OpenBenchCounters() {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, kBenchCountersName);
  if (!mapping) return nullptr;
  return static_cast<BenchCounters*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(BenchCounters)));
}
