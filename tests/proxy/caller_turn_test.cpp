// Callers take turns through the callers' mutex beside the section: a
// caller behind another waits within its own budget, and a turn whose
// holder died is taken.
#include "caller_turn.h"

#include <process.h>

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

// Another caller, on a thread of its own, in the turn until told to let
// go, or until its thread ends without letting go (`abandon`).
struct OtherCaller {
  explicit OtherCaller(bool abandon) : abandon(abandon) {
    char name[MAX_PATH];
    CommsObjectName(kRequestSlot, kCallerMutexSuffix, name, sizeof name);
    mutex = CreateMutexA(nullptr, FALSE, name);
    taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    let_go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Run, this, 0, nullptr));
    WaitForSingleObject(taken, 5000);
  }
  ~OtherCaller() {
    LetGo();
    CloseHandle(thread);
    CloseHandle(let_go);
    CloseHandle(taken);
    CloseHandle(mutex);
  }
  void LetGo() {
    SetEvent(let_go);
    WaitForSingleObject(thread, 5000);
  }
  static unsigned __stdcall Run(void* self) {
    auto* c = static_cast<OtherCaller*>(self);
    WaitForSingleObject(c->mutex, INFINITE);
    SetEvent(c->taken);
    if (c->abandon) return 0;
    WaitForSingleObject(c->let_go, INFINITE);
    ReleaseMutex(c->mutex);
    return 0;
  }
  bool abandon;
  HANDLE mutex, taken, let_go, thread;
};

OtherCaller* g_other;

}  // namespace

// The wait for the turn is paid from the call's budget: a caller behind a
// stuck one gets -1 in the same bounded time, having sent nothing.
TEST_F(ProxyTest, ACallerBehindAStuckOneTimesOutWithinItsOwnBudget) {
  FakeHost::serve = Answer;
  OtherCaller other(false);
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
}

// A call that waited 300 ms for its turn has that much less to wait for
// its answer: the whole call still ends after the one budget.
TEST_F(ProxyTest, TheWaitForTheTurnCountsAgainstTheCallsBudget) {
  OtherCaller other(false);
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

TEST_F(ProxyTest, ATurnWhoseHolderDiedIsTakenAndTheRequestSentWhole) {
  FakeHost::serve = Answer;
  OtherCaller other(true);
  int32_t position = 7;
  EXPECT_EQ(LD_GetNextDevicePosition(&position), 0);
  EXPECT_EQ(position, 8);
  ASSERT_EQ(FakeHost::served.size(), 1u);
  EXPECT_EQ(FakeHost::served[0].args[0], 7);
  // The turn is free again after the call.
  EXPECT_EQ(WaitForSingleObject(other.mutex, 0), WAIT_OBJECT_0);
  ReleaseMutex(other.mutex);
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
  OtherCaller other(false);
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
