#pragma once
// The section through which the benchmark's step-timed proxy and host
// program (step_times.cpp, common/step_times.h) hand their calls' step
// times to proxy_bench, which makes it. Both bitnesses map it: 32-bit
// words only.

#include <windows.h>

#include <cstdint>

#include "step_times.h"

constexpr char kStepRecordsName[] = "VornBenchSteps";
constexpr int kStepRecordsKept = 4096;

enum StepSide { kProxySteps, kHostSteps, kStepSides };

struct StepSideRecords {
  volatile LONG calls;  // calls recorded; the first kStepRecordsKept are kept
  // The clock's share of a step each time it is entered, as that side
  // measured it.
  LONG entry_cost_ns;
  LONG ns[kStepRecordsKept][kCallSteps];       // each call's time in each step
  LONG entries[kStepRecordsKept][kCallSteps];  // how often each step was entered in it
  // Readings of the clock at the step's edges (two for each entry, and two
  // for each entry of a step inside it): each adds half of entry_cost_ns
  // to the step's time.
  LONG edges[kStepRecordsKept][kCallSteps];
};

struct StepRecords {
  StepSideRecords side[kStepSides];
};
