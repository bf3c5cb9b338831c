#pragma once
// The 64-bit plug-in's link to its helper program: started at the first
// call that needs it, started again after it has died, ended when the
// plug-in is freed. Every wait is bounded and counted by time.

#include <cstdint>

#include "bridge_record.h"
#include "call_bound.h"

// Waits for one answer at most this long. One call of the 32-bit plug-in
// may meet one proxy call that times out against a stuck host program
// (kProxyCallBoundMs), and then calls that a host started in its place
// answers (its start, the launcher's second, the device given back): a
// helper that is only waiting on the proxy's time-out is never taken for a
// stuck one. Init waits for the pad, up to 30 attempts a second apart.
constexpr int64_t kHelperCallBudgetMs = kProxyCallBoundMs + 20000;

enum class HelperCall {
  kAnswered,  // `record` now holds the helper's answer
  kNoHelper,  // the helper file is missing or could not be started
  kNoAnswer,  // the helper ended during the call, or the budget ran out
};

// Where the helper is looked for: the folder <Name>-32bit beside this DLL.
const char* HelperPath();

// True when no helper runs (none started yet, or the last one has ended):
// the next HelperRoundTrip starts a new one.
bool HelperNeedsStart();

// Sends `record` (its opcode set by the caller) with a fresh request
// number and waits for the answer to that very request, starting the
// helper first when none runs.
HelperCall HelperRoundTrip(BridgeRecord& record);

// The plug-in is being freed: the helper is told to end and given a
// moment; the job object ends it if it has not.
void HelperRelease();
