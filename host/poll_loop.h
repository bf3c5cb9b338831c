#pragma once
// The host program's poll loop: start-up, then polling the section and
// serving each request until the idle exit.
//
// Between requests. As long as its callers signal their requests, the host
// blocks on the request event in waits of kQuietWaitMs: a few wake-ups a
// second, and a signalled request is served at once. A request that it
// finds without a signal (its wait ran out and a request was there) comes
// from a caller that only polls; for kPollingSpellMs after the last such
// request the host looks every millisecond, as the host of a poll-only
// design does. Without the events it always does. A lost signal therefore
// delays a request by one quiet wait at most, and never leaves it
// unanswered: every wait ends in a read of the section.
//
// The idle exit counts time, not waits: each wait counts by the time it
// took (wait_seam.h's clock), so the host ends after kIdleExitMs of waiting
// without a request, whatever the timer makes of a 1 ms or a 100 ms wait.

#include <cstdint>

// The idle exit: after this much waiting without a request. A served
// request starts the count again from 0.
constexpr int64_t kIdleExitMs = 100002;
constexpr uint32_t kQuietWaitMs = 100;
constexpr uint32_t kPollingWaitMs = 1;
constexpr int64_t kPollingSpellMs = 60000;

// Opens the channel, ends at once (status 0) when another host program
// already serves it, binds the vendor library and runs the loop; returns
// the exit status (0) at the idle exit, 1 when the section could not be
// opened. Says that it is ready (host_program_names.h) only once it can
// serve, and no longer from the moment it stops.
int RunPollLoop();
