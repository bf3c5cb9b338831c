#pragma once
// Callers take turns. Every proxy in every process shares the one block in
// the section, so one caller's round trip, from the first write of its
// request to the read of its answer, must not meet another's: otherwise a
// request overwrites an answer that its caller has not read yet, and that
// caller sends its command again. So each export holds the named mutex
// "<section>.Caller" (beside the section's two events) for the whole of its
// call: the block is prepared, sent and read back inside the turn. The one
// mutex serves the threads of one process as well as several processes.
//
// A caller whose previous holder died (WAIT_ABANDONED) has the turn; its
// request goes out whole anyway. A peer that never takes the turn (a proxy
// without it) is still told apart by the request numbers, as before.

#include <cstdint>

#include "wait_seam.h"

constexpr char kCallerMutexSuffix[] = ".Caller";
constexpr uint32_t kTurnWaitMs = 50;

class CallerTurn {
 public:
  // Opens the channel and the mutex unless they are open (a failed open
  // is tried again by the next call), then waits for the turn until the
  // call's deadline, in waits of kTurnWaitMs that the holder's release
  // ends at once. Without the mutex (its name taken by another kind of
  // object) the caller goes ahead as it would without turns.
  explicit CallerTurn(const Deadline& deadline);
  ~CallerTurn();
  CallerTurn(const CallerTurn&) = delete;
  CallerTurn& operator=(const CallerTurn&) = delete;

  bool taken() const { return taken_; }

 private:
  bool owned_ = false;
  bool taken_ = false;
};

// The library is being unloaded: the mutex is closed.
void CloseCallerTurn();

// The section that the proxy opens: "Vorn64BitInterface", unless a test
// names one of its own.
const char* ProxySectionName();
void UseProxySectionName(const char* name);
