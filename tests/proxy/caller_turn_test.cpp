// Callers take turns: a caller behind another waits within its own budget;
// a turn that nobody competes with costs no call to the system; a holder
// in another process keeps the turn while it is paused and loses it when
// it ends; a turn whose section cannot be had is done without.
#include "caller_turn.h"

#include <process.h>

#include "gap_seam.h"
#include "host_launcher.h"
#include "proxy_fixture.h"
#include "request_call.h"
#include "stdout_capture.h"
#include "vorn_apx.h"

namespace {

void Answer(RequestBlock& b) {
  b.args[0] += 1;
  b.result = 0;
}

// Another caller of this process, on a thread of its own, in the turn
// until told to let go; or ended from outside inside its turn, holding
// this process's turn word only (stopped between the two words) or both.
enum class Ending { kLetsGo, kEndedBetweenTheWords, kEndedHoldingBoth };

struct OtherCaller;
OtherCaller* g_stopping;

struct OtherCaller {
  explicit OtherCaller(Ending ending = Ending::kLetsGo) : ending(ending) {
    taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    let_go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    unsigned id = 0;
    thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Run, this, CREATE_SUSPENDED, &id));
    thread_id = id;
    if (ending == Ending::kEndedBetweenTheWords) {
      g_stopping = this;
      SetGapHook(StopBetweenTheWords);
    }
    ResumeThread(thread);
    WaitForSingleObject(taken, 5000);
    if (ending != Ending::kLetsGo) {
      TerminateThread(thread, 9);
      WaitForSingleObject(thread, 5000);
      SetGapHook(nullptr);
    }
  }
  ~OtherCaller() {
    LetGo();
    CloseHandle(thread);
    CloseHandle(let_go);
    CloseHandle(taken);
  }
  void LetGo() {
    SetEvent(let_go);
    WaitForSingleObject(thread, 5000);
  }
  static void StopBetweenTheWords(GapPoint point, const volatile void*) {
    if (point != kGapBetweenTurnWords || GetCurrentThreadId() != g_stopping->thread_id) return;
    g_stopping->had_turn = true;
    SetEvent(g_stopping->taken);
    Sleep(INFINITE);
  }
  static unsigned __stdcall Run(void* self) {
    auto* c = static_cast<OtherCaller*>(self);
    CallerTurn turn(Deadline::In(kReplyBudgetMs));
    c->had_turn = turn.taken();
    SetEvent(c->taken);
    if (c->ending != Ending::kLetsGo) Sleep(INFINITE);  // until ended from outside
    WaitForSingleObject(c->let_go, INFINITE);
    return 0;
  }
  Ending ending;
  bool had_turn = false;
  HANDLE taken, let_go, thread;
  DWORD thread_id;
};

// Runs `call` on a thread of its own, to its end.
template <typename Call>
void OnAnotherThread(Call call) {
  struct Run {
    static unsigned __stdcall Body(void* c) {
      (*static_cast<Call*>(c))();
      return 0;
    }
  };
  HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Run::Body, &call, 0, nullptr));
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

// The turn among processes, as the test sees it: the section
// "<section>.Turn", made here if no call has made it yet.
struct SharedTurn {
  SharedTurn() {
    const std::string name = std::string(ProxySectionName()) + kTurnSectionSuffix;
    mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(TurnRecord), name.c_str());
    record = static_cast<TurnRecord*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(TurnRecord)));
  }
  ~SharedTurn() {
    UnmapViewOfFile(record);
    CloseHandle(mapping);
  }
  HANDLE mapping;
  TurnRecord* record;
};

// turn_holder.exe on the test's section: "hold" (returns once it holds the
// turn) or "take <ms> [<tag>]" (see its exit code).
vt::ChildProcess StartTurnHolder(const std::string& how) {
  return vt::StartChild("\"" + vt::ProgramDirectory() + "turn_holder.exe\" " + how);
}

