#pragma once
// Local time source of the log files; replaceable so that tests can fix it.

#include <ctime>

struct LogTime {
  std::tm local;                // date and time of day
  unsigned short milliseconds;  // 0-999 within the second
};

using LogClockFunction = void (*)(LogTime* now);

void LogNow(LogTime* now);
// Replaces the clock; null restores the system's local time.
void SetLogClock(LogClockFunction fn);
