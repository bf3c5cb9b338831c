#pragma once
// The bridge DLL's link to its helper program: started at the first
// call that needs it, started again after it has died or stopped
// answering, ended when the plug-in is freed. Every wait is bounded by the
// deadline of the display host's call and counted by time.
//
// A call may leave its request with the helper (HelperSend with
// kLeaveInFlight): the display host goes on while the plug-in takes its
// time, and the next call first looks for that answer (HelperSettle). The
// section holds one request, so nothing else is sent meanwhile. A request
// left so is given up on, and its helper replaced, only when it has gone
// unanswered for kHelperCallBudgetMs.
//
// A helper that ends before it has answered a call of the display host's
// own (the session given back does not count) is a failed start: the next
// one is started only after a pause that doubles with each failed start in
// a row, from kFirstBackOffMs up to kLongestBackOffMs. After a helper that
// did answer, the next one starts at once.

#include <cstdint>

#include "bridge_record.h"
#include "call_bound.h"
#include "wait_seam.h"

// The longest the 32-bit MediaPad plug-in may legitimately take for one
// call, and so the longest the bridge waits for an answer before it takes
// the helper for stuck: a call that meets a stuck host program
// (kProxyCallBoundMs) and then one that the host started in its place
// meets stuck too, or Init's 30 tries a second apart after one such
// time-out (about 130 s); with 30 s for host starts, the device given back
// and the tries' own calls. Init, Done and the setup dialog's texts wait
// as long as the plug-in's own call: as long as the display host would
// wait with the plug-in loaded directly.
constexpr int64_t kHelperCallBudgetMs = 2 * kProxyCallBoundMs + 30000;
// The longest one display host call into the bridge takes: its budget, the
// overshoot of its last wait, and the withdrawal of a request that got no
// answer (the same allowance as a proxy call's).
constexpr int64_t kBridgedCallBoundMs = kHelperCallBudgetMs + kWaitOvershootMs + kWithdrawWaitMs + kWaitOvershootMs;

// A call that gives the display host no result (Write, the settings) and
// the two that give one it can do without (ReadKey, CustomCharIndex) wait
// this long for the helper's answers, the session given back included;
// then the call returns and its request stays with the helper.
constexpr int64_t kQuickCallMs = 200;
// Such a call that finds no helper starts one and gives it this long to
// load its plug-in; a helper not ready by then is looked at again by the
// next call. One start at most per call.
constexpr int64_t kHelperStartWaitMs = 3000;
// What a quick call takes at most: its waits, their last overshoot, and a
// helper start.
constexpr int64_t kQuickCallBoundMs = kHelperStartWaitMs + kQuickCallMs + 2 * kWaitOvershootMs;
// The pause before a helper is started after a failed start: doubled after
// each further failed start, up to the longest.
constexpr int64_t kFirstBackOffMs = 1000;
constexpr int64_t kLongestBackOffMs = 30000;

enum class HelperCall {
  kAnswered,    // `record` now holds the helper's answer
  kNoHelper,    // the helper file is missing or could not be started
  kNoAnswer,    // the helper ended during the call, or the deadline passed
  kPending,     // the request stays with the helper (kLeaveInFlight), or a helper is still starting
  kBackingOff,  // helpers keep failing: none is started before the pause is over
};

// Whose call a request is: the display host's own, or one that gives a new
// helper the session back (whose answer proves nothing about the plug-in).
enum class CallKind { kOwn, kGivingBack };
// What happens to a request that the deadline finds unanswered.
enum class Unanswered { kTakeBack, kLeaveInFlight };

// Where the helper is looked for: beside the display host's program.
const char* HelperPath();

// True when no usable helper runs (none started yet, the last one has
// ended, or it did not answer in time): the next call starts a new one.
bool HelperNeedsStart();
// True while a helper started by an earlier call has not said it is ready.
bool HelperStarting();

// Counts up with every helper started: a helper that the session has not
// been given yet has a number the plug-in has not seen.
uint32_t HelperNumber();

// A helper that runs and is ready: a stuck one is ended, and a new one is
// started when none runs, unless helpers keep failing and the pause is not
// over (kBackingOff; `despite_back_off` starts one all the same). A start
// waits for the helper's ready until `start_deadline`; a helper not ready
// by then is kPending and looked at again by the next call.
HelperCall EnsureHelper(const Deadline& start_deadline, bool despite_back_off = false);

// The answer to the request left with the helper, if one is: waits for it
// until `deadline`. True when no request is left with the helper (any
// answer is then in `*answer` with `*had_answer` set); false while it is
// still out, or when the helper ended or passed the long deadline with it.
bool HelperSettle(const Deadline& deadline, BridgeRecord* answer, bool* had_answer);

// Sends `record` (its opcode set by the caller) with a fresh request
// number to the helper that EnsureHelper made ready, and waits for the
// answer to that very request until `deadline`.
HelperCall HelperSend(BridgeRecord& record, const Deadline& deadline, CallKind kind, Unanswered unanswered);

// The helper's plug-in refused the session given back: the helper is
// ended, and that counts as a failed start.
void HelperRefused();

// The plug-in is being freed: the helper is told to end and given a
// second; then it is ended, whether or not the job object holds it.
void HelperRelease();

// For tests: a helper left out of the job object, as where the display
// host's own job forbids one.
void UseHelperJob(bool use);
