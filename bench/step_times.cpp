// The clock of common/step_times.h, compiled into the benchmark's step-timed
// copies of the proxy and the host program only (VORN_STEP_TIMES, and
// VORN_STEP_SIDE: which half of the records is this module's). A call's
// record goes to the section that proxy_bench made; without it, nowhere.
#include "step_times.h"

#include <algorithm>
#include <cstring>

#include "step_records.h"

namespace {

struct StepClock {
  bool in_call;
  CallStep current;  // the step that the time since `since` belongs to
  int64_t since;
  int64_t ticks[kCallSteps];
  LONG entries[kCallSteps];
  LONG edges[kCallSteps];
  bool looked_for_records;
  StepSideRecords* records;
  int64_t frequency;
};
StepClock g_steps;

int64_t Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

// The time up to this reading is the current step's, from it on `next`'s:
// each holds a part of the reading's own cost.
void SwitchTo(CallStep next) {
  const int64_t now = Now();
  g_steps.ticks[g_steps.current] += now - g_steps.since;
  ++g_steps.edges[g_steps.current];
  ++g_steps.edges[next];
  g_steps.current = next;
  g_steps.since = now;
}

LONG Nanoseconds(int64_t ticks) { return static_cast<LONG>(ticks * 1000000000 / g_steps.frequency); }

// What the clock costs a step each time it is entered: an empty step,
// entered again and again in a call of its own, holds nothing else (its
// two edges' shares of the readings). The median of several rounds, since
// another process may take the processor in any one.
LONG EntryCostNs() {
  constexpr int kRounds = 21, kEntries = 500;
  LONG per_entry[kRounds];
  for (LONG& ns : per_entry) {
    BeginCallSteps();
    for (int i = 0; i < kEntries; ++i) StepScope empty(kStepLog);
    ns = Nanoseconds(g_steps.ticks[kStepLog]) / kEntries;
    g_steps.in_call = false;
  }
  std::sort(per_entry, per_entry + kRounds);
  return per_entry[kRounds / 2];
}

StepSideRecords* Records() {
  if (!g_steps.looked_for_records) {
    g_steps.looked_for_records = true;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    g_steps.frequency = frequency.QuadPart;
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, kStepRecordsName);
    auto* all = mapping ? static_cast<StepRecords*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0)) : nullptr;
    if (all) {
      g_steps.records = &all->side[VORN_STEP_SIDE];
      g_steps.records->entry_cost_ns = EntryCostNs();
    }
  }
  return g_steps.records;
}

}  // namespace

StepScope::StepScope(CallStep step) : outer_(g_steps.current), counted_(g_steps.in_call) {
  if (!counted_) return;
  ++g_steps.entries[step];
  SwitchTo(step);
}

StepScope::~StepScope() {
  if (counted_ && g_steps.in_call) SwitchTo(outer_);
}

void BeginCallSteps() {
  Records();  // opened, and the clock's cost measured, before the first call's clock starts
  memset(g_steps.ticks, 0, sizeof g_steps.ticks);
  memset(g_steps.entries, 0, sizeof g_steps.entries);
  memset(g_steps.edges, 0, sizeof g_steps.edges);
  g_steps.edges[kStepRest] = 1;
  g_steps.current = kStepRest;
  g_steps.in_call = true;
  g_steps.since = Now();
}

void EndCallSteps(bool only_if_served) {
  if (!g_steps.in_call) return;
  SwitchTo(kStepRest);
  --g_steps.edges[kStepRest];  // the time after this reading is no call's
  g_steps.in_call = false;
  if (only_if_served && g_steps.entries[kStepServe] == 0) return;
  StepSideRecords* records = Records();
  if (!records) return;
  const LONG call = InterlockedIncrement(&records->calls) - 1;
  if (call < 0 || call >= kStepRecordsKept) return;
  for (int s = 0; s < kCallSteps; ++s) {
    records->ns[call][s] = Nanoseconds(g_steps.ticks[s]);
    records->entries[call][s] = g_steps.entries[s];
    records->edges[call][s] = g_steps.edges[s];
  }
}
