// The proxy wakes the host after each request and waits on the host's reply
// signal instead of sleeping, or watches for the answer of a host that
// answers quickly; without the events it polls as before.
#include <process.h>

#include <cstring>

#include "host_launcher.h"
#include "proxy_fixture.h"
#include "reply_watch.h"
#include "request_call.h"
#include "stdout_capture.h"
#include "vorn_apx.h"

namespace {

void Answer(RequestBlock& b) { b.result = 0; }

struct Waits {
  static std::vector<HANDLE> events;  // what each wait waited on
  static int ended_by_signal;
  // The fake host's poll stands in for the wait's time. When it answered,
  // the reply event it signalled must be set; otherwise the wait ran out
  // (and costs no look at the event, a round trip to the system).
  static bool Record(HANDLE event, uint32_t ms) {
    events.push_back(event);
    const size_t answered = FakeHost::served.size();
    FakeHost::Sleep(ms);
    const bool signalled =
        event && FakeHost::served.size() > answered && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
    ended_by_signal += signalled;
    return signalled;
  }
};
std::vector<HANDLE> Waits::events;
int Waits::ended_by_signal;

int32_t OneCall() {
  int32_t position = 0;
  return LD_GetFirstDevicePosition(&position);
}

// A fresh slot 0 on a section of its own, as if the process started anew.
std::string RestartChannel() {
  g_channel[0] = ChannelSlot{};
  const std::string name = vt::UniqueName("VornWakeTest");
  return name;
}

}  // namespace

TEST_F(ProxyTest, EachRequestIsSignalledAndTheHostsSignalEndsTheFirstWait) {
  ASSERT_NE(g_channel[0].events[kRequestEvent], nullptr);
  ASSERT_NE(g_channel[0].events[kReplyEvent], nullptr);
  SetWaitFunction(Waits::Record);
  FakeHost::serve = Answer;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(OneCall(), 0);
  SetWaitFunction(FakeHost::Wait);
  EXPECT_EQ(FakeHost::served.size(), 3u);
  EXPECT_EQ(FakeHost::signalled_requests, 3);
  // One wait per call, on the reply event, ended by the host's signal.
  ASSERT_EQ(Waits::events.size(), 3u);
  for (HANDLE e : Waits::events) EXPECT_EQ(e, g_channel[0].events[kReplyEvent]);
  EXPECT_EQ(Waits::ended_by_signal, 3);
}

TEST_F(ProxyTest, WaitsThatRunOutStillCountOneReadEach) {
  SetWaitFunction(Waits::Record);
  StdoutCapture out;
  EXPECT_EQ(OneCall(), -1);
  SetWaitFunction(FakeHost::Wait);
  EXPECT_EQ(out.Finish(), "**** Timeout ****\n");
  // The request was signalled once; no answer, so no wait ended early.
  EXPECT_EQ(FakeHost::signalled_requests, 1);
  EXPECT_EQ(Waits::ended_by_signal, 0);
  EXPECT_EQ(Waits::events.size(), static_cast<size_t>(kReplyBudgetMs - kLauncherWaitMs));
}

TEST_F(ProxyTest, WithoutEventsTheProxyPollsAsBefore) {
  const std::string name = RestartChannel();
  CommsDisableSignals();
  CommsStart(0, kMapAllAccess, name.c_str(), kSectionSize);
  ASSERT_NE(g_channel[0].view, nullptr);
  EXPECT_EQ(g_channel[0].events[kRequestEvent], nullptr);
  EXPECT_EQ(g_channel[0].events[kReplyEvent], nullptr);
  SetWaitFunction(Waits::Record);
  FakeHost::serve = Answer;
  FakeHost::before_poll = [](int poll) {
    if (poll < 2)
      FakeHost::serve = nullptr;  // answers at the third poll
    else
      FakeHost::serve = Answer;
  };
  EXPECT_EQ(OneCall(), 0);
  SetWaitFunction(FakeHost::Wait);
  EXPECT_EQ(FakeHost::signalled_requests, 0);
  EXPECT_EQ(Waits::ended_by_signal, 0);
  EXPECT_EQ(Waits::events, std::vector<HANDLE>(3, nullptr));
}

// The name of the reply event is taken by an object of another type: the
// request is still signalled, and the reply is polled for.
TEST_F(ProxyTest, ATakenEventNameLeavesOnlyThatSidePolled) {
  const std::string name = RestartChannel();
  HANDLE squatter = CreateMutexA(nullptr, FALSE, (name + ".Reply").c_str());
  ASSERT_NE(squatter, nullptr);
  CommsStart(0, kMapAllAccess, name.c_str(), kSectionSize);
  ASSERT_NE(g_channel[0].view, nullptr);
  EXPECT_NE(g_channel[0].events[kRequestEvent], nullptr);
  EXPECT_EQ(g_channel[0].events[kReplyEvent], nullptr);
  SetWaitFunction(Waits::Record);
  FakeHost::serve = Answer;
  EXPECT_EQ(OneCall(), 0);
  EXPECT_EQ(OneCall(), 0);
  SetWaitFunction(FakeHost::Wait);
  EXPECT_EQ(FakeHost::signalled_requests, 2);
  EXPECT_EQ(Waits::events, std::vector<HANDLE>(2, nullptr));
  const std::vector<std::string> lines = LogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "CommsStart Could not open event " + name + ".Reply error:6; that side is polled only");
  CloseHandle(squatter);
}