int TakeInAnotherProcess(uint32_t ms, LONG tag = 0) {
  vt::ChildProcess child = StartTurnHolder(std::string("take ") + ProxySectionName() + " " + std::to_string(ms) +
                                           (tag ? " " + std::to_string(tag) : std::string()));
  return vt::WaitChild(child, ms + 30000);
}

OtherCaller* g_other;

}  // namespace

// The wait for the turn is paid from the call's budget: a caller behind a
// stuck one gets -1 in the same bounded time, having sent nothing.
TEST_F(ProxyTest, ACallerBehindAStuckOneTimesOutWithinItsOwnBudget) {
  FakeHost::serve = Answer;
  OtherCaller other;
  StdoutCapture out;
  int32_t position = 7;
  EXPECT_EQ(LD_GetFirstDevicePosition(&position), -1);
  EXPECT_EQ(out.Finish(), "**** Timeout ****\n");
  EXPECT_EQ(position, 7);
  EXPECT_EQ(VornNowUs(), kReplyBudgetMs * 1000);
  EXPECT_EQ(FakeHost::long_sleeps.size(), static_cast<size_t>(kReplyBudgetMs / kTurnWaitMs));
  EXPECT_TRUE(FakeHost::served.empty());
  EXPECT_EQ(FakeHost::Section().opcode, kNoRequest);
  EXPECT_EQ(LogLines(), std::vector<std::string>{"callfn timed out"});
  // The turn among processes stayed the holder's.
  EXPECT_EQ(TakeInAnotherProcess(0), 1);
}

// A call that waited 300 ms for its turn has that much less to wait for
// its answer: the whole call still ends after the one budget.
TEST_F(ProxyTest, TheWaitForTheTurnCountsAgainstTheCallsBudget) {
  OtherCaller other;
  g_other = &other;
  // Let go during the wait after six that ran out: that one ends at the
  // release, and takes no time.
  FakeHost::before_long_sleep = [](int n) {
    if ((n - 1) * kTurnWaitMs == 300) g_other->LetGo();
  };
  StdoutCapture out;
  const int32_t header[6] = {24, 0, 0, 0, 0, 0};
  EXPECT_EQ(LD_DeviceControl(1, 2, header), -1);
  EXPECT_EQ(out.Finish(), "**** Timeout ****\n");
  // After the launcher's wait, 1 ms waits for what was left.
  EXPECT_EQ(FakeHost::polls, kReplyBudgetMs - 300 - kLauncherWaitMs);
  g_other = nullptr;
}

// A holder that ended without letting go (its process's tag is in the
// word, its holder event is gone) is taken over after one wait; the
// request goes out whole, and after the call the turn is free: another
// process has it at once. Between judging the holder ended and taking it
// over, this process is stopped, and a process given the holder's tag is
// let in: it is given another tag, and does not take the turn for its own.
constexpr LONG kEndedTag = 0x7ffffff0;
int g_given_the_tag = -1;

void LetInAProcessGivenTheTag(GapPoint point, const volatile void* word) {
  if (point != kGapHolderEnded || *static_cast<const volatile LONG*>(word) != kEndedTag || g_given_the_tag != -1) {
    return;
  }
  g_given_the_tag = TakeInAnotherProcess(0, kEndedTag);
}

TEST_F(ProxyTest, ATurnWhoseHolderEndedIsTakenOverAndTheRequestSentWhole) {
  FakeHost::serve = Answer;
  SharedTurn turn;
  ASSERT_NE(turn.record, nullptr);
  turn.record->holder = kEndedTag;
  SetGapHook(LetInAProcessGivenTheTag);
  int32_t position = 7;
  EXPECT_EQ(LD_GetNextDevicePosition(&position), 0);
  SetGapHook(nullptr);
  EXPECT_EQ(g_given_the_tag, 1) << "a process given the ended holder's tag took the turn as well";
  EXPECT_EQ(position, 8);
  ASSERT_EQ(FakeHost::served.size(), 1u);
  EXPECT_EQ(FakeHost::served[0].args[0], 7);
  // One wait for the turn, then the launcher's wait of a first call.
  EXPECT_EQ(FakeHost::long_sleeps, (std::vector<uint32_t>{kTurnWaitMs, kLauncherWaitMs}));
  EXPECT_EQ(LogLines(), std::vector<std::string>{"CallerTurn holder 2147483632 of " + std::string(ProxySectionName()) +
                                                 " has ended; its turn is taken over"});
  EXPECT_EQ(turn.record->holder, 0);
  EXPECT_EQ(TakeInAnotherProcess(0), 0);
}

