#pragma once
// Places inside the turn, the lock and the copy where one party can be
// stopped and another let in: a test's hook runs there, so each meeting
// that matters is forced on every run, on any machine, instead of waited
// for. The shipped code has no hook; passing a place costs one load of a
// null pointer (a copy loads it once for all of its places).

enum GapPoint {
  // A holder was found ended (its id kept from others meanwhile); the
  // compare-exchange that takes the word over from it comes next.
  kGapHolderEnded,
  // A taker found the turn taken and is about to register as a waiter.
  kGapTurnFoundTaken,
  // A waiter has registered and is about to look at the turn again.
  kGapTurnRegistered,
  // This process's turn is held; the one among processes is not yet.
  kGapBetweenTurnWords,
  // A copy into a section: the opcode is cleared; then the record behind
  // `done` is written; then `done`; the opcode comes last.
  kGapCopyOpcodeCleared,
  kGapCopyRecordWritten,
  kGapCopyDoneWritten,
};

// `word`: the word concerned (the lock word, a turn word, the record a copy
// writes), so that a hook tells the parties' words apart.
using GapHook = void (*)(GapPoint point, const volatile void* word);
extern GapHook g_gap_hook;

// Tests: runs `hook` at every place (null: none again).
void SetGapHook(GapHook hook);

inline void AtGap(GapHook hook, GapPoint point, const volatile void* word) {
  if (hook) hook(point, word);
}
inline void AtGap(GapPoint point, const volatile void* word) { AtGap(g_gap_hook, point, word); }
