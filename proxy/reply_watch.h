#pragma once
// How a call waits for its answer once its request is in the section.
// Blocked in the system, a caller is woken by the host's signal: a second
// wake-up after the host's own, on the way of every answer. So while the
// host answers quickly (its last answer came within kReplyWatchUs of the
// request's signal), a call signals its request and then watches the
// block's words itself for that long before it waits. A host that answers
// more slowly (a vendor call that takes milliseconds, a host that only
// polls) is waited for at once, in one call to the system that signals and
// waits, timed so that a host that is quick again is watched for again.
// There is no watch on a single processor, where it would keep the host
// from running, nor without both events (a side that only polls), nor
// beyond the call's deadline.
//
// The watch only reads, without the lock: the call then reads the section
// under the lock as after any wait, and takes only the answer to its own
// request. A watch for an answer that the host then signals leaves that
// signal set; the next wait that finds it only looks at the section once
// more.

#include <cstdint>

#include "wait_seam.h"

constexpr uint32_t kReplyWatchUs = 200;

// Signals the request event of `slot`, then waits for the answer: the
// watch and, without an answer, one wait; or the one call that signals and
// waits. The first wait is at most 1 ms, as the call's reads are.
void SignalAndAwaitAnswer(int32_t slot, const Deadline& deadline);

// Tests: the watch's length (0: kReplyWatchUs again), so that a watch that
// must see an answer is long enough on a machine that is busy.
void SetReplyWatchUs(uint32_t microseconds);
