#pragma once
// The proxy's one request block and the round trip that carries it to the
// host program and back. PrepareRequest and callfn are the system's own
// names; callfn also tags the proxy's time-out log line.

#include <cstdint>

#include "request_block.h"

// How long a call waits for its answer. Between reads of the section the
// proxy waits at most 1 ms for the host's reply signal, and each wait
// counts by the time it took (wait_seam.h's clock), so a call that gets no
// answer ends after 100 seconds of waiting, whatever the timer makes of a
// 1 ms wait.
constexpr int64_t kReplyBudgetMs = 100000;

extern RequestBlock g_block;

// Resets the block for a new request; the request number word is left alone.
void PrepareRequest(int32_t request_code, const char* function_name);

enum CallOutcome {
  kCallAnswered,     // g_block holds the host's answer to this request
  kCallTimedOut,     // g_block holds the request as sent, result -1
  kCallNotAnswered,  // no channel, or no host program to be had: result -1,
                     // and the caller's outputs are left as they are
};

// Makes sure the host program runs, sends the block with a fresh request
// number and waits for the answer to that very request, with what is left
// of the call's budget of kReplyBudgetMs after `spent_us` (its wait for the
// caller's turn). When the host ends while the call waits, one new host is
// started and the request sent again with a whole budget; a host that runs
// but does not answer meets the time-out, the request is withdrawn from
// the section, and the next call replaces that host. Runs inside the
// caller's turn (caller_turn.h).
CallOutcome callfn(int64_t spent_us = 0);

// The time-out's log line and its line on standard output.
void ReportTimeOut();
