// The proxy's watch over the host program: a host that has ended (its idle
// exit, a crash, being ended from outside) is noticed before the next
// request or while a call waits, and a new one gets the request; a host
// that runs but does not answer still meets the time-out.
#include <string>
#include <thread>

#include "caller_turn.h"
#include "host_launcher.h"
#include "host_program_names.h"
#include "proxy_fixture.h"
#include "request_call.h"
#include "stdout_capture.h"
#include "unique_handle.h"
#include "vorn_apx.h"

namespace {

void Answer(RequestBlock& b) {
  b.args[0] += 1;
  b.result = 0;
}

int32_t OneCall() {
  int32_t position = 0;
  return LD_GetFirstDevicePosition(&position);
}

FakeSystem& System() { return *FakeSystem::current; }

// The host found at start-up ends; it is no longer listed.
void EndTheFirstHost() {
  System().processes[0].ended = true;
  System().processes[0].path = "C:\\gone";
}

// The event by which the host program of process `id` says that it is
// ready, set, as that host sets it (host_program_names.h).
HANDLE ReadyHost(DWORD id) {
  char name[MAX_PATH];
  HostReadyEventName(ProxySectionName(), id, name, sizeof name);
  HANDLE ready = CreateEventA(nullptr, TRUE, TRUE, name);
  EXPECT_NE(ready, nullptr);
  return ready;
}

// The one running host's mutex of the test's section, as another process's
// host holds it: by a thread of its own, until the scope ends. With
// `abandoned`, that thread has ended holding it, as a host that ended does.
class HostMutexHeldElsewhere {
 public:
  explicit HostMutexHeldElsewhere(bool abandoned) {
    const std::string name = std::string(ProxySectionName()) + kHostMutexSuffix;
    ScopedHandle taken(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    release_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    holder_ = std::thread([this, name, abandoned, &taken] {
      mutex_.reset(CreateMutexA(nullptr, TRUE, name.c_str()));
      SetEvent(taken.get());
      if (abandoned) return;
      WaitForSingleObject(release_.get(), INFINITE);
      ReleaseMutex(mutex_.get());
    });
    WaitForSingleObject(taken.get(), INFINITE);
    if (abandoned) holder_.join();
    EXPECT_TRUE(mutex_);
  }
  ~HostMutexHeldElsewhere() {
    SetEvent(release_.get());
    if (holder_.joinable()) holder_.join();
  }

 private:
  ScopedHandle release_, mutex_;
  std::thread holder_;
};

}  // namespace

// A host that says it is ready is used at once: neither the first call
// nor the one after a crash waits the launcher's second. (A host that
// never says so gets the whole second: the cases above and in
// host_launcher_test.cpp.)
TEST_F(ProxyTest, AHostThatSaysItIsReadyIsUsedWithoutTheLaunchersSecond) {
  ScopedHandle found(ReadyHost(4242)), started(ReadyHost(9001));
  FakeHost::serve = Answer;
  EXPECT_EQ(OneCall(), 0);
  EndTheFirstHost();
  system_.now += kHostCheckMs;
  EXPECT_EQ(OneCall(), 0);
  EXPECT_EQ(system_.started.size(), 1u);
  EXPECT_TRUE(FakeHost::long_sleeps.empty()) << testing::PrintToString(FakeHost::long_sleeps);
  EXPECT_LT(VornNowUs(), 100 * 1000);
}

// A host that ends before it says it is ready is a start that failed: the
// call fails at once, and the next start is tried no sooner than a start
// that failed would be. A host mutex that its last holder left behind when
// it ended does not count as another host serving.
TEST_F(ProxyTest, AHostThatEndsBeforeItIsReadyIsAStartThatFailed) {
  HostMutexHeldElsewhere gone(true);
  system_.processes = {};
  system_.started_end_at_once = true;
  FakeHost::serve = Answer;
  EXPECT_EQ(OneCall(), -1);
  EXPECT_EQ(system_.started.size(), 1u);
  EXPECT_TRUE(FakeHost::long_sleeps.empty()) << testing::PrintToString(FakeHost::long_sleeps);
  EXPECT_LT(VornNowUs(), 100 * 1000);
  const std::vector<std::string> lines = LogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "Starting the host program ended before it was ready");
  EXPECT_EQ(OneCall(), -1);
  EXPECT_EQ(system_.started.size(), 1u);  // within the retry's second
  system_.now += kLaunchRetryMs;
  system_.started_end_at_once = false;
  EXPECT_EQ(OneCall(), 0);
  EXPECT_EQ(system_.started.size(), 2u);
}

