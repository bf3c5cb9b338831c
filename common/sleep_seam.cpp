#include "sleep_seam.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

void RealSleep(uint32_t milliseconds) { Sleep(milliseconds); }

SleepFunction g_sleep = RealSleep;

bool DefaultWait(HANDLE event, uint32_t milliseconds) {
  if (g_sleep != RealSleep) {
    g_sleep(milliseconds);
    return event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
  }
  if (!event) {
    Sleep(milliseconds);
    return false;
  }
  return BoundedWait(event, milliseconds);
}

WaitFunction g_wait = DefaultWait;

// Made once per module. A manual-reset timer, so that setting it again also
// clears a firing that no wait took (an event that won the last wait).
HANDLE HighResolutionTimer() {
  static bool made;
  static HANDLE timer;
  if (!made) {
    made = true;
    // Fails before Windows 10 1803, which does not know the flag.
    timer = CreateWaitableTimerExW(nullptr, nullptr,
                                   CREATE_WAITABLE_TIMER_MANUAL_RESET | CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                   TIMER_ALL_ACCESS);
  }
  return timer;
}

}  // namespace

void VornSleep(uint32_t milliseconds) { g_sleep(milliseconds); }

bool VornWait(HANDLE event, uint32_t milliseconds) { return g_wait(event, milliseconds); }

void SetSleepFunction(SleepFunction fn) { g_sleep = fn ? fn : RealSleep; }

void SetWaitFunction(WaitFunction fn) { g_wait = fn ? fn : DefaultWait; }

bool BoundedWait(HANDLE event, uint32_t milliseconds) {
  HANDLE timer = HighResolutionTimer();
  LARGE_INTEGER due;
  due.QuadPart = -10000LL * milliseconds;  // relative, in 100 ns units
  if (timer && SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) {
    const HANDLE both[2] = {event, timer};
    // The wait's own time-out is the plain wait's, so it is never longer.
    return WaitForMultipleObjects(2, both, FALSE, milliseconds) == WAIT_OBJECT_0;
  }
  return WaitForSingleObject(event, milliseconds) == WAIT_OBJECT_0;
}
