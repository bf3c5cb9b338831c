#include "sleep_seam.h"

#include <windows.h>

namespace {
void RealSleep(uint32_t milliseconds) { Sleep(milliseconds); }
SleepFunction g_sleep = RealSleep;
}  // namespace

void VornSleep(uint32_t milliseconds) { g_sleep(milliseconds); }

void SetSleepFunction(SleepFunction fn) { g_sleep = fn ? fn : RealSleep; }