// A host found running that ends before it says it is ready (its idle exit
// is under way: it no longer says so) is not a start that failed: a new
// one is started within the same call.
TEST_F(ProxyTest, AHostFoundRunningThatEndsBeforeItIsReadyIsReplacedInTheSameCall) {
  FakeHost::serve = Answer;
  FakeHost::before_long_sleep = [](int n) {
    if (n == 1) EndTheFirstHost();
  };
  EXPECT_EQ(OneCall(), 0);
  EXPECT_EQ(system_.started.size(), 1u);
  EXPECT_EQ(FakeHost::served.size(), 1u);
  EXPECT_EQ(g_host.state, kHostWatched);
  EXPECT_EQ(g_host.id, 9001u);
  EXPECT_FALSE(g_host.start_failed);
  EXPECT_EQ(system_.open_handles, 1);  // the new host's
}

// A started host that ended before it was ready because another host holds
// the section (one that the process list did not show) leaves the calls to
// that one: not a start that failed, and nothing started again.
TEST_F(ProxyTest, AStartedHostThatFoundAnotherServingLeavesTheCallsToThatOne) {
  system_.processes = {};
  system_.started_end_at_once = true;
  FakeHost::serve = Answer;
  {
    HostMutexHeldElsewhere serving(false);
    EXPECT_EQ(OneCall(), 0);
    EXPECT_EQ(system_.started.size(), 1u);
    EXPECT_EQ(g_host.state, kHostUnwatched);
    EXPECT_FALSE(g_host.start_failed);
    system_.now += kLaunchRetryMs;
    EXPECT_EQ(OneCall(), 0);
    EXPECT_EQ(system_.started.size(), 1u);
    EXPECT_EQ(FakeHost::served.size(), 2u);
  }
}

TEST_F(ProxyTest, AHostThatEndedBetweenCallsIsStartedAgainBeforeTheNextRequest) {
  FakeHost::serve = Answer;
  EXPECT_EQ(OneCall(), 0);
  EndTheFirstHost();
  system_.now += kHostCheckMs;
  EXPECT_EQ(OneCall(), 0);
  EXPECT_EQ(system_.started.size(), 1u);
  EXPECT_EQ(FakeHost::served.size(), 2u);
  EXPECT_EQ(FakeHost::long_sleeps, (std::vector<uint32_t>{1000, 1000}));
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{"Starting the host program has ended", "Starting Vorn64BitInterface.exe"}));
  EXPECT_EQ(system_.open_handles, 1);  // the old host's handle closed, the new one's kept
  EXPECT_EQ(g_host.state, kHostWatched);
}

// A host that has gone but is still listed counts as gone.
TEST_F(ProxyTest, AHostThatIsStillListedAfterItsEndIsReplaced) {
  FakeHost::serve = Answer;
  EXPECT_EQ(OneCall(), 0);
  system_.processes[0].ended = true;
  system_.now += kHostCheckMs;
  EXPECT_EQ(OneCall(), 0);
  EXPECT_EQ(system_.started.size(), 1u);
}

// Calls that follow each other closely look at the host's process at most
// once in kHostCheckMs, not once a call.
TEST_F(ProxyTest, TheLookBeforeARequestComesAtMostEveryFewTensOfMilliseconds) {
  FakeHost::serve = Answer;
  OneCall();
  const int before = system_.waits;
  for (int i = 0; i < 320; ++i) OneCall();  // each moves the clock on by one 1 ms poll
  EXPECT_GE(system_.waits - before, 9);
  EXPECT_LE(system_.waits - before, 11);
}

