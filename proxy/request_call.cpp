#include "request_call.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "channel.h"
#include "debug_log.h"
#include "host_launcher.h"

RequestBlock g_block;

namespace {

uint32_t g_last_request_number;

// Numbers start from a value mixed from the process id and the tick count,
// so that two processes, or two runs of one, are unlikely to use the same
// number for requests that may meet in the section. 0 is never used.
int32_t NextRequestNumber() {
  if (g_last_request_number == 0)
    g_last_request_number = (GetCurrentProcessId() * 2654435761u) ^ (GetTickCount() << 7);
  if (++g_last_request_number == 0) ++g_last_request_number;
  return static_cast<int32_t>(g_last_request_number);
}

bool IsAnswerToOurRequest(const RequestBlock& seen) {
  return seen.done != 0 && seen.request_id == g_block.request_id && seen.opcode == g_block.opcode;
}

// The section holds nothing that anyone still waits for: no request at all,
// or the answer to another request (a late answer to an earlier call, or
// one that overwrote ours). Our request must go out again. A request that
// still waits, ours or another's, is left alone.
bool SectionNeedsOurRequest(const RequestBlock& seen) {
  if (seen.opcode == kNoRequest) return true;
  return seen.done != 0 && !IsAnswerToOurRequest(seen);
}

// Writes our request into the section and wakes the host.
bool SendRequest() {
  if (!CommsSend(kChannelSlot, &g_block, kBlockSize)) return false;
  CommsSignal(kChannelSlot, kRequestEvent);
  return true;
}

// Instead of a 1 ms sleep: the host's answer ends it early.
void AwaitReply() { CommsWait(kChannelSlot, kReplyEvent, 1); }

}  // namespace

void PrepareRequest(int32_t request_code, const char* function_name) {
  g_block.opcode = kNoRequest;
  g_block.lock = 0;
  g_block.done = 0;
  g_block.pending_opcode = request_code;
  memset(g_block.payload, 0, sizeof g_block.payload);
  memset(g_block.args, 0, sizeof g_block.args);
  snprintf(g_block.function_name, sizeof g_block.function_name, "%s", function_name);
  g_block.result = 0;
}

CallOutcome callfn() {
  StartHostOnce();
  g_block.opcode = g_block.pending_opcode;
  g_block.request_id = NextRequestNumber();
  if (!SendRequest()) {
    g_block.result = -1;
    return kCallNotSent;
  }
  AwaitReply();
  // Read into a copy: our own request must stay at hand to be sent again,
  // and a block that answers another request is never taken for ours.
  RequestBlock seen;
  for (int32_t reads = 0; reads < kReplyReads; ++reads) {
    if (CommsRecv(kChannelSlot, &seen, kBlockSize)) {
      if (IsAnswerToOurRequest(seen)) {
        g_block = seen;
        return kCallAnswered;
      }
      if (SectionNeedsOurRequest(seen)) SendRequest();
    }
    AwaitReply();
  }
  g_block.result = -1;
  LogWrite("callfn", "timed out");
  fputs("**** Timeout ****\n", stdout);
  fflush(stdout);
  return kCallTimedOut;
}
