#pragma once
// Every timed wait of a module goes through here, so that tests can count
// waits instead of waiting them out, and so does the clock by which waits
// are counted. The shipped code waits for real and reads the real clock.

#include <windows.h>

#include <cstdint>

using SleepFunction = void (*)(uint32_t milliseconds);
// True when the event ended the wait, false when the time ran out.
using WaitFunction = bool (*)(HANDLE event, uint32_t milliseconds);

void VornSleep(uint32_t milliseconds);
// Waits at most `milliseconds` for an auto-reset event. A null event makes
// it a plain VornSleep that returns false.
bool VornWait(HANDLE event, uint32_t milliseconds);

// Waits at most `milliseconds` for either of two objects (an event, a
// process); a null one is left out. True when one of them ended the wait.
// With a replaced sleep or wait, it is the sleep, then a look at both.
bool VornWaitEither(HANDLE first, HANDLE second, uint32_t milliseconds);

// Sets `to_signal`, then waits at most `milliseconds` for `event`, as
// SetEvent and VornWait would. The shipped one does both in one call to the
// system (SignalObjectAndWait): under Wine every such call is a round trip
// to the wineserver. That wait is a plain timed wait, without the
// high-resolution timer. With a replaced sleep or wait, or without both
// events, it is SetEvent and VornWait.
bool VornSignalAndWait(HANDLE to_signal, HANDLE event, uint32_t milliseconds);
using SignalAndWaitFunction = bool (*)(HANDLE to_signal, HANDLE event, uint32_t milliseconds);
// Replaces it (for counting wrappers); null restores the shipped one.
void SetSignalAndWaitFunction(SignalAndWaitFunction fn);

// Sets an event (null: nothing), as SetEvent does.
void VornSignal(HANDLE event);
using SignalFunction = void (*)(HANDLE event);
// Replaces it (for counting wrappers); null restores SetEvent.
void SetSignalFunction(SignalFunction fn);

// The clock by which waits are counted: microseconds, monotonic. A wait's
// share of a budget is the time it took by this clock, whatever the timer
// made of the milliseconds it asked for.
int64_t VornNowUs();
// The real clock, in the same units, also where a test has made VornNowUs
// virtual: for what is measured against the other side's pace rather than
// against a budget.
int64_t VornRealNowUs();
// For tests that replace the sleep: a clock that only the seam's sleeps
// and waits move on, each by the milliseconds it was given (a wait that
// the event or the mutex ended, not at all) (true); the real clock again,
// (false). Either way it starts from 0 anew.
void SetVirtualClock(bool on);
// Moves the virtual clock on: a test's wait that lasted longer than asked.
void AdvanceVirtualClock(int64_t microseconds);

// A lock waiter's pause: a real sleep, which moves the virtual clock too
// but which no test's sleep stands in for (a test's fake host takes the
// very lock in its sleep).
void VornPauseMs(uint32_t milliseconds);
// Tests: runs `hook` after every pause, with its milliseconds (null: none
// again), so that a test sees a waiter that pauses past its deadline and
// can end what it waits for.
using PauseHook = void (*)(uint32_t milliseconds);
void SetPauseHook(PauseHook hook);

// Replaces the sleep; null restores the real one. A replaced sleep also
// stands in for the time that VornWait lets pass: the wait then runs the
// replaced sleep and afterwards takes the event if it has been signalled.
void SetSleepFunction(SleepFunction fn);
// Replaces the wait (for counting wrappers); null restores the default.
void SetWaitFunction(WaitFunction fn);

// The shipped bounded wait on a real event. A short wait (up to
// kHighResolutionWaitMs) that runs out lasts between half its milliseconds
// and its milliseconds where Windows has high-resolution waitable timers
// (see wait_seam.cpp), rather than up to a scheduler tick (15.6 ms by
// default); the system's timer resolution is left alone. Longer waits, and
// every wait elsewhere, are plain timed waits: a tick more or less does not
// matter to them, and each setting of the timer costs a call to the system.
constexpr uint32_t kHighResolutionWaitMs = 2;
bool BoundedWait(HANDLE event, uint32_t milliseconds);
// Closes the module's high-resolution timer (made at the first short
// wait), for a library that is being unloaded.
void CloseWaitTimer();

// A point in time on VornNowUs's clock by which something must be over.
// A call takes one at its start and every step of it draws on that one:
// none gets a fresh budget of its own.
class Deadline {
 public:
  static Deadline In(int64_t milliseconds) { return Deadline(VornNowUs() + milliseconds * 1000); }
  static Deadline At(int64_t microseconds) { return Deadline(microseconds); }
  int64_t at_us() const { return at_us_; }
  int64_t LeftUs() const {
    const int64_t left = at_us_ - VornNowUs();
    return left > 0 ? left : 0;
  }
  bool Passed() const { return LeftUs() == 0; }
  // What is left in whole milliseconds (rounded up), at most `cap`: the
  // length of the next wait, so that no wait runs past the deadline by more
  // than the timer makes of it.
  uint32_t LeftMs(uint32_t cap) const {
    const int64_t ms = (LeftUs() + 999) / 1000;
    return static_cast<uint32_t>(ms < cap ? ms : cap);
  }

 private:
  explicit Deadline(int64_t at_us) : at_us_(at_us) {}
  int64_t at_us_;
};
