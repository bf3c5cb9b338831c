#pragma once
// A log clock that tests set by hand.

#include "log_clock.h"

struct FixedClock {
  static LogTime now;
  static void Read(LogTime* out) { *out = now; }
  static void Set(int year, int month, int day, int hour, int minute, int second, unsigned short ms) {
    now = LogTime{};
    now.local.tm_year = year - 1900;
    now.local.tm_mon = month - 1;
    now.local.tm_mday = day;
    now.local.tm_hour = hour;
    now.local.tm_min = minute;
    now.local.tm_sec = second;
    now.milliseconds = ms;
    SetLogClock(Read);
  }
};
inline LogTime FixedClock::now;
