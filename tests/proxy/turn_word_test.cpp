// The turn word on its own: the parties are threads of the test, each with
// an id of its own, on one record and one event. Waits are real; the seam
// counts them, the ones that ran out, and the signals. Where two parties
// must meet in a gap, a seam stops one there and lets the other in.
#include "turn_word.h"

#include <gtest/gtest.h>
#include <process.h>

#include "first_write_trap.h"
#include "gap_seam.h"
#include "thread_lock.h"

namespace {

struct Counts {
  LONG waits, ran_out, signals;
};
Counts g_counts;

bool CountingWait(HANDLE event, uint32_t ms) {
  InterlockedIncrement(&g_counts.waits);
  bool signalled = false;
  if (event) {
    signalled = WaitForSingleObject(event, ms) == WAIT_OBJECT_0;
  } else {
    Sleep(ms);
  }
  if (!signalled) InterlockedIncrement(&g_counts.ran_out);
  return signalled;
}

void CountingSignal(HANDLE event) {
  InterlockedIncrement(&g_counts.signals);
  SetEvent(event);
}

// Ids that stand for takers that have ended; the take-over itself, as a
// party's own id, is a plain compare-exchange here (the real ones, with
// their claims, are thread_lock.h's and channel.h's).
constexpr LONG kEndedId = 77;
bool TakeFromEndedIds(const TurnParty& p, volatile LONG* word, LONG seen, LONG value) {
  const bool ended = seen == p.self || seen == kEndedId || seen == kEndedId + 1;
  return ended && InterlockedCompareExchange(word, value, seen) == seen;
}

class TurnWord : public ::testing::Test {
 protected:
  void SetUp() override {
    g_counts = {};
    SetWaitFunction(CountingWait);
    SetSignalFunction(CountingSignal);
    event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  }
  void TearDown() override {
    SetWaitFunction(nullptr);
    SetSignalFunction(nullptr);
    SetGapHook(nullptr);
    SetTurnWaitMs(0);
    CloseHandle(event_);
  }
  TurnParty Party(LONG id) { return TurnParty{&record_, event_, id, TakeFromEndedIds, "the test's turn"}; }
  bool NoWaiters() const {
    for (LONG w : record_.waiters)
      if (w != 0) return false;
    return true;
  }

  TurnRecord record_ = {};
  HANDLE event_ = nullptr;
};

// A thread that runs `body` until it returns.
template <typename Body>
struct Thread {
  explicit Thread(Body body) : body(body) {
    handle = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Run, this, 0, &id));
  }
  ~Thread() { Join(); }
  void Join() {
    if (!handle) return;
    WaitForSingleObject(handle, INFINITE);
    CloseHandle(handle);
    handle = nullptr;
  }
  static unsigned __stdcall Run(void* self) {
    static_cast<Thread*>(self)->body();
    return 0;
  }
  Body body;
  HANDLE handle;
  unsigned id = 0;
};

}  // namespace

// Taking and letting go of a turn that nobody else wants, one party after
// another: no wait, no signal.
TEST_F(TurnWord, AFreeTurnIsTakenAndLetGoWithoutACallToTheSystem) {
  for (int i = 0; i < 1000; ++i) {
    const TurnParty party = Party(100 + 4 * (i % 3));
    ASSERT_TRUE(TakeTurn(party, Deadline::In(1000)));
    EXPECT_EQ(record_.holder, party.self);
    LetGoOfTurn(party);
    ASSERT_EQ(record_.holder, 0);
  }
  EXPECT_EQ(g_counts.waits, 0);
  EXPECT_EQ(g_counts.signals, 0);
  EXPECT_TRUE(NoWaiters());
}

// A waiter blocks until the holder lets go, and is woken by that: one
// signal, and no wait that ran out even with waits of a minute.
TEST_F(TurnWord, AWaiterIsHandedTheTurnWhenTheHolderLetsGo) {
  SetTurnWaitMs(60000);
  const TurnParty holder = Party(100), waiter = Party(200);
  ASSERT_TRUE(TakeTurn(holder, Deadline::In(1000)));
  volatile LONG got = -1;
  Thread thread([&] { got = TakeTurn(waiter, Deadline::In(120000)); });
  while (NoWaiters()) Sleep(1);
  Sleep(20);
  EXPECT_EQ(got, -1);
  LetGoOfTurn(holder);
  thread.Join();
  EXPECT_EQ(got, 1);
  EXPECT_EQ(record_.holder, waiter.self);
  EXPECT_TRUE(NoWaiters());
  EXPECT_EQ(g_counts.signals, 1);
  EXPECT_EQ(g_counts.ran_out, 0);
  LetGoOfTurn(waiter);
  EXPECT_EQ(record_.holder, 0);
  EXPECT_EQ(g_counts.signals, 1);
}

