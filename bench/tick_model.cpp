#include "tick_model.h"

#include <cmath>

namespace {

double NextBoundary(double ms) { return std::ceil(ms / kWindowsTickMs) * kWindowsTickMs; }

void SleepUntil(double end) {
  for (double left = end - NowMs(); left > 0; left = end - NowMs()) {
    if (left > 1.5) {
      Sleep(static_cast<DWORD>(left - 1.2));  // a real sleep overshoots by a fraction of a millisecond
    } else {
      YieldProcessor();
    }
  }
}

}  // namespace

double NowMs() {
  static LARGE_INTEGER frequency;
  if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void TickSleep(uint32_t milliseconds) { SleepUntil(NextBoundary(NowMs() + milliseconds)); }

bool TickWait(HANDLE event, uint32_t milliseconds) {
  const double end = NextBoundary(NowMs() + milliseconds);
  if (!event) {
    SleepUntil(end);
    return false;
  }
  for (double left = end - NowMs(); left > 0; left = end - NowMs()) {
    if (WaitForSingleObject(event, static_cast<DWORD>(std::ceil(left))) == WAIT_OBJECT_0) return true;
  }
  return false;
}
