// The bounded wait on an event, and the seam that lets tests count waits.
// Needs a fresh process per case (as vorn_gtest runs them): the timer and
// the replaced functions are module state.
#include "wait_seam.h"

#include <gtest/gtest.h>
#include <process.h>

#include "test_support.h"

namespace {

struct AutoResetEvent {
  HANDLE handle = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  ~AutoResetEvent() { CloseHandle(handle); }
};

unsigned __stdcall SignalLater(void* event) {
  Sleep(50);
  SetEvent(static_cast<HANDLE>(event));
  return 0;
}

}  // namespace

TEST(BoundedWait, ASignalEndsTheWaitAndIsTakenByIt) {
  AutoResetEvent event;
  ASSERT_NE(event.handle, nullptr);
  SetEvent(event.handle);
  EXPECT_TRUE(BoundedWait(event.handle, 1));
  EXPECT_FALSE(BoundedWait(event.handle, 1));  // auto-reset: taken by the first wait
  EXPECT_FALSE(BoundedWait(event.handle, 0));
}

TEST(BoundedWait, ASignalFromAnotherThreadEndsALongWait) {
  AutoResetEvent event;
  HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, SignalLater, event.handle, 0, nullptr));
  ASSERT_NE(thread, nullptr);
  // Ends at the signal, long before its own time; a wait that ignored the
  // event would return false after 30 s.
  EXPECT_TRUE(BoundedWait(event.handle, 30000));
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

// A wait that ran out leaves the next one its whole time: an earlier
// firing of the timer that nobody took does not end it.
TEST(BoundedWait, AfterASignalledWaitTheNextOneStillWaitsForTheEvent) {
  AutoResetEvent event;
  SetEvent(event.handle);
  EXPECT_TRUE(BoundedWait(event.handle, 1));
  Sleep(5);  // the timer of that wait fires meanwhile
  HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, SignalLater, event.handle, 0, nullptr));
  EXPECT_TRUE(BoundedWait(event.handle, 30000));
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

TEST(WaitSeam, AReplacedSleepStandsInForTheTimeOfAWait) {
  AutoResetEvent event;
  vt::SleepLog::Reset();
  SetSleepFunction(vt::SleepLog::Record);
  EXPECT_FALSE(VornWait(event.handle, 1));
  SetEvent(event.handle);
  EXPECT_TRUE(VornWait(event.handle, 1));
  EXPECT_FALSE(VornWait(event.handle, 1));
  EXPECT_FALSE(VornWait(nullptr, 1));
  EXPECT_EQ(vt::SleepLog::calls, 4u);
  EXPECT_EQ(vt::SleepLog::total_ms, 4u);
  SetSleepFunction(nullptr);
}

TEST(WaitSeam, AReplacedWaitSeesEveryWaitAndNoSleep) {
  static int waits;
  SetWaitFunction([](HANDLE, uint32_t ms) {
    waits += static_cast<int>(ms);
    return true;
  });
  vt::SleepLog::Reset();
  SetSleepFunction(vt::SleepLog::Record);
  EXPECT_TRUE(VornWait(nullptr, 3));
  VornSleep(7);
  EXPECT_EQ(waits, 3);
  EXPECT_EQ(vt::SleepLog::total_ms, 7u);
  SetWaitFunction(nullptr);
  SetSleepFunction(nullptr);
  AutoResetEvent event;
  SetEvent(event.handle);
  EXPECT_TRUE(VornWait(event.handle, 1));  // the default wait again
}

// A signal overtakes the timer, which is then used again by the next wait;
// that wait still runs out (it does not hang on a timer that never fires),
// and the one after it arms the timer anew.
TEST(BoundedWait, WaitsRightAfterASignalledOneStillRunOut) {
  AutoResetEvent event;
  for (int round = 0; round < 50; ++round) {
    SetEvent(event.handle);
    ASSERT_TRUE(BoundedWait(event.handle, 1));
    ASSERT_FALSE(BoundedWait(event.handle, 1));
    ASSERT_FALSE(BoundedWait(event.handle, 1));
  }
}

// With the real sleep and the real clock, a wait that nothing ends takes
// its time, with or without an event: a host that only polls counts its
// idle exit by these waits, and a wait that returned at once would end it
// in a tenth of a second.
TEST(WaitSeam, AWaitThatNothingEndsTakesItsTimeByTheRealClock) {
  AutoResetEvent event;
  for (HANDLE waited_on : {static_cast<HANDLE>(nullptr), event.handle}) {
    for (uint32_t ms : {1u, 30u}) {
      const int64_t before = VornNowUs();
      EXPECT_FALSE(VornWait(waited_on, ms));
      const int64_t took = VornNowUs() - before;
      // High-resolution 1 ms waits may end after half their time (wait_seam.cpp).
      EXPECT_GE(took, ms == 1 ? 400 : 29000) << ms << " ms, event " << (waited_on != nullptr);
    }
  }
}

TEST(WaitSeam, TheVirtualClockMovesOnlyByTheWaitsThatRanOut) {
  AutoResetEvent event;
  SetSleepFunction(vt::SleepLog::Record);
  SetVirtualClock(true);
  VornSleep(7);
  EXPECT_FALSE(VornWait(event.handle, 20));
  SetEvent(event.handle);
  EXPECT_TRUE(VornWait(event.handle, 20));  // ended by the signal: no time
  AdvanceVirtualClock(5);
  EXPECT_EQ(VornNowUs(), 27005);
  SetVirtualClock(false);
  SetSleepFunction(nullptr);
}
