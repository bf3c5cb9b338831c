#pragma once
// The 64-bit plug-in's link to its helper program: started at the first
// call that needs it, started again after it has died or stopped
// answering, ended when the plug-in is freed. Every wait is bounded by the
// deadline of the display host's call and counted by time.

#include <cstdint>

#include "bridge_record.h"
#include "call_bound.h"
#include "wait_seam.h"

// The budget of one display host call, whatever it takes: the end of a
// stuck helper, the start of a new one, the session given back to it, and
// the call itself. One call of the 32-bit plug-in may meet one proxy call
// that times out against a stuck host program (kProxyCallBoundMs), and
// then calls that a host started in its place answers (its start, the
// launcher's wait, the device given back): a helper that is only waiting on
// the proxy's time-out is never taken for a stuck one. Init waits for the
// pad, up to 30 attempts a second apart.
constexpr int64_t kHelperCallBudgetMs = kProxyCallBoundMs + 20000;
// The longest one display host call into the bridge takes: its budget, the
// overshoot of its last wait, and the withdrawal of a request that got no
// answer (the same allowance as a proxy call's).
constexpr int64_t kBridgedCallBoundMs = kHelperCallBudgetMs + kWaitOvershootMs + kWithdrawWaitMs + kWaitOvershootMs;

enum class HelperCall {
  kAnswered,  // `record` now holds the helper's answer
  kNoHelper,  // the helper file is missing or could not be started
  kNoAnswer,  // the helper ended during the call, or the deadline passed
};

// Where the helper is looked for: beside the display host's program.
const char* HelperPath();

// True when no usable helper runs (none started yet, the last one has
// ended, or it did not answer in time): the next call starts a new one.
bool HelperNeedsStart();

// A helper that runs and is ready: a stuck one is ended, and a new one is
// started when none runs. kAnswered when one is ready.
HelperCall EnsureHelper(const Deadline& deadline);

// Sends `record` (its opcode set by the caller) with a fresh request
// number and waits for the answer to that very request, until `deadline`,
// starting the helper first when none runs.
HelperCall HelperRoundTrip(BridgeRecord& record, const Deadline& deadline);

// The plug-in is being freed: the helper is told to end and given a
// moment; the job object ends it if it has not.
void HelperRelease();