// A call's time-out counts the time its waits took, not the waits: with
// every 1 ms wait stretched to a 15.6 ms timer tick, the call still ends
// after 100 s of waiting, in a sixteenth of the waits.
TEST_F(ProxyTest, TheTimeOutCountsTimeNotWaits) {
  SetWaitFunction([](HANDLE event, uint32_t ms) {
    const bool signalled = FakeHost::Wait(event, ms);
    if (!signalled) AdvanceVirtualClock(15625 - 1000LL * ms);
    return signalled;
  });
  StdoutCapture out;
  int32_t position = 3;
  EXPECT_EQ(LD_GetFirstDevicePosition(&position), -1);
  EXPECT_EQ(out.Finish(), "**** Timeout ****\n");
  // The launcher's wait after finding the host is part of the one budget,
  // and no wait starts once it is spent: the call ends within the budget
  // and one wait's overshoot.
  EXPECT_GE(VornNowUs(), kReplyBudgetMs * 1000);
  EXPECT_LT(VornNowUs(), kReplyBudgetMs * 1000 + 15625);
  EXPECT_EQ(FakeHost::polls, static_cast<int>((kReplyBudgetMs - kLauncherWaitMs) * 1000 / 15625));
}

namespace {

// A host in a thread of its own that answers each request as soon as it
// sees it, as a host does that a signal has woken, and signals the answer.
struct QuickHost {
  static volatile LONG stop;
  static unsigned __stdcall Run(void*) {
    while (!stop) {
      const auto* view = static_cast<const volatile RequestBlock*>(g_channel[0].view);
      RequestBlock block;
      if (view->opcode == 0 || view->done != 0 || !CommsRecv(0, &block, kBlockSize, Deadline::In(0)) ||
          block.opcode == 0 || block.done != 0) {
        ::Sleep(0);
        continue;
      }
      block.result = 0;
      block.done = 1;
      if (CommsSendReply(0, block)) CommsSignal(0, kReplyEvent);
    }
    return 0;
  }
};
volatile LONG QuickHost::stop;

int g_reply_waits, g_signal_and_waits;

}  // namespace

// A host that answers within the watch costs its caller no wait at all; one
// that answered more slowly is waited for at once, in the one call that
// signals and waits, until an answer comes within a watch's time again.
TEST_F(ProxyTest, AQuickHostIsWatchedForAndASlowOneWaitedForAtOnce) {
  SetWaitFunction([](HANDLE event, uint32_t ms) {
    g_reply_waits += event == g_channel[0].events[kReplyEvent];
    return FakeHost::Wait(event, ms);
  });
  SetSignalAndWaitFunction([](HANDLE to_signal, HANDLE event, uint32_t ms) {
    ++g_signal_and_waits;
    SetEvent(to_signal);
    return VornWait(event, ms);
  });
  SetReplyWatchUs(2000000);  // long enough for the thread on a busy machine
  HANDLE host = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, QuickHost::Run, nullptr, 0, nullptr));
  ASSERT_NE(host, nullptr);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(OneCall(), 0);
  InterlockedExchange(&QuickHost::stop, 1);
  WaitForSingleObject(host, INFINITE);
  CloseHandle(host);
  EXPECT_EQ(g_reply_waits, 0);
  EXPECT_EQ(g_signal_and_waits, 0);

  // The fake host answers only inside the caller's waits, each answer a
  // millisecond of real time late: the first watch misses it, and the
  // calls after it signal and wait in one.
  SetReplyWatchUs(0);
  FakeHost::serve = [](RequestBlock& b) {
    ::Sleep(1);
    Answer(b);
  };
  for (int i = 0; i < 3; ++i) EXPECT_EQ(OneCall(), 0);
  EXPECT_EQ(g_signal_and_waits, 2);
  EXPECT_EQ(g_reply_waits, 3);

  // Quick again (within a watch of 50 ms, whatever the machine's load):
  // the call after the quick answer watches (and, the fake host answering
  // only in waits, waits after its watch).
  SetReplyWatchUs(50000);
  FakeHost::serve = Answer;
  EXPECT_EQ(OneCall(), 0);
  EXPECT_EQ(OneCall(), 0);
  EXPECT_EQ(g_signal_and_waits, 3);
  EXPECT_EQ(g_reply_waits, 5);
  SetSignalAndWaitFunction(nullptr);
}
