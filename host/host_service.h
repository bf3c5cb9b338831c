#pragma once

#include <cstdint>

// Consecutive idle polls after which the host ends: it stops after the
// poll whose earlier count is greater than this, the 100002nd.
constexpr int32_t kIdleLimit = 100000;

// Idle polls after the last request during which a poll waits on the
// proxy's request event; after them it goes back to plain 1 ms sleeps,
// which cost an idle host less (every wait on an object is a round trip
// to the system). The first request after such a quiet spell then waits
// out at most one sleep.
constexpr int32_t kSignalledIdlePolls = 10000;

// Start-up and the poll loop; returns the exit status (0) at the idle exit.
int RunHostService();
