#pragma once
// The proxy's one request block and the round trip that carries it to the
// host program and back. PrepareRequest and callfn are the system's own
// names; callfn also tags the proxy's time-out log line.

#include <cstdint>

#include "request_block.h"

// Reads of the section before a request counts as unanswered. Before each
// read the proxy waits at most 1 ms for the host's reply signal, so a call
// that gets no answer still takes at least 100 seconds.
constexpr int32_t kReplyReads = 100000;

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
// of the call's budget of kReplyReads after `reads_spent` (its wait for the
// caller's turn). When the host ends while the call waits, one new host is
// started and the request sent again with a whole budget; a host that runs
// but does not answer meets the time-out, the request is withdrawn from
// the section, and the next call replaces that host. Runs inside the
// caller's turn (caller_turn.h).
CallOutcome callfn(int32_t reads_spent = 0);

// The time-out's log line and its line on standard output.
void ReportTimeOut();
