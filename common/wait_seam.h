#pragma once
// Every timed wait of a module goes through here, so that tests can count
// waits instead of waiting them out. The shipped code waits for real.

#include <windows.h>

#include <cstdint>

using SleepFunction = void (*)(uint32_t milliseconds);
// True when the event ended the wait, false when the time ran out.
using WaitFunction = bool (*)(HANDLE event, uint32_t milliseconds);

void VornSleep(uint32_t milliseconds);
// Waits at most `milliseconds` for an auto-reset event. A null event makes
// it a plain VornSleep that returns false.
bool VornWait(HANDLE event, uint32_t milliseconds);

// Waits at most `milliseconds` to own a mutex. True when it is now owned,
// also when its previous owner ended without releasing it (abandoned).
// Under a replaced sleep: the sleep, then one look that does not wait.
bool VornAcquire(HANDLE mutex, uint32_t milliseconds);

// Replaces the sleep; null restores the real one. A replaced sleep also
// stands in for the time that VornWait lets pass: the wait then runs the
// replaced sleep and afterwards takes the event if it has been signalled.
void SetSleepFunction(SleepFunction fn);
// Replaces the wait (for counting wrappers); null restores the default.
void SetWaitFunction(WaitFunction fn);

// The shipped bounded wait on a real event. Where Windows has
// high-resolution waitable timers, a wait that runs out lasts between half
// its milliseconds and its milliseconds (see wait_seam.cpp), rather than up
// to a scheduler tick (15.6 ms by default); the system's timer resolution
// is left alone. Elsewhere it is a plain timed wait.
bool BoundedWait(HANDLE event, uint32_t milliseconds);