TEST_F(ProxyTest, AHostThatEndsWhileACallWaitsIsReplacedAndTheRequestSentAgain) {
  static int ended_at_poll, started_at_poll;
  ended_at_poll = started_at_poll = -1;
  FakeHost::before_poll = [](int poll) {
    if (poll == 5) {
      EndTheFirstHost();
      ended_at_poll = poll;
    }
    if (!System().started.empty() && started_at_poll < 0) {
      started_at_poll = poll;
      FakeHost::serve = Answer;
    }
  };
  int32_t position = 41;
  EXPECT_EQ(LD_GetNextDevicePosition(&position), 0);
  EXPECT_EQ(position, 42);
  EXPECT_EQ(system_.started.size(), 1u);
  // Noticed within one look's worth of reads.
  EXPECT_GT(started_at_poll, ended_at_poll);
  EXPECT_LE(started_at_poll - ended_at_poll, kHostCheckReads + 1);
  ASSERT_EQ(FakeHost::served.size(), 1u);
  EXPECT_EQ(FakeHost::served[0].args[0], 41);
  EXPECT_EQ(FakeHost::long_sleeps, (std::vector<uint32_t>{1000, 1000}));
}

// A host that crashes as the request goes out is looked at once the
// call's first wait has run out, not a few tens of reads later.
TEST_F(ProxyTest, AHostThatCrashedAsTheRequestWentOutIsReplacedAfterTheFirstWait) {
  static int started_at_poll;
  started_at_poll = -1;
  FakeHost::before_poll = [](int poll) {
    if (poll == 0) EndTheFirstHost();
    if (!System().started.empty() && started_at_poll < 0) {
      started_at_poll = poll;
      FakeHost::serve = Answer;
    }
  };
  EXPECT_EQ(OneCall(), 0);
  EXPECT_EQ(system_.started.size(), 1u);
  EXPECT_EQ(started_at_poll, 1);
}

TEST_F(ProxyTest, AHostThatRunsButNeverAnswersStillTimesOutWithoutALookAtEveryRead) {
  StdoutCapture out;
  const int before = system_.waits;
  EXPECT_EQ(OneCall(), -1);
  EXPECT_EQ(out.Finish(), "**** Timeout ****\n");
  EXPECT_EQ(FakeHost::polls, kReplyBudgetMs - kLauncherWaitMs);
  EXPECT_TRUE(system_.started.empty());
  // One look when the launcher finds it, one after the launcher's wait for
  // it to be ready (it never says so), one after the call's first wait ran
  // out, then one in kHostCheckReads reads (a read follows every wait but
  // the last).
  EXPECT_EQ(system_.waits - before, 3 + (kReplyBudgetMs - kLauncherWaitMs - 1) / kHostCheckReads);
  EXPECT_EQ(g_host.state, kHostWatched);
}

// A host that ends again right after its restart fails the call instead of
// holding the caller; the next call tries again.
TEST_F(ProxyTest, AHostThatEndsAgainAfterItsRestartFailsTheCall) {
  FakeHost::before_poll = [](int poll) {
    if (poll == 3) EndTheFirstHost();
    for (FakeProcess& p : System().processes)
      if (p.id > 9000) p.ended = true;  // every started host ends at once
  };
  StdoutCapture out;
  int32_t position = 5;
  EXPECT_EQ(LD_GetFirstDevicePosition(&position), -1);
  EXPECT_EQ(position, 5);
  EXPECT_EQ(out.Finish(), "");
  EXPECT_EQ(system_.started.size(), 1u);
  EXPECT_LE(FakeHost::polls, 3 * kHostCheckReads);
  const std::vector<std::string> lines = LogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "callfn the host program ended before it answered");
  FakeHost::before_poll = nullptr;
  FakeHost::serve = Answer;
  EXPECT_EQ(OneCall(), 0);
  EXPECT_EQ(system_.started.size(), 2u);
}