// A thread of this process ended from outside inside its turn, holding
// this process's turn word only, or both words, is taken over from after
// one wait; the request goes out whole, and afterwards the turn is free:
// another thread, and another process, each have it at once.
TEST_F(ProxyTest, ATurnWhoseThreadEndedInsideItIsTakenOverAndTheRequestSentWhole) {
  FakeHost::serve = Answer;
  std::vector<std::string> lines;
  for (Ending ending : {Ending::kEndedBetweenTheWords, Ending::kEndedHoldingBoth}) {
    SCOPED_TRACE(static_cast<int>(ending));
    OtherCaller ended(ending);
    ASSERT_TRUE(ended.had_turn);
    int32_t position = 7;
    EXPECT_EQ(LD_GetNextDevicePosition(&position), 0);
    EXPECT_EQ(position, 8);
    ASSERT_FALSE(FakeHost::served.empty());
    EXPECT_EQ(FakeHost::served.back().args[0], 7);
    lines.push_back("CallerTurn holder " + std::to_string(ended.thread_id) +
                    " of this process's threads has ended; its turn is taken over");
    EXPECT_EQ(LogLines(), lines);
  }
  OtherCaller next;
  EXPECT_TRUE(next.had_turn);
  next.LetGo();
  EXPECT_EQ(TakeInAnotherProcess(0), 0);
}

// A call that nobody competes with takes and gives back the turn without a
// wait or a signal; the turn among processes names this process while it
// is held.
TEST_F(ProxyTest, ATurnNobodyCompetesForCostsNoCallToTheSystem) {
  static LONG signals;
  SetSignalFunction([](HANDLE) { ++signals; });
  SharedTurn turn;
  {
    CallerTurn first(Deadline::In(1000));  // opens what the turn needs
  }
  for (int i = 0; i < 100; ++i) {
    CallerTurn taken(Deadline::In(1000));
    ASSERT_TRUE(taken.taken());
    EXPECT_EQ(turn.record->holder, CommsLockTag(kRequestSlot));
  }
  SetSignalFunction(nullptr);
  EXPECT_EQ(turn.record->holder, 0);
  EXPECT_EQ(signals, 0);
  EXPECT_EQ(FakeHost::polls, 0);
  EXPECT_TRUE(FakeHost::long_sleeps.empty());
}

// A holder in another process that is paused keeps the turn: a call here
// times out having sent nothing, and holds no turn afterwards. Once that
// process has ended, the next call, from another thread, takes the turn
// over, and afterwards a third process has it at once.
TEST_F(ProxyTest, AHolderInAnotherProcessKeepsTheTurnWhilePausedAndLosesItWhenItEnds) {
  FakeHost::serve = Answer;
  CommsStart(kRequestSlot, kMapAllAccess, ProxySectionName(), kSectionSize);
  const std::string held_name = vt::UniqueName("TurnHeld");
  HANDLE held = CreateEventA(nullptr, TRUE, FALSE, held_name.c_str());
  vt::ChildProcess holder = StartTurnHolder(std::string("hold ") + ProxySectionName() + " " + held_name);
  ASSERT_EQ(WaitForSingleObject(held, 20000), WAIT_OBJECT_0);
  CloseHandle(held);
  using SuspendFunction = LONG(WINAPI*)(HANDLE);
  const auto suspend = reinterpret_cast<SuspendFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSuspendProcess")));
  ASSERT_NE(suspend, nullptr);
  EXPECT_EQ(suspend(holder.process), 0);

  StdoutCapture out;
  int32_t position = 7;
  EXPECT_EQ(LD_GetFirstDevicePosition(&position), -1);
  EXPECT_EQ(out.Finish(), "**** Timeout ****\n");
  EXPECT_TRUE(FakeHost::served.empty());

  TerminateProcess(holder.process, 9);
  vt::WaitChild(holder, 10000);
  // From another thread: the caller that timed out holds no turn either.
  OnAnotherThread([&] { EXPECT_EQ(LD_GetNextDevicePosition(&position), 0); });
  EXPECT_EQ(position, 8);
  const std::vector<std::string> lines = LogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("its turn is taken over"), std::string::npos) << lines.back();
  EXPECT_EQ(TakeInAnotherProcess(0), 0);
}

