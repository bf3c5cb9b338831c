#pragma once
// Timing of repeated calls for the benchmark programs.

#include <windows.h>

#include <algorithm>
#include <vector>

struct Spread {
  double median_us;
  double p99_us;
};

// Runs `call` for a while before it is timed: under Wine the first tenth of
// a second or so of a busy hand-over runs faster than the rest, until the
// scheduler has settled where the two processes and the wineserver run.
template <typename Call>
void WarmUp(Call call, DWORD milliseconds = 300) {
  for (const DWORD start = GetTickCount(); GetTickCount() - start < milliseconds;) call();
}

// The microseconds of `calls` runs of `call`, each on its own.
template <typename Call>
std::vector<double> TimeEach(int calls, Call call) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  std::vector<double> us;
  for (int i = 0; i < calls; ++i) {
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    call();
    QueryPerformanceCounter(&t1);
    us.push_back(1e6 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(frequency.QuadPart));
  }
  return us;
}

inline Spread SpreadOf(std::vector<double> us) {
  if (us.empty()) return Spread{0, 0};
  std::sort(us.begin(), us.end());
  return Spread{us[us.size() / 2], us[us.size() * 99 / 100]};
}

template <typename Call>
Spread TimeCalls(int calls, Call call) {
  return SpreadOf(TimeEach(calls, call));
}
