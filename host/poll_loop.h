#pragma once
// The host program's poll loop: start-up, then polling the section and
// serving each request until the idle exit.

#include <cstdint>

// The idle exit: the loop ends with the poll after which more than
// kIdleLimit + 1 polls in a row have found no request, that is after
// 100002 idle polls; a served request starts the count again from 0.
constexpr int32_t kIdleLimit = 100000;

// Idle polls after the last request during which a poll waits on the
// proxy's request event; after them it goes back to plain 1 ms sleeps,
// which cost an idle host less (every wait on an object is a round trip
// to the system). The first request after such a quiet spell then waits
// out at most one sleep.
constexpr int32_t kSignalledIdlePolls = 10000;

// The mutex that the one running host program holds, named after the section.
constexpr char kHostMutexSuffix[] = ".Host";

// Opens the channel, ends at once (status 0) when another host program
// already serves it, binds the vendor library and runs the loop; returns
// the exit status (0) at the idle exit.
int RunPollLoop();
