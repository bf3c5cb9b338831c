#pragma once
// Callers take turns. Every proxy in every process shares the one block in
// the section, so one caller's round trip, from the first write of its
// request to the read of its answer, must not meet another's: otherwise a
// request overwrites an answer that its caller has not read yet, and that
// caller sends its command again. So each export holds the callers' turn
// for the whole of its call: the block is prepared, sent and read back
// inside the turn.
//
// The turn is two turn words (turn_word.h), taken in this order:
//  - this process's, in its own memory, among its threads (by thread id),
//    with an unnamed event for the threads that wait; a thread ended from
//    outside inside its turn is taken over from;
//  - the one among processes, in the section "<section>.Turn" of its own
//    beside the block's (the block keeps its layout and size), with the
//    event "<section>.TurnFree" for the processes that wait. A process is
//    known there by its tag on the block's section and the event
//    "<section>.Holder.<tag>" that it keeps open (channel.h), so a process
//    that ended inside its turn is told from one that is merely paused,
//    even where its process id is given out again.
// A call that nobody competes with takes and gives back both without a
// call to the system.
//
// A process that cannot have the turn's section (its name taken by another
// kind of object) logs it and goes ahead as it would without turns among
// processes; one without the event waits by looking every millisecond. A
// peer that never takes the turn is still told apart by the request
// numbers, as before.

#include <cstdint>

#include "turn_word.h"
#include "wait_seam.h"

constexpr char kTurnSectionSuffix[] = ".Turn";
constexpr char kTurnEventSuffix[] = ".TurnFree";

class CallerTurn {
 public:
  // Opens the channel and the turn's objects unless they are open (a failed
  // open is tried again by the next call), then waits for the turn until
  // the call's deadline.
  explicit CallerTurn(const Deadline& deadline);
  ~CallerTurn();
  CallerTurn(const CallerTurn&) = delete;
  CallerTurn& operator=(const CallerTurn&) = delete;

  // This process's turn is held only together with the one among
  // processes, where that one can be had.
  bool taken() const { return local_; }

 private:
  bool local_ = false;   // this process's turn is held
  bool shared_ = false;  // and the one among processes
};

// The library is being unloaded: the turn's section and events are closed.
void CloseCallerTurn();

// The section that the proxy opens: "Vorn64BitInterface", unless a test
// names one of its own.
const char* ProxySectionName();
void UseProxySectionName(const char* name);
