#pragma once
// A turn that costs nothing to take while nobody else wants it: a word in
// memory that its takers share, taken with one compare-exchange from 0 to
// the taker's id and let go with one from that id back to 0. Only a taker
// that finds it taken makes calls to the system:
//  - it registers in one of the record's waiter slots, then tries again
//    (so a let-go that came before its registration is seen), and blocks
//    on the record's auto-reset event for at most kTurnWaitMs at a time;
//  - the one that lets go looks at the waiter slots after its let-go; only
//    when a waiter is registered does it hand the turn over
//    (kTurnHandedOver) and signal the event. Either the waiter's
//    registration comes before that look, and it is signalled, or its
//    second try comes after the let-go, and it takes the turn itself: no
//    wake-up is lost. A wait that runs out anyway only costs one more look;
//  - a turn handed over is taken only by a taker that has registered and
//    waited once (its wait ended by a signal, or run out); one that cannot
//    wait leaves it. No order among the waiters is kept: a taker that came
//    after the let-go, registered and took its signal first takes it, and
//    a waiter that was there before looks again when its wait runs out;
//  - a holder that has ended is taken over by one waiter: the party's
//    take_from_ended judges it ended and makes the compare-exchange against
//    that very holder while no other party can come to have its id or
//    judge it ended too. A holder that is merely paused keeps the turn, and
//    the waiter gives up at its deadline;
//  - a taker that finds its own id in the word while it does not hold the
//    turn finds it left by an ended holder that had that id: it takes it
//    through take_from_ended as well, never for the equality alone (a
//    waiter may be judging that holder ended at that very moment);
//  - a waiter that leaves without the turn passes on a hand-over that it
//    may have taken the signal of; a waiter that ended while registered is
//    forgotten by a taker that finds the turn handed over (looked for at
//    most once in kTurnWaitMs, since each look asks the system).

#include <windows.h>

#include <cstdint>

#include "wait_seam.h"

constexpr int kTurnWaiterSlots = 15;
constexpr LONG kTurnHandedOver = -1;
// A blocked waiter looks at the turn again after this long, also without
// a signal; one without a slot or an event polls every kTurnPollMs.
constexpr uint32_t kTurnWaitMs = 50;
constexpr uint32_t kTurnPollMs = 1;

struct TurnRecord {
  volatile LONG holder;                     // 0: free; kTurnHandedOver: for a waiter to take; else the holder's id
  volatile LONG waiters[kTurnWaiterSlots];  // the ids of registered waiters; 0: a free slot
};
static_assert(sizeof(TurnRecord) == 64, "the record is shared: its layout stays");

struct TurnParty;
// Replaces `seen`, an id in `word` (the holder, or a waiter's slot), by
// `value` when the taker that it names has ended, or when it is the party's
// own id (left there by an ended taker that had it): with a compare-exchange
// against `seen`, made while no other party can come to have that id or
// judge it ended. False otherwise.
using TakeFromEndedFunction = bool (*)(const TurnParty& party, volatile LONG* word, LONG seen, LONG value);

// Who takes a turn, and where.
struct TurnParty {
  TurnRecord* record;
  HANDLE free_event;  // auto-reset, signalled on a hand-over; null: waiters poll
  LONG self;          // non-zero, not kTurnHandedOver, and no other live taker's
  // Null: takers never end while they hold the turn.
  TakeFromEndedFunction take_from_ended;
  const char* name;  // for the log line of a take-over
};

// Takes the turn, waiting until `deadline` at most; false when it could not
// be had by then.
bool TakeTurn(const TurnParty& party, const Deadline& deadline);
// Lets go of a turn that TakeTurn gave; one taken over meanwhile (this
// party was thought to have ended) stays its new holder's.
void LetGoOfTurn(const TurnParty& party);

// Tests: the length of a blocked waiter's waits (0: kTurnWaitMs again), so
// that a lost wake-up shows as a wait that ran out.
void SetTurnWaitMs(uint32_t milliseconds);
