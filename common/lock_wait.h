#pragma once
// How a waiter for a lock word waits: it spins briefly, then yields, then
// pauses a millisecond at a time until its deadline, counted on the clock
// of the deadline (wait_seam.h) so that a lock's wait is one more step of
// its call; it looks whether the holder has ended after its first pause and
// once in every kLookEveryMs pauses after that (each look asks the system).

#include <windows.h>

#include "wait_seam.h"

class LockWait {
 public:
  explicit LockWait(const Deadline& deadline) : deadline_(deadline) {}

  // One step of waiting; false, without waiting, once the deadline has
  // passed.
  bool Step() {
    ++steps_;
    if (steps_ <= kSpins) {
      YieldProcessor();
    } else if (steps_ <= kSpins + kYields) {
      SwitchToThread();
    } else {
      if (deadline_.Passed()) return false;
      VornPauseMs(1);
    }
    return true;
  }
  // Whether the step just made is one after which to look at the holder.
  bool TimeToLook() const { return steps_ > kSpins + kYields && (steps_ - kSpins - kYields - 1) % kLookEveryMs == 0; }

 private:
  static constexpr unsigned kSpins = 64;
  static constexpr unsigned kYields = 16;
  static constexpr unsigned kLookEveryMs = 16;
  const Deadline& deadline_;
  unsigned steps_ = 0;
};
