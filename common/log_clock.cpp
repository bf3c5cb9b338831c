#include "log_clock.h"

#include <windows.h>

namespace {

void SystemClock(LogTime* now) {
  SYSTEMTIME st;
  GetLocalTime(&st);
  std::tm tm = {};
  tm.tm_year = st.wYear - 1900;
  tm.tm_mon = st.wMonth - 1;
  tm.tm_mday = st.wDay;
  tm.tm_hour = st.wHour;
  tm.tm_min = st.wMinute;
  tm.tm_sec = st.wSecond;
  tm.tm_wday = st.wDayOfWeek;
  tm.tm_isdst = -1;
  now->local = tm;
  now->milliseconds = st.wMilliseconds;
}

LogClockFunction g_clock = SystemClock;

}  // namespace

void LogNow(LogTime* now) { g_clock(now); }

void SetLogClock(LogClockFunction fn) { g_clock = fn ? fn : SystemClock; }