// The waiter's registration and the holder's let-go, in both orders: the
// let-go just before the waiter registers (its second try finds the turn
// free), and just after (the let-go finds it, hands the turn over and
// signals). Either way the waiter has the turn without a wait that runs
// out, though each would last two seconds.
TurnParty g_letting_go;
GapPoint g_let_go_at;

void LetGoThere(GapPoint point, const volatile void*) {
  if (point != g_let_go_at || !g_letting_go.record) return;
  const TurnParty holder = g_letting_go;
  g_letting_go.record = nullptr;
  LetGoOfTurn(holder);
}

TEST_F(TurnWord, NoWakeUpIsLostWhenTheHolderLetsGoAsAWaiterRegisters) {
  SetTurnWaitMs(2000);
  SetGapHook(LetGoThere);
  const TurnParty holder = Party(100), waiter = Party(200);
  for (GapPoint at : {kGapTurnFoundTaken, kGapTurnRegistered}) {
    SCOPED_TRACE(at);
    ASSERT_TRUE(TakeTurn(holder, Deadline::In(1000)));
    g_letting_go = holder;
    g_let_go_at = at;
    EXPECT_TRUE(TakeTurn(waiter, Deadline::In(10000)));
    EXPECT_EQ(g_letting_go.record, nullptr) << "the holder did not let go there";
    EXPECT_EQ(record_.holder, waiter.self);
    LetGoOfTurn(waiter);
  }
  EXPECT_EQ(g_counts.ran_out, 0) << "waits that no let-go ended";
  EXPECT_EQ(g_counts.signals, 1) << "the let-go that found the waiter registered signals, and only that one";
  EXPECT_EQ(record_.holder, 0);
  EXPECT_TRUE(NoWaiters());
}

// The turn is taken with one compare-exchange: another party that takes it
// at the moment a taker first writes the word keeps it, and the taker
// waits (here: gives up at once).
TurnParty g_other;
bool g_other_took;

TEST_F(TurnWord, ATurnTakenAsATakerFirstWritesTheWordIsTheOtherPartysAlone) {
  auto* paged = static_cast<TurnRecord*>(vt::NewPage());
  ASSERT_NE(paged, nullptr);
  g_other = TurnParty{paged, event_, 100, TakeFromEndedIds, "the test's turn"};
  const TurnParty taker{paged, event_, 200, TakeFromEndedIds, "the test's turn"};
  bool taken;
  {
    vt::FirstWriteTrap trap(&paged->holder, [] { g_other_took = TakeTurn(g_other, Deadline::In(0)); });
    taken = TakeTurn(taker, Deadline::In(0));
    EXPECT_TRUE(trap.sprung());
  }
  EXPECT_TRUE(g_other_took);
  EXPECT_FALSE(taken);
  EXPECT_EQ(paged->holder, 100);
  vt::FreePage(paged);
}

// A waiter (this thread) stopped between judging an ended thread's turn
// ended and its compare-exchange, and let in there, on a thread of its own,
// in turn:
//  - another waiter, which does not take the turn over as well;
//  - a new thread given the ended one's id, which does not take the word
//    for its own.
// The take-over is the one of this process's threads (thread_lock.h).
TakeOverGuard g_guard;
bool TakeFromEndedThreadHere(const TurnParty& p, volatile LONG* word, LONG seen, LONG value) {
  return TakeFromEndedThread(g_guard, word, seen, value, p.self);
}

enum class LetIn { kAnotherWaiter, kTheEndedIdAnew };
LetIn g_let_in;
LONG g_ended_thread;
TurnRecord* g_record;
HANDLE g_event;
DWORD g_judging;  // the thread to stop in the gap, until it has been
bool g_let_in_took;

unsigned __stdcall TakeAsLetIn(void*) {
  const LONG self = g_let_in == LetIn::kAnotherWaiter ? static_cast<LONG>(GetCurrentThreadId()) : g_ended_thread;
  g_let_in_took =
      TakeTurn(TurnParty{g_record, g_event, self, TakeFromEndedThreadHere, "the test's turn"}, Deadline::In(30));
  return 0;
}

void LetAnotherThreadIn(GapPoint point, const volatile void* word) {
  if (point != kGapHolderEnded || word != &g_record->holder || GetCurrentThreadId() != g_judging) return;
  g_judging = 0;
  HANDLE other = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, TakeAsLetIn, nullptr, 0, nullptr));
  WaitForSingleObject(other, INFINITE);
  CloseHandle(other);
}

