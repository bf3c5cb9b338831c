#include "turn_word.h"

#include "debug_log.h"
#include "gap_seam.h"

namespace {

uint32_t g_turn_wait_ms = kTurnWaitMs;

// A taker that has not waited yet takes only a free turn; one that has
// also takes one handed over. Its own id in the word is not a free turn
// (TakeFromEndedHolder).
bool TryTake(const TurnParty& p, bool waiter) {
  const LONG seen = InterlockedCompareExchange(&p.record->holder, p.self, 0);
  if (seen == 0) return true;
  return waiter && seen == kTurnHandedOver &&
         InterlockedCompareExchange(&p.record->holder, p.self, kTurnHandedOver) == kTurnHandedOver;
}

bool AnyWaiter(const TurnRecord& r) {
  for (const volatile LONG& w : r.waiters)
    if (w != 0) return true;
  return false;
}

int Register(const TurnParty& p) {
  for (int i = 0; i < kTurnWaiterSlots; ++i)
    if (InterlockedCompareExchange(&p.record->waiters[i], p.self, 0) == 0) return i;
  return -1;
}

// Slots of waiters that ended while registered, and slots with this party's
// own id but for its own: a hand-over to them would wait for nobody.
void ForgetEndedWaiters(const TurnParty& p, int own_slot) {
  if (!p.take_from_ended) return;
  for (int i = 0; i < kTurnWaiterSlots; ++i) {
    const LONG w = p.record->waiters[i];
    if (w != 0 && i != own_slot) p.take_from_ended(p, &p.record->waiters[i], w, 0);
  }
}

// A hand-over that no waiter takes (they ended while registered) is met by
// every taker, so the slots are looked through, but not on every call of a
// busy hand-over among live waiters: at most once in kTurnWaitMs.
int64_t g_next_forget_us;

void ForgetEndedWaitersNowAndThen(const TurnParty& p, int own_slot) {
  const int64_t now = VornNowUs();
  if (now < g_next_forget_us) return;
  g_next_forget_us = now + 1000LL * g_turn_wait_ms;
  ForgetEndedWaiters(p, own_slot);
}

// From an ended holder, or one that had this party's own id.
bool TakeFromEndedHolder(const TurnParty& p) {
  const LONG seen = p.record->holder;
  if (seen == 0 || seen == kTurnHandedOver || !p.take_from_ended) return false;
  if (!p.take_from_ended(p, &p.record->holder, seen, p.self)) return false;
  if (seen != p.self) {
    LogWritef("CallerTurn", "holder %ld of %s has ended; its turn is taken over", static_cast<long>(seen), p.name);
  }
  return true;
}

// A waiter that leaves without the turn may have taken the signal of a
// hand-over: the hand-over goes to another waiter, or back to free.
void PassOn(const TurnParty& p) {
  if (p.record->holder != kTurnHandedOver) return;
  if (AnyWaiter(*p.record)) {
    VornSignal(p.free_event);
  } else {
    InterlockedCompareExchange(&p.record->holder, 0, kTurnHandedOver);
  }
}

}  // namespace

bool TakeTurn(const TurnParty& p, const Deadline& deadline) {
  if (TryTake(p, false)) return true;
  AtGap(kGapTurnFoundTaken, &p.record->holder);
  const int slot = Register(p);
  AtGap(kGapTurnRegistered, &p.record->holder);
  const bool blocks = slot >= 0 && p.free_event;
  const uint32_t piece = blocks ? g_turn_wait_ms : kTurnPollMs;
  bool got = false;
  // A turn handed over is taken only once this taker has waited (its wait
  // ended by a let-go's signal, or run out).
  bool waited = false;
  // Whether the holder has ended is asked (a call to the system) only after
  // kTurnWaitMs of waits that no let-go ended; this party's own id at once.
  uint32_t ran_out_ms = 0;
  for (;;) {
    const bool look = ran_out_ms >= g_turn_wait_ms || p.record->holder == p.self;
    if (TryTake(p, waited) || (look && TakeFromEndedHolder(p))) {
      got = true;
      break;
    }
    if (deadline.Passed()) break;
    if (look) ran_out_ms = 0;
    if (look || p.record->holder == kTurnHandedOver) ForgetEndedWaitersNowAndThen(p, slot);
    const uint32_t ms = deadline.LeftMs(piece);
    if (!VornWait(blocks ? p.free_event : nullptr, ms)) ran_out_ms += ms;
    waited = true;
  }
  if (slot >= 0) InterlockedExchange(&p.record->waiters[slot], 0);
  if (!got) PassOn(p);
  return got;
}

void LetGoOfTurn(const TurnParty& p) {
  if (InterlockedCompareExchange(&p.record->holder, 0, p.self) != p.self) return;
  if (AnyWaiter(*p.record) && InterlockedCompareExchange(&p.record->holder, kTurnHandedOver, 0) == 0)
    VornSignal(p.free_event);
}

void SetTurnWaitMs(uint32_t milliseconds) { g_turn_wait_ms = milliseconds ? milliseconds : kTurnWaitMs; }
