#pragma once
// The proxy's one request block and the round trip that carries it to the
// host program and back. PrepareRequest and callfn are the system's own
// names; callfn also tags the proxy's time-out log line.

#include <cstdint>

#include "call_bound.h"
#include "request_block.h"
#include "round_trip.h"
#include "wait_seam.h"

// Each export takes one deadline at its start, kReplyBudgetMs ahead by
// wait_seam.h's clock, and every step of the call draws on it:
// the wait for the caller's turn, the host's preparation (the launcher's
// turn, the end of a stuck host, the start of a new one and the wait
// after it), the device request given to a new host, the round trip and a
// relaunch inside it. Each wait is cut to what is left, so a call returns
// within the budget, one wait's overshoot (a timer tick) and the
// withdrawal of its request (round_trip.h): kProxyCallBoundMs in all
// (call_bound.h).

extern RequestBlock g_block;

// Resets the block for a new request; the request number word is left alone.
void PrepareRequest(int32_t request_code, const char* function_name);

// Makes sure the host program runs, sends the block with a fresh request
// number and waits for the answer to that very request, until `deadline`.
// When the host ends while the call waits, one new host is started, given
// the device and sent the request again, within the same deadline; a host
// that runs but does not answer (the call's own request, or the device
// request given to a new host) meets the time-out: what the call last sent
// is withdrawn from the section, once, the host is marked stuck, and the
// next call replaces it. Without the section the call fails at once: no
// host is looked for or started. Runs inside the caller's turn
// (caller_turn.h).
CallOutcome callfn(const Deadline& deadline);

// The time-out's log line and its line on standard output.
void ReportTimeOut();