TEST_F(TurnWord, AnEndedThreadsTurnIsTakenOverByTheOneWaiterThatJudgedItEnded) {
  SetTurnWaitMs(1);
  // Its handle stays open to the end, so its id is not given out again.
  Thread ended([] {});
  ASSERT_EQ(WaitForSingleObject(ended.handle, 5000), WAIT_OBJECT_0);
  g_ended_thread = static_cast<LONG>(ended.id);
  g_record = &record_;
  g_event = event_;
  SetGapHook(LetAnotherThreadIn);
  const TurnParty judge{&record_, event_, static_cast<LONG>(GetCurrentThreadId()), TakeFromEndedThreadHere,
                        "the test's turn"};
  for (LetIn let_in : {LetIn::kAnotherWaiter, LetIn::kTheEndedIdAnew}) {
    SCOPED_TRACE(static_cast<int>(let_in));
    g_let_in = let_in;
    g_let_in_took = true;
    g_judging = GetCurrentThreadId();
    record_.holder = g_ended_thread;
    EXPECT_TRUE(TakeTurn(judge, Deadline::In(10000)));
    EXPECT_EQ(g_judging, 0u) << "not stopped between judging the holder ended and taking over";
    EXPECT_FALSE(g_let_in_took);
    EXPECT_EQ(record_.holder, judge.self);
    LetGoOfTurn(judge);
  }
  EXPECT_TRUE(NoWaiters());
  CloseTakeOverGuard(g_guard);
}

// A party that lets go of a turn taken over from it meanwhile (it was
// thought to have ended) leaves it to its new holder.
TEST_F(TurnWord, ALetGoLeavesATurnTakenOverMeanwhileToItsNewHolder) {
  ASSERT_TRUE(TakeTurn(Party(100), Deadline::In(0)));
  record_.holder = 200;
  LetGoOfTurn(Party(100));
  EXPECT_EQ(record_.holder, 200);
}

// A holder that runs keeps its turn however long it holds it (paused, say):
// the waiter gives up at its deadline and leaves its slot free.
TEST_F(TurnWord, AHolderThatRunsKeepsTheTurnAndTheWaiterGivesUpAtItsDeadline) {
  SetTurnWaitMs(10);
  record_.holder = 300;
  const int64_t start = VornNowUs();
  EXPECT_FALSE(TakeTurn(Party(100), Deadline::In(150)));
  EXPECT_GE(VornNowUs() - start, 150000);
  EXPECT_EQ(record_.holder, 300);
  EXPECT_TRUE(NoWaiters());
}

// A waiter that ended while registered would have every let-go signal for
// nobody: the next taker that finds the turn handed over forgets it (and
// takes the turn after one wait, which the let-go's signal ends), and the
// let-goes after that signal no more.
TEST_F(TurnWord, AWaiterThatEndedWhileRegisteredIsForgotten) {
  record_.waiters[4] = kEndedId + 1;
  const TurnParty a = Party(100), b = Party(200);
  ASSERT_TRUE(TakeTurn(a, Deadline::In(1000)));
  LetGoOfTurn(a);
  EXPECT_EQ(record_.holder, kTurnHandedOver);
  EXPECT_EQ(g_counts.signals, 1);
  ASSERT_TRUE(TakeTurn(b, Deadline::In(1000)));
  EXPECT_EQ(record_.waiters[4], 0);
  LetGoOfTurn(b);
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(TakeTurn(a, Deadline::In(1000)));
    LetGoOfTurn(a);
  }
  EXPECT_EQ(g_counts.signals, 1);
  EXPECT_EQ(g_counts.waits, 1);
  EXPECT_EQ(g_counts.ran_out, 0);
  EXPECT_EQ(record_.holder, 0);
}

// A party's own id in the word while it does not hold the turn was left by
// an ended holder that had the same id: its take-over makes the turn its
// own at once, without a wait.
TEST_F(TurnWord, APartysOwnIdLeftInTheWordIsTakenOverAtOnce) {
  record_.holder = 100;
  ASSERT_TRUE(TakeTurn(Party(100), Deadline::In(0)));
  LetGoOfTurn(Party(100));
  EXPECT_EQ(record_.holder, 0);
  EXPECT_EQ(g_counts.waits, 0);
}

// A turn handed over is taken only by a taker that has waited: a newcomer
// that cannot wait leaves it to the waiter, and passes on the signal it may
// have taken.
TEST_F(TurnWord, ANewcomerLeavesATurnHandedOverToTheWaiters) {
  record_.holder = kTurnHandedOver;
  record_.waiters[2] = 500;
  EXPECT_FALSE(TakeTurn(Party(100), Deadline::In(0)));
  EXPECT_EQ(record_.holder, kTurnHandedOver);
  EXPECT_EQ(g_counts.signals, 1);
  EXPECT_EQ(g_counts.waits, 0);
}
