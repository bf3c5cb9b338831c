#pragma once
// Where a call's time goes, step by step, for the benchmark's own copies of
// the proxy and the host program (bench/step_times.cpp). Only objects
// compiled with VORN_STEP_TIMES read the clock; everywhere else the macros
// below are empty, so a shipped file is the same bytes with them or without.
//
//   VORN_CALL_STEPS();       the proxy: a call, from here to the end of the scope
//   VORN_HOST_CALL_BEGIN();  the host: a wait has ended ...
//   VORN_HOST_CALL_END();    ... the next begins; kept when a request was served
//   VORN_STEP(step);         the time to the end of the scope is `step`'s,
//                            less that of the steps inside it
// Time inside a call that no step claims is the call's own (kStepRest).

enum CallStep {
  kStepRest,        // the call's own code, outside the steps below
  kStepTurn,        // taking and letting go of the callers' turn
  kStepCopyIn,      // a copy into the section, its lock with it
  kStepSignalWait,  // a signal, a wait, or both in one call to the system
  kStepCopyOut,     // a copy out of the section, its lock with it
  kStepTrace,       // the trace stack's pushes and pops
  kStepLog,         // the log: its checks, and any line it writes
  kStepServe,       // the host: the vendor library's call
  kCallSteps
};

#ifdef VORN_STEP_TIMES

class StepScope {
 public:
  explicit StepScope(CallStep step);
  ~StepScope();
  StepScope(const StepScope&) = delete;
  StepScope& operator=(const StepScope&) = delete;

 private:
  CallStep outer_;
  bool counted_;
};

void BeginCallSteps();
// Keeps the call's record for the benchmark, unless `only_if_served` and no
// kStepServe ran in it.
void EndCallSteps(bool only_if_served);

class CallSteps {
 public:
  CallSteps() { BeginCallSteps(); }
  ~CallSteps() { EndCallSteps(false); }
  CallSteps(const CallSteps&) = delete;
  CallSteps& operator=(const CallSteps&) = delete;
};

#define VORN_STEP(step) StepScope vorn_step_scope_(step)
#define VORN_CALL_STEPS() CallSteps vorn_call_steps_
#define VORN_HOST_CALL_BEGIN() BeginCallSteps()
#define VORN_HOST_CALL_END() EndCallSteps(true)

#else

#define VORN_STEP(step) static_cast<void>(0)
#define VORN_CALL_STEPS() static_cast<void>(0)
#define VORN_HOST_CALL_BEGIN() static_cast<void>(0)
#define VORN_HOST_CALL_END() static_cast<void>(0)

#endif
