#pragma once
// Every timed wait of a module goes through here, so that tests can count
// sleeps instead of waiting them out. The shipped code sleeps for real.

#include <cstdint>

using SleepFunction = void (*)(uint32_t milliseconds);

void VornSleep(uint32_t milliseconds);
// Replaces the sleep; null restores the real one.
void SetSleepFunction(SleepFunction fn);
