#pragma once
// The proxy's one request block and the round trip that carries it to the
// host program and back.

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
  kCallAnswered,  // g_block holds the host's answer to this request
  kCallTimedOut,  // g_block holds the request as sent, result -1
  kCallNotSent,   // no channel: nothing was sent, result -1
};

// Makes sure the host program runs, sends the block with a fresh request
// number and waits for the answer to that very request.
CallOutcome callfn();
