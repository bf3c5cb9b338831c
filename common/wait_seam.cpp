#include "wait_seam.h"

#include <initializer_list>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

void RealSleep(uint32_t milliseconds) { Sleep(milliseconds); }

SleepFunction g_sleep = RealSleep;

// Without an event, or with a test's sleep standing in for the time, the
// wait is the sleep, then a look at the event.
bool DefaultWait(HANDLE event, uint32_t milliseconds) {
  if (event && g_sleep == RealSleep) return BoundedWait(event, milliseconds);
  g_sleep(milliseconds);
  return event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

WaitFunction g_wait = DefaultWait;

// Made once per module. A manual-reset timer, so that setting it again also
// clears a firing that no wait took (an event that won the last wait).
bool g_timer_made;
HANDLE g_timer;

HANDLE HighResolutionTimer() {
  if (!g_timer_made) {
    g_timer_made = true;
    // Fails before Windows 10 1803, which does not know the flag.
    g_timer = CreateWaitableTimerExW(
        nullptr, nullptr, CREATE_WAITABLE_TIMER_MANUAL_RESET | CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
  }
  return g_timer;
}

int64_t Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

int64_t CountsPerMillisecond() {
  static int64_t per_ms;
  if (!per_ms) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    per_ms = frequency.QuadPart / 1000;
  }
  return per_ms;
}

// When the timer fires, in performance-counter units; 0 when it is not armed.
int64_t g_timer_due;

// Arms the timer for `milliseconds` unless it is armed already and at least
// half of that is left: a signal that ended the last wait leaves it running,
// and setting it anew on every wait of a busy hand-over would cost a round
// trip to the system each time. So a wait that runs out lasts between half
// its time and its time, never a scheduler tick.
bool ArmTimer(HANDLE timer, uint32_t milliseconds) {
  const int64_t now = Now();
  const int64_t length = CountsPerMillisecond() * milliseconds;
  const int64_t left = g_timer_due - now;
  if (g_timer_due != 0 && left >= length / 2 && left <= length) return true;
  LARGE_INTEGER due;
  due.QuadPart = -10000LL * milliseconds;  // relative, in 100 ns units
  if (!SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) {
    g_timer_due = 0;
    return false;
  }
  g_timer_due = now + length;
  return true;
}

bool DefaultSignalAndWait(HANDLE to_signal, HANDLE event, uint32_t milliseconds);
SignalAndWaitFunction g_signal_and_wait = DefaultSignalAndWait;

bool g_virtual_clock;
int64_t g_virtual_us;

void MoveVirtualClock(uint32_t milliseconds) {
  if (g_virtual_clock) g_virtual_us += 1000LL * milliseconds;
}

}  // namespace

int64_t VornNowUs() { return g_virtual_clock ? g_virtual_us : VornRealNowUs(); }

int64_t VornRealNowUs() {
  static int64_t frequency;
  if (!frequency) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    frequency = f.QuadPart;
  }
  // In two parts, so that no product overflows whatever the frequency.
  const int64_t now = Now();
  return now / frequency * 1000000 + now % frequency * 1000000 / frequency;
}

void SetVirtualClock(bool on) {
  g_virtual_clock = on;
  g_virtual_us = 0;
}

void AdvanceVirtualClock(int64_t microseconds) { g_virtual_us += microseconds; }

namespace {
PauseHook g_pause_hook;
}  // namespace

void SetPauseHook(PauseHook hook) { g_pause_hook = hook; }

void VornPauseMs(uint32_t milliseconds) {
  Sleep(milliseconds);
  MoveVirtualClock(milliseconds);
  if (g_pause_hook) g_pause_hook(milliseconds);
}

void VornSleep(uint32_t milliseconds) {
  g_sleep(milliseconds);
  MoveVirtualClock(milliseconds);
}

// A wait that a signal ended took no time on the virtual clock.
bool VornWait(HANDLE event, uint32_t milliseconds) {
  const bool signalled = g_wait(event, milliseconds);
  if (!signalled) MoveVirtualClock(milliseconds);
  return signalled;
}

bool VornWaitEither(HANDLE first, HANDLE second, uint32_t milliseconds) {
  HANDLE objects[2];
  DWORD count = 0;
  for (HANDLE h : {first, second})
    if (h) objects[count++] = h;
  bool ended;
  if (count > 0 && g_sleep == RealSleep && g_wait == DefaultWait) {
    ended = WaitForMultipleObjects(count, objects, FALSE, milliseconds) < WAIT_OBJECT_0 + count;
  } else {
    // An object that is set already ends the wait before any time passes.
    const auto any_set = [&] {
      for (DWORD i = 0; i < count; ++i)
        if (WaitForSingleObject(objects[i], 0) == WAIT_OBJECT_0) return true;
      return false;
    };
    ended = any_set();
    if (!ended) {
      g_sleep(milliseconds);
      ended = any_set();
    }
  }
  if (!ended) MoveVirtualClock(milliseconds);
  return ended;
}

namespace {
void RealSignal(HANDLE event) { SetEvent(event); }
SignalFunction g_signal = RealSignal;
}  // namespace

void VornSignal(HANDLE event) {
  if (event) g_signal(event);
}

void SetSignalFunction(SignalFunction fn) { g_signal = fn ? fn : RealSignal; }

namespace {

bool DefaultSignalAndWait(HANDLE to_signal, HANDLE event, uint32_t milliseconds) {
  if (to_signal && event && g_sleep == RealSleep && g_wait == DefaultWait)
    return SignalObjectAndWait(to_signal, event, milliseconds, FALSE) == WAIT_OBJECT_0;
  if (to_signal) SetEvent(to_signal);
  return VornWait(event, milliseconds);
}

}  // namespace

bool VornSignalAndWait(HANDLE to_signal, HANDLE event, uint32_t milliseconds) {
  return g_signal_and_wait(to_signal, event, milliseconds);
}

void SetSignalAndWaitFunction(SignalAndWaitFunction fn) { g_signal_and_wait = fn ? fn : DefaultSignalAndWait; }

void SetSleepFunction(SleepFunction fn) { g_sleep = fn ? fn : RealSleep; }

void SetWaitFunction(WaitFunction fn) { g_wait = fn ? fn : DefaultWait; }

void CloseWaitTimer() {
  if (g_timer) CloseHandle(g_timer);
  g_timer = nullptr;
  g_timer_made = false;
  g_timer_due = 0;
}

bool BoundedWait(HANDLE event, uint32_t milliseconds) {
  HANDLE timer = milliseconds > 0 && milliseconds <= kHighResolutionWaitMs ? HighResolutionTimer() : nullptr;
  if (timer && ArmTimer(timer, milliseconds)) {
    const HANDLE both[2] = {event, timer};
    // The wait's own time-out is the plain wait's, so it is never longer.
    const DWORD woken = WaitForMultipleObjects(2, both, FALSE, milliseconds);
    if (woken != WAIT_OBJECT_0) g_timer_due = 0;  // fired, or about to: arm it anew next time
    return woken == WAIT_OBJECT_0;
  }
  return WaitForSingleObject(event, milliseconds) == WAIT_OBJECT_0;
}