// A turn section whose name another kind of object has: the call goes
// ahead without turns among processes, and says so once.
TEST_F(ProxyTest, ACallerThatCannotHaveTheTurnsSectionGoesAheadAndSaysSoOnce) {
  FakeHost::serve = Answer;
  const std::string name = std::string(ProxySectionName()) + kTurnSectionSuffix;
  HANDLE squatter = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
  int32_t position = 1;
  EXPECT_EQ(LD_GetNextDevicePosition(&position), 0);
  EXPECT_EQ(LD_GetNextDevicePosition(&position), 0);
  EXPECT_EQ(position, 3);
  EXPECT_EQ(LogLines(), std::vector<std::string>{"callfn Could not open section " + name +
                                                 " error:6; callers in other processes do not take turns"});
  CloseHandle(squatter);
}

// Everything a call can meet, one after the other, on one deadline: the
// turn held by another caller for 30 s, then a stuck host to end and
// replace (the launcher's turn, the end, the start and the wait after
// it), then a device request that the new host never answers. The call
// ends at its deadline and no later than one wait past it; the device
// request is taken back, the log names the step, and the new host is
// replaced by the next call.
TEST_F(ProxyTest, EveryStepOfACallDrawsOnItsOneDeadline) {
  FakeHost::serve = Answer;
  int32_t position = 0;
  ASSERT_EQ(LD_GetNextDevicePosition(&position), 0);  // the host has a device
  FakeHost::serve = nullptr;
  StdoutCapture out;
  ASSERT_EQ(LD_GetFirstDevicePosition(&position), -1);  // and is stuck
  OtherCaller other;
  g_other = &other;
  FakeHost::before_long_sleep = [](int n) {
    if (g_other && n * kTurnWaitMs == 30000) {
      g_other->LetGo();
      g_other = nullptr;
    }
  };
  const int64_t start_us = VornNowUs();
  position = 5;
  EXPECT_EQ(LD_GetFirstDevicePosition(&position), -1);
  const int64_t took_us = VornNowUs() - start_us;
  EXPECT_EQ(out.Finish(), "**** Timeout ****\n**** Timeout ****\n");
  EXPECT_EQ(position, 5);
  EXPECT_GE(took_us, kReplyBudgetMs * 1000);
  EXPECT_LE(took_us, kReplyBudgetMs * 1000 + 1000);
  ASSERT_EQ(system_.started.size(), 1u);
  EXPECT_EQ(system_.opened_for_terminate, std::vector<DWORD>{4242});
  EXPECT_EQ(FakeHost::Section().opcode, kNoRequest);
  const std::vector<std::string> lines = LogLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "callfn the new host program did not answer the device request in time");
  EXPECT_EQ(lines.back(), "callfn timed out");
  // The new host did not answer: the next call ends it too.
  FakeHost::serve = Answer;
  EXPECT_EQ(LD_GetFirstDevicePosition(&position), 0);
  EXPECT_EQ(system_.opened_for_terminate.size(), 2u);
  EXPECT_EQ(system_.started.size(), 2u);
}
