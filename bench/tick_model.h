#pragma once
// Windows' default timer, as a model for the benchmark: a sleep, or a wait
// that no signal ends, lasts until the next 15.625 ms boundary at or after
// its own end. A signal still ends a wait at once. Nothing here changes the
// system's timer.

#include <windows.h>

#include <cstdint>

constexpr double kWindowsTickMs = 15.625;

double NowMs();
void TickSleep(uint32_t milliseconds);
// True when the event ended the wait. A null event is a TickSleep.
bool TickWait(HANDLE event, uint32_t milliseconds);
