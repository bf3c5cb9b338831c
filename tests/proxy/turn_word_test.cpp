// The turn word on its own: the parties are threads of the test, each with
// an id of its own, on one record and one event. Waits are real; the seam
// counts them, the ones that ran out, and the signals.
#include "turn_word.h"

#include <gtest/gtest.h>
#include <process.h>

#include <functional>
#include <vector>

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

constexpr LONG kEndedId = 77;
bool EndedIds(LONG id) { return id == kEndedId || id == kEndedId + 1; }

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
    SetTurnWaitMs(0);
    CloseHandle(event_);
  }
  TurnParty Party(LONG id) { return TurnParty{&record_, event_, id, EndedIds, "the test's turn"}; }
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
    handle = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Run, this, 0, nullptr));
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
};

void SpinUntil(const volatile LONG& flag, LONG value) {
  while (flag != value) YieldProcessor();
}

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

// The waiter's registration and the holder's let-go, started together in
// every order the two processors make of them, many times: the waiter
// always gets the turn from the let-go, never from a wait that ran out.
TEST_F(TurnWord, NoWakeUpIsLostWhenAWaiterRegistersAsTheHolderLetsGo) {
  SetTurnWaitMs(30000);
  constexpr LONG kRounds = 3000;
  const TurnParty holder = Party(100), waiter = Party(200);
  volatile LONG round = 0, taken = 0, failed = 0;
  Thread thread([&] {
    for (LONG r = 1; r <= kRounds; ++r) {
      SpinUntil(round, r);
      if (!TakeTurn(waiter, Deadline::In(120000))) InterlockedIncrement(&failed);
      LetGoOfTurn(waiter);
      InterlockedExchange(&taken, r);
    }
  });
  for (LONG r = 1; r <= kRounds; ++r) {
    ASSERT_TRUE(TakeTurn(holder, Deadline::In(120000)));
    InterlockedExchange(&round, r);
    for (LONG spin = 0; spin < (r * 7) % 200; ++spin) YieldProcessor();
    LetGoOfTurn(holder);
    SpinUntil(taken, r);
  }
  thread.Join();
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(g_counts.ran_out, 0) << "waits that no let-go ended";
  EXPECT_EQ(record_.holder, 0);
  EXPECT_TRUE(NoWaiters());
}

// Four parties take the turn 2000 times each: never two at once, and each
// party's update of a plain counter inside its turn stays whole.
TEST_F(TurnWord, TwoPartiesNeverHoldTheTurnAtOnce) {
  constexpr int kParties = 4, kTurns = 2000;
  volatile LONG inside = 0, overlaps = 0, failed = 0;
  volatile int counter = 0;
  auto work = [&](LONG id) {
    const TurnParty party = Party(id);
    for (int i = 0; i < kTurns; ++i) {
      if (!TakeTurn(party, Deadline::In(120000))) {
        InterlockedIncrement(&failed);
        continue;
      }
      if (InterlockedIncrement(&inside) != 1) InterlockedIncrement(&overlaps);
      const int seen = counter;
      for (int spin = 0; spin < i % 16; ++spin) YieldProcessor();
      counter = seen + 1;
      InterlockedDecrement(&inside);
      LetGoOfTurn(party);
    }
  };
  {
    std::vector<Thread<std::function<void()>>*> threads;
    for (int p = 0; p < kParties; ++p) threads.push_back(new Thread<std::function<void()>>([&, p] { work(100 + p); }));
    for (auto* t : threads) delete t;
  }
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(overlaps, 0);
  EXPECT_EQ(counter, kParties * kTurns);
  EXPECT_EQ(record_.holder, 0);
  EXPECT_TRUE(NoWaiters());
}

// A holder that has ended is taken over after the first wait that ran out;
// of two waiters that find it, one takes it over and the other gets it
// from that one's let-go.
TEST_F(TurnWord, AHolderThatEndedIsTakenOverOnce) {
  SetTurnWaitMs(10);
  record_.holder = kEndedId;
  volatile LONG inside = 0, overlaps = 0, got = 0;
  auto take = [&](LONG id) {
    if (!TakeTurn(Party(id), Deadline::In(10000))) return;
    if (InterlockedIncrement(&inside) != 1) InterlockedIncrement(&overlaps);
    InterlockedIncrement(&got);
    Sleep(30);
    InterlockedDecrement(&inside);
    LetGoOfTurn(Party(id));
  };
  {
    Thread a([&] { take(100); });
    Thread b([&] { take(200); });
  }
  EXPECT_EQ(got, 2);
  EXPECT_EQ(overlaps, 0);
  EXPECT_EQ(record_.holder, 0);
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
// an ended holder that had the same id: the turn is its own at once.
TEST_F(TurnWord, APartysOwnIdLeftInTheWordCountsAsFree) {
  record_.holder = 100;
  ASSERT_TRUE(TakeTurn(Party(100), Deadline::In(0)));
  LetGoOfTurn(Party(100));
  EXPECT_EQ(record_.holder, 0);
  EXPECT_EQ(g_counts.waits, 0);
}

// A turn handed over to a registered waiter is not the newcomer's: one that
// cannot wait leaves it to the waiter, and passes on the signal it may have
// taken.
TEST_F(TurnWord, ANewcomerLeavesATurnHandedOverToTheWaiters) {
  record_.holder = kTurnHandedOver;
  record_.waiters[2] = 500;
  EXPECT_FALSE(TakeTurn(Party(100), Deadline::In(0)));
  EXPECT_EQ(record_.holder, kTurnHandedOver);
  EXPECT_EQ(g_counts.signals, 1);
  EXPECT_EQ(g_counts.waits, 0);
}
