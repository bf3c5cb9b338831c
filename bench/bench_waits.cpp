#include "bench_waits.h"

#include <cstring>

#include "tick_model.h"
#include "wait_seam.h"

namespace {

volatile LONG* g_run_out;
volatile LONG* g_wake_ups;
bool g_tick_model;

void Count(uint32_t milliseconds) {
  if (milliseconds == 1 && g_run_out) InterlockedIncrement(g_run_out);
}

void CountWakeUp() {
  if (g_wake_ups) InterlockedIncrement(g_wake_ups);
}

void BenchSleep(uint32_t milliseconds) {
  if (g_tick_model) {
    TickSleep(milliseconds);
  } else {
    Sleep(milliseconds);
  }
  Count(milliseconds);
  CountWakeUp();
}

bool BenchWait(HANDLE event, uint32_t milliseconds) {
  if (!event) {
    BenchSleep(milliseconds);
    return false;
  }
  const bool signalled = g_tick_model ? TickWait(event, milliseconds) : BoundedWait(event, milliseconds);
  if (!signalled) Count(milliseconds);
  CountWakeUp();
  return signalled;
}

// The shipped path (one call that signals and waits), counted; under the
// tick model, the signal and the model's wait.
bool BenchSignalAndWait(HANDLE to_signal, HANDLE event, uint32_t milliseconds) {
  if (!to_signal || !event) {
    if (to_signal) SetEvent(to_signal);
    return BenchWait(event, milliseconds);
  }
  bool signalled;
  if (g_tick_model) {
    SetEvent(to_signal);
    signalled = TickWait(event, milliseconds);
  } else {
    signalled = SignalObjectAndWait(to_signal, event, milliseconds, FALSE) == WAIT_OBJECT_0;
  }
  if (!signalled) Count(milliseconds);
  CountWakeUp();
  return signalled;
}

bool Variable(const char* name, const char* value) {
  char text[16];
  const DWORD n = GetEnvironmentVariableA(name, text, sizeof text);
  return n > 0 && n < sizeof text && strcmp(text, value) == 0;
}

}  // namespace

void InstallBenchWaits(volatile LONG* run_out, volatile LONG* wake_ups) {
  g_run_out = run_out;
  g_wake_ups = wake_ups;
  g_tick_model = Variable("VORN_BENCH_TIMER", "tick");
  SetSleepFunction(BenchSleep);
  SetWaitFunction(BenchWait);
  SetSignalAndWaitFunction(BenchSignalAndWait);
}

bool BenchSignalsOff() { return Variable("VORN_BENCH_SIGNALS", "off"); }