// Taken as running but not watched (the process list could not be read):
// only a time-out tells, and then the next call looks again.
TEST_F(ProxyTest, AfterATimeOutAnUnwatchedHostIsLookedForAgain) {
  system_.enum_fails = true;
  StdoutCapture out;
  EXPECT_EQ(OneCall(), -1);
  EXPECT_EQ(g_host.state, kHostUnwatched);
  EXPECT_EQ(system_.listings, 1);
  system_.enum_fails = false;
  FakeHost::serve = Answer;
  EXPECT_EQ(OneCall(), 0);
  EXPECT_EQ(system_.listings, 2);
  EXPECT_EQ(g_host.state, kHostWatched);
}

// A new host knows no device until an LD_GetNextDevicePosition has found
// one; the enumeration call that gave the old host its device goes to the
// new one first, then the request.
TEST_F(ProxyTest, ANewHostIsGivenTheDeviceBeforeTheRequest) {
  FakeHost::serve = Answer;
  int32_t position = 0;
  ASSERT_EQ(LD_GetNextDevicePosition(&position), 0);  // found the device at 1
  position = 1;
  FakeHost::serve = [](RequestBlock& b) {
    b.args[0] = -1;  // the end of the list: the host keeps the device it has
    b.result = 0;
  };
  ASSERT_EQ(LD_GetNextDevicePosition(&position), 0);
  FakeHost::serve = Answer;
  EndTheFirstHost();
  system_.now += kHostCheckMs;
  uint8_t record[28] = {24};
  EXPECT_EQ(LD_DeviceControl(1, 3, record), 0);
  ASSERT_EQ(FakeHost::served.size(), 4u);
  EXPECT_EQ(FakeHost::served[2].pending_opcode, kRequestGetNextDevicePosition);
  EXPECT_EQ(FakeHost::served[2].args[0], 0);  // the call that found the device, as it was sent
  EXPECT_NE(FakeHost::served[2].request_id, FakeHost::served[0].request_id);
  EXPECT_EQ(FakeHost::served[3].pending_opcode, kRequestDeviceControl);
}

TEST_F(ProxyTest, ANewHostIsGivenTheDeviceAlsoWhenTheOldOneEndedDuringTheCall) {
  FakeHost::serve = Answer;
  int32_t position = 0;
  ASSERT_EQ(LD_GetNextDevicePosition(&position), 0);
  FakeHost::serve = nullptr;
  FakeHost::before_poll = [](int) {
    if (System().started.empty()) {
      EndTheFirstHost();
    } else {
      FakeHost::serve = Answer;
    }
  };
  uint8_t record[28] = {24};
  EXPECT_EQ(LD_DeviceControl(1, 3, record), 0);
  ASSERT_EQ(FakeHost::served.size(), 3u);
  EXPECT_EQ(FakeHost::served[1].pending_opcode, kRequestGetNextDevicePosition);
  EXPECT_EQ(FakeHost::served[2].pending_opcode, kRequestDeviceControl);
}

// A host that runs but does not answer costs one time-out: the call's
// request is withdrawn, and the next call ends that host, as MP_KillProc
// would, starts a new one and is served by it.
TEST_F(ProxyTest, AStuckHostIsReplacedByTheCallAfterItsTimeOut) {
  StdoutCapture out;
  EXPECT_EQ(OneCall(), -1);
  EXPECT_EQ(out.Finish(), "**** Timeout ****\n");
  EXPECT_EQ(FakeHost::Section().opcode, kNoRequest) << "no host may run it after its caller got -1";
  EXPECT_TRUE(system_.opened_for_terminate.empty());
  FakeHost::serve = Answer;
  EXPECT_EQ(OneCall(), 0);
  EXPECT_EQ(system_.opened_for_terminate, std::vector<DWORD>{4242});
  EXPECT_EQ(system_.exit_codes, std::vector<UINT>{0});
  EXPECT_EQ(system_.started.size(), 1u);
  EXPECT_EQ(FakeHost::served.size(), 1u);
  EXPECT_EQ(FakeHost::long_sleeps, (std::vector<uint32_t>{1000, 1000}));
  const std::vector<std::string> lines = LogLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[1], "Starting the host program (process 4242) did not answer; it is ended");
  EXPECT_EQ(lines[2], "Starting Vorn64BitInterface.exe");
  // The new host serves on; nothing more is ended or started.
  EXPECT_EQ(OneCall(), 0);
  EXPECT_EQ(system_.started.size(), 1u);
  EXPECT_EQ(system_.opened_for_terminate.size(), 1u);
  EXPECT_EQ(system_.open_handles, 1);
}

