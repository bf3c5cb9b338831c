#include "request_call.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "channel.h"
#include "debug_log.h"
#include "host_launcher.h"
#include "reply_watch.h"
#include "wait_seam.h"

RequestBlock g_block;

namespace {

// The host remembers the device that its last LD_GetNextDevicePosition
// found, and passes it to every control and information call; a new host
// starts without one. This is the request that gave the host its device
// (pending_opcode 0 while there is none), so that a new host can be given
// it again before anything else.
RequestBlock g_device_request;

CallOutcome GiveNewHostTheDevice(const Deadline& deadline, LastSent& sent);

// The proxy's hop of the round trip (round_trip.h): the host program,
// woken by the request event, answering through the reply event; its
// process is looked at once in kHostCheckReads reads, not a system call on
// every one. A host that ends during a call is replaced once, given the
// device, and sent the request again.
struct HostHop {
  int32_t slot = kRequestSlot;
  bool device_replay = false;  // the device request given to a new host

  // The host's wake-up, then a watch for a host that answers quickly, or
  // the first wait in the same call to the system (reply_watch.h).
  void SignalAndAwaitReply(const Deadline& deadline) { SignalAndAwaitAnswer(slot, deadline); }
  void Signal() { CommsSignal(slot, kRequestEvent); }
  // Instead of a 1 ms sleep: the host's answer ends it early.
  void AwaitReply(const Deadline& deadline) { CommsWait(slot, kReplyEvent, deadline.LeftMs(1)); }
  // Looked at once the first wait has run out without an answer (a host
  // that crashed is replaced at once; an answered call never gets here),
  // then once in kHostCheckReads reads.
  bool ServerEnded(int32_t reads) { return (reads == 1 || reads % kHostCheckReads == 0) && HostEnded(); }
  CallOutcome ReplaceServer(const Deadline& deadline, LastSent& sent) {
    if (!RelaunchHost(deadline)) return deadline.Passed() ? kCallTimedOut : kCallNotAnswered;
    return GiveNewHostTheDevice(deadline, sent);
  }
  void Answered(const RequestBlock& sent, const RequestBlock& answer) {
    if (sent.pending_opcode == kRequestGetNextDevicePosition && answer.args[0] != -1) g_device_request = sent;
  }
  // A host that runs but did not answer is replaced by the next call.
  void Unanswered(const RequestBlock&, CallOutcome why) {
    if (why == kCallTimedOut) {
      NoteTimeOut();
      if (device_replay) LogWrite("callfn", "the new host program did not answer the device request in time");
    } else if (!device_replay) {
      LogWrite("callfn", "the host program ended before it answered");
    }
  }
};

// After a new host has been started: the enumeration call that gave the
// old host its device, sent again with its own number, within the call's
// deadline; its answer is not looked at. A new host that does not answer
// it has the call time out, like one that does not answer the call itself;
// the call's one withdrawal takes it back.
CallOutcome GiveNewHostTheDevice(const Deadline& deadline, LastSent& sent) {
  if (g_device_request.pending_opcode != kRequestGetNextDevicePosition) return kCallAnswered;
  RequestBlock replay = g_device_request;
  HostHop hop;
  hop.device_replay = true;
  return Exchange(hop, replay, false, deadline, sent);
}

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

void ReportTimeOut() {
  LogWrite("callfn", "timed out");
  fputs("**** Timeout ****\n", stdout);
  fflush(stdout);
}

CallOutcome callfn(const Deadline& deadline) {
  CallOutcome outcome = kCallNotAnswered;
  // The block that crosses carries the request code in both words.
  g_block.opcode = g_block.pending_opcode;
  // Without the section nothing can go out: no host is looked for or
  // started, and nothing is waited for.
  if (g_channel[kRequestSlot].view) {
    StartHostOnce(deadline);
    HostHop hop;
    LastSent sent;
    switch (PrepareHost(deadline)) {
      case kHostReady: outcome = Exchange(hop, g_block, true, deadline, sent); break;
      case kHostRestarted:
        outcome = GiveNewHostTheDevice(deadline, sent);
        if (outcome == kCallAnswered) outcome = Exchange(hop, g_block, true, deadline, sent);
        break;
      case kHostNone:
        if (deadline.Passed()) outcome = kCallTimedOut;
        break;
    }
    if (outcome != kCallAnswered) WithdrawRequest<RequestBlock>(kRequestSlot, sent);
  }
  if (outcome == kCallAnswered) return outcome;
  if (outcome == kCallTimedOut) ReportTimeOut();
  g_block.result = -1;
  return outcome;
}
