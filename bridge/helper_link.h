#pragma once
// The 64-bit plug-in's link to its helper program: started at the first
// call that needs it, started again after it has died, ended when the
// plug-in is freed. Every wait is bounded and counted by time.

#include <cstdint>

#include "bridge_record.h"

// Waits for one answer at most this long: Init waits for the pad (up to
// 30 attempts a second apart) behind the proxy's own bounded calls.
constexpr int64_t kCallBudgetMs = 120000;

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