// Another caller replaced the stuck host first: its fresh host is used,
// never ended.
TEST_F(ProxyTest, AStuckHostThatAnotherCallerReplacedAlreadyIsLeftAlone) {
  StdoutCapture out;
  EXPECT_EQ(OneCall(), -1);
  EndTheFirstHost();
  system_.processes.push_back({5555, "C:\\vorn\\Vorn64BitInterface.exe"});
  FakeHost::serve = Answer;
  EXPECT_EQ(OneCall(), 0);
  EXPECT_TRUE(system_.opened_for_terminate.empty());
  EXPECT_TRUE(system_.started.empty());
  EXPECT_EQ(FakeHost::served.size(), 1u);
}

// The host ends late in the call's budget: the relaunch gets no budget of
// its own (the launcher's wait is cut to what is left), the new host never
// answers the device request that it is given, and from the deadline on
// the section's lock is held by another process. The device request, the
// last thing the call sent, is withdrawn once, and that withdrawal waits
// its whole while for the lock: the call ends at its one deadline plus
// that one wait, within the bound of one call.
int64_t g_host_ends_at_us;
constexpr int kPausesPastTheDeadline = 20 * static_cast<int>(kWithdrawWaitMs);

TEST_F(ProxyTest, AHostThatEndsLateInTheBudgetIsReplacedWithinTheBoundOfOneCall) {
  FakeHost::serve = Answer;
  int32_t position = 0;
  ASSERT_EQ(LD_GetNextDevicePosition(&position), 0);  // the host has a device
  FakeHost::serve = nullptr;
  const int64_t start_us = VornNowUs();
  g_host_ends_at_us = start_us + (kReplyBudgetMs - 500) * 1000;
  FakeHost::before_poll = [](int) {
    if (VornNowUs() >= g_host_ends_at_us && System().started.empty()) EndTheFirstHost();
  };
  CommsStart(1, kMapAllAccess, ProxySectionName(), kSectionSize);
  // The device request's first wait for its answer: none is left.
  FakeHost::before_long_sleep = [](int) {
    if (!System().started.empty() && FakeHost::long_sleeps.back() == 0) {
      ASSERT_TRUE(CommsTakeLock(1));
      FakeHost::before_long_sleep = nullptr;
    }
  };
  // The withdrawal's pauses for the lock: one whose pauses the call's clock
  // did not count would pause on past its deadline; the lock is freed
  // after many of them, and the call would end early.
  static int pauses;
  pauses = 0;
  SetPauseHook([](uint32_t) {
    if (++pauses == kPausesPastTheDeadline) CommsReleaseLock(1);
  });
  StdoutCapture out;
  position = 1;
  EXPECT_EQ(LD_GetFirstDevicePosition(&position), -1);
  const int64_t took_us = VornNowUs() - start_us;
  SetPauseHook(nullptr);
  EXPECT_LT(pauses, kPausesPastTheDeadline) << "paused on past the deadline";
  if (pauses < kPausesPastTheDeadline) CommsReleaseLock(1);
  EXPECT_EQ(out.Finish(), "**** Timeout ****\n");
  EXPECT_EQ(position, 1);
  EXPECT_EQ(system_.started.size(), 1u);
  EXPECT_EQ(FakeHost::served.size(), 1u);
  EXPECT_EQ(FakeHost::Section().pending_opcode, kRequestGetNextDevicePosition) << "the device request went out";
  EXPECT_GE(took_us, (kReplyBudgetMs + kWithdrawWaitMs) * 1000);
  EXPECT_LE(took_us, kProxyCallBoundMs * 1000);
  const std::vector<std::string> lines = LogLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "callfn the new host program did not answer the device request in time");
  EXPECT_EQ(lines.back(), "callfn timed out");
}
