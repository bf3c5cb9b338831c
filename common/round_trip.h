#pragma once
// One round trip of a request record through a channel slot to the process
// that serves it, for both hops of the chain: the proxy to the host program
// (proxy/request_call.cpp) and the 64-bit plug-in to its 32-bit helper
// (bridge/helper_link.cpp). The record goes out with a fresh request number;
// the call waits, until its deadline, for the answer to that very request;
// it notices when the serving process has ended and, where the hop allows
// it, has it replaced once and sends the request again; and a request that
// gets no answer is taken back from the section, so that nobody serves it
// after its caller was told that it failed. A call takes back once,
// whatever it sent: the replacement's own round trips (a new server given
// its state) leave that to the call.
//
// A hop supplies what differs between the two:
//   int32_t slot;                                  the channel slot
//   void SignalAndAwaitReply(const Deadline&);     wake the server, first wait
//   void Signal();                                 wake the server
//   void AwaitReply(const Deadline&);              one wait, ended early by the answer
//   bool ServerEnded(int32_t reads);               looked at as often as the hop finds cheap
//   CallOutcome ReplaceServer(const Deadline&, LastSent&);
//                                                  a new server, given its state back
//                                                  (its sends noted, for the call's withdrawal)
//   void Answered(const Record& sent, const Record& answer);
//   void Unanswered(const Record& request, CallOutcome why);  the log line, the stuck mark

#include <cstdint>

#include "channel.h"
#include "wait_seam.h"

enum CallOutcome {
  kCallAnswered,     // the record holds the answer to this request
  kCallTimedOut,     // the deadline passed; the record is as it was sent
  kCallNotAnswered,  // no channel, or no server to be had: it ended, or could not be started
};

// A call's withdrawal may wait this long for the section's lock after the
// deadline: the one wait that a call may take past its budget.
constexpr uint32_t kWithdrawWaitMs = 50;

// What a call last put into the section. Each send overwrites the section,
// so of all that a call sent only this can still be there.
struct LastSent {
  int32_t opcode = 0;  // 0: nothing sent
  int32_t request_id = 0;
};

// The answer to `request`, and no other: a late answer to an earlier call,
// or one to another caller's request, is never taken for it.
template <typename Record>
bool IsAnswerTo(const Record& request, const Record& seen) {
  return seen.done != 0 && seen.request_id == request.request_id && seen.opcode == request.opcode;
}

// The section holds nothing that anyone still waits for: no request at all,
// or the answer to another request (one that a peer without turns wrote over
// ours). Our request must go out again. A request that still waits, ours or
// another's, is left alone.
template <typename Record>
bool SectionNeedsRequest(const Record& request, const Record& seen) {
  if (seen.opcode == 0) return true;
  return seen.done != 0 && !IsAnswerTo(request, seen);
}

// Takes the request that a call has given up on back from the section: its
// opcode goes, while the section still holds it unanswered.
template <typename Record>
bool WithdrawRequest(int32_t slot, const LastSent& sent) {
  return sent.opcode != 0 &&
         CommsChangeUnanswered<Record>(
             slot, sent, [](Record& current) { current.opcode = 0; }, Deadline::In(kWithdrawWaitMs));
}

// The round trip without the withdrawal: what it sent is noted in `sent`.
template <typename Record, typename Hop>
CallOutcome Exchange(Hop& hop, Record& request, bool may_replace, const Deadline& deadline, LastSent& sent) {
  constexpr int32_t kSize = static_cast<int32_t>(sizeof(Record));
  request.lock = 0;
  request.done = 0;
  request.request_id = CommsNextRequestNumber();
  auto send = [&] {
    if (!CommsSend(hop.slot, &request, kSize, deadline)) return false;
    sent = LastSent{request.opcode, request.request_id};
    return true;
  };
  if (send()) hop.SignalAndAwaitReply(deadline);
  auto resend = [&] {
    if (send()) hop.Signal();
  };
  // Read into a copy of its own: the request must stay at hand to be sent
  // again. Static, since a record may be several kilobytes; calls of one
  // hop take turns.
  static Record seen;
  CallOutcome outcome = kCallTimedOut;
  for (int32_t reads = 1; !deadline.Passed(); ++reads) {
    if (CommsRecv(hop.slot, &seen, kSize, deadline)) {
      if (IsAnswerTo(request, seen)) {
        hop.Answered(request, seen);
        request = seen;
        return kCallAnswered;
      }
      if (SectionNeedsRequest(request, seen)) resend();
    }
    if (hop.ServerEnded(reads)) {
      if (!may_replace) {
        outcome = kCallNotAnswered;
        break;
      }
      may_replace = false;
      outcome = hop.ReplaceServer(deadline, sent);
      if (outcome != kCallAnswered) break;
      outcome = kCallTimedOut;
      resend();
    }
    hop.AwaitReply(deadline);
  }
  hop.Unanswered(request, outcome);
  return outcome;
}

// A call's round trip: the exchange, then, without an answer, the one
// withdrawal of whatever the call left in the section.
template <typename Record, typename Hop>
CallOutcome RoundTrip(Hop& hop, Record& request, bool may_replace, const Deadline& deadline) {
  LastSent sent;
  const CallOutcome outcome = Exchange(hop, request, may_replace, deadline, sent);
  if (outcome != kCallAnswered) WithdrawRequest<Record>(hop.slot, sent);
  return outcome;
}
