#include "request_call.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "channel.h"
#include "debug_log.h"
#include "host_launcher.h"
#include "wait_seam.h"

RequestBlock g_block;

namespace {

bool IsAnswerTo(const RequestBlock& request, const RequestBlock& seen) {
  return seen.done != 0 && seen.request_id == request.request_id && seen.opcode == request.opcode;
}

// The section holds nothing that anyone still waits for: no request at all,
// or the answer to another request (a late answer to an earlier call, or
// one that overwrote ours). Our request must go out again. A request that
// still waits, ours or another's, is left alone.
bool SectionNeedsRequest(const RequestBlock& request, const RequestBlock& seen) {
  if (seen.opcode == kNoRequest) return true;
  return seen.done != 0 && !IsAnswerTo(request, seen);
}

// Writes a request into the section and wakes the host.
void SendRequest(const RequestBlock& request, const Deadline& deadline) {
  if (CommsSend(kRequestSlot, &request, kBlockSize, deadline)) CommsSignal(kRequestSlot, kRequestEvent);
}

// Instead of a 1 ms sleep: the host's answer ends it early.
void AwaitReply(const Deadline& deadline) { CommsWait(kRequestSlot, kReplyEvent, deadline.LeftMs(1)); }

// A request's first write: the host's wake-up and the first wait for its
// answer go to the system as one call.
void SendRequestAndAwaitReply(const RequestBlock& request, const Deadline& deadline) {
  if (CommsSend(kRequestSlot, &request, kBlockSize, deadline))
    CommsSignalAndWait(kRequestSlot, kRequestEvent, kReplyEvent, deadline.LeftMs(1));
}

// The host remembers the device that its last LD_GetNextDevicePosition
// found, and passes it to every control and information call; a new host
// starts without one. This is the request that gave the host its device
// (pending_opcode 0 while there is none), so that a new host can be given
// it again before anything else.
RequestBlock g_device_request;

void NoteDeviceRequest(const RequestBlock& sent, const RequestBlock& answer) {
  if (sent.pending_opcode == kRequestGetNextDevicePosition && answer.args[0] != -1) g_device_request = sent;
}

CallOutcome RoundTrip(RequestBlock& request, bool may_restart, const Deadline& deadline);

// A request that its caller gives up on is taken back from the section, so
// that no host runs it after its caller was told that it failed. The lock
// may take one more short wait past the deadline.
void Withdraw(const RequestBlock& request) {
  CommsWithdrawRequest(kRequestSlot, request, Deadline::In(kWithdrawWaitMs));
}

// After a new host has been started: the enumeration call that gave the
// old host its device, sent again with its own number, within the call's
// deadline; its answer is not looked at. A new host that does not answer
// it has the call time out, like one that does not answer the call itself.
CallOutcome GiveNewHostTheDevice(const Deadline& deadline) {
  if (g_device_request.pending_opcode != kRequestGetNextDevicePosition) return kCallAnswered;
  RequestBlock replay = g_device_request;
  const CallOutcome outcome = RoundTrip(replay, false, deadline);
  if (outcome == kCallTimedOut) {
    Withdraw(replay);
    LogWrite("callfn", "the new host program did not answer the device request in time");
  }
  return outcome;
}

// A host ended while the call waited: one new host, given the device, and
// the request again, all within the same deadline.
CallOutcome ReplaceEndedHost(RequestBlock& request, const Deadline& deadline) {
  if (!RelaunchHost(deadline)) {
    if (deadline.Passed()) return kCallTimedOut;
    LogWrite("callfn", "the host program ended before it answered");
    return kCallNotAnswered;
  }
  const CallOutcome replay = GiveNewHostTheDevice(deadline);
  if (replay != kCallAnswered) return replay;
  SendRequest(request, deadline);
  return kCallAnswered;
}

// Sends `request` with a fresh number and waits, until the call's
// deadline, for the answer to that very request, which then replaces it.
// When the host ends meanwhile (and `may_restart`), a new one is started
// and given the request again; a host that ends again fails the call
// rather than hold the caller. Inside the caller's turn the section holds
// this request or its answer until the answer is read; it is sent again
// only where a peer without turns overwrote it.
CallOutcome RoundTrip(RequestBlock& request, bool may_restart, const Deadline& deadline) {
  request.opcode = request.pending_opcode;
  request.request_id = CommsNextRequestNumber();
  SendRequestAndAwaitReply(request, deadline);
  // Read into a copy: the request must stay at hand to be sent again, and a
  // block that answers another request is never taken for it.
  RequestBlock seen;
  for (int32_t reads = 1; !deadline.Passed(); ++reads) {
    if (CommsRecv(kRequestSlot, &seen, kBlockSize, deadline)) {
      if (IsAnswerTo(request, seen)) {
        NoteDeviceRequest(request, seen);
        request = seen;
        return kCallAnswered;
      }
      if (SectionNeedsRequest(request, seen)) SendRequest(request, deadline);
    }
    if (reads % kHostCheckReads == 0 && HostEnded()) {
      if (!may_restart) {
        LogWrite("callfn", "the host program ended before it answered");
        return kCallNotAnswered;
      }
      may_restart = false;
      const CallOutcome replaced = ReplaceEndedHost(request, deadline);
      if (replaced != kCallAnswered) return replaced;
    }
    AwaitReply(deadline);
  }
  return kCallTimedOut;
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
  StartHostOnce(deadline);
  CallOutcome outcome = kCallNotAnswered;
  if (g_channel[kRequestSlot].view) {
    switch (PrepareHost(deadline)) {
      case kHostReady: outcome = RoundTrip(g_block, true, deadline); break;
      case kHostRestarted:
        outcome = GiveNewHostTheDevice(deadline);
        if (outcome == kCallAnswered) outcome = RoundTrip(g_block, true, deadline);
        break;
      case kHostNone:
        if (deadline.Passed()) outcome = kCallTimedOut;
        break;
    }
  }
  if (outcome == kCallAnswered) return outcome;
  if (outcome == kCallTimedOut) {
    Withdraw(g_block);
    NoteTimeOut();
    ReportTimeOut();
  }
  g_block.result = -1;
  return outcome;
}
