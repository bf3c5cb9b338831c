#pragma once
// A small section through which the benchmark's instrumented host program
// reports how often it has slept. Only the benchmark uses it.

#include <windows.h>

constexpr char kBenchCountersName[] = "VornBenchCounters";

struct BenchCounters {
  volatile LONG host_sleeps;  // 1 ms sleeps of the host's poll loop
};
