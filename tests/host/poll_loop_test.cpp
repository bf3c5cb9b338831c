// The poll loop, run in-process with the wait seam counting the idle polls.
// Needs a fresh process per case (as vorn_gtest runs them): the channel,
// the host's block and the vendor binding are module state.
#include "poll_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "channel.h"
#include "host_harness.h"
#include "host_program_names.h"
#include "log_lines.h"
#include "named_mutex.h"
#include "process_call.h"
#include "test_support.h"
#include "unique_handle.h"
#include "wait_seam.h"

namespace {

// The waits of the loop as the seam sees them (each passes through the
// sleep, as the default wait does with a replaced sleep), and the virtual
// time at which each began.
uint64_t g_sleeps;
std::vector<uint32_t> g_wait_ms;
std::vector<int64_t> g_wait_at_us;
std::function<void(int64_t)> g_on_sleep;  // with the virtual time, before the wait
// How long a wait of r ms lasts: r rounded up to the timer's granularity.
double g_granularity_ms = 1;

void CountingSleep(uint32_t ms) {
  ++g_sleeps;
  g_wait_ms.push_back(ms);
  g_wait_at_us.push_back(VornNowUs());
  if (g_on_sleep) g_on_sleep(VornNowUs());
  const double lasts = std::ceil(ms / g_granularity_ms) * g_granularity_ms;
  AdvanceVirtualClock(static_cast<int64_t>(lasts * 1000) - 1000LL * ms);  // the seam adds the ms asked for
}

RequestBlock Section() {
  RequestBlock b;
  CommsRecv(kRequestSlot, &b, kBlockSize);
  return b;
}

// A request in the section, announced by the request signal or not; once
// per number (a wait that the signal ended takes no time, so the next one
// begins at the same virtual time).
void SendRequest(int32_t request_id, bool signal) {
  static std::vector<int32_t> sent;
  if (std::find(sent.begin(), sent.end(), request_id) != sent.end()) return;
  sent.push_back(request_id);
  RequestBlock request = {};
  request.opcode = request.pending_opcode = kRequestGetFirstDevicePosition;
  request.request_id = request_id;
  CommsSend(kRequestSlot, &request, kBlockSize);
  if (signal) CommsSignal(kRequestSlot, kRequestEvent);
}

// Whether the host in this process says that it is ready, as a launcher
// sees it.
bool SaysReady() {
  char name[MAX_PATH];
  if (!HostReadyEventName(kSectionName, GetCurrentProcessId(), name, sizeof name)) return false;
  ScopedHandle ready(OpenEventA(SYNCHRONIZE, FALSE, name));
  return ready && WaitForSingleObject(ready.get(), 0) == WAIT_OBJECT_0;
}

// Whether a host started now could take the one host's mutex: asked from a
// thread of its own, since this thread's hold would let it in again.
bool HostMutexFree() {
  bool free = false;
  std::thread([&free] {
    NamedMutex mutex;
    if (mutex.Open((std::string(kSectionName) + kHostMutexSuffix).c_str()) && mutex.Acquire(0)) {
      free = true;
      mutex.Release();
    }
  }).join();
  return free;
}

size_t WaitsOf(uint32_t ms) { return static_cast<size_t>(std::count(g_wait_ms.begin(), g_wait_ms.end(), ms)); }

class PollLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(vt::InstallVendorLibrary(vt::ProgramDirectory() + "KHALAPI.dll"));
    g_sleeps = 0;
    g_wait_ms.clear();
    g_wait_at_us.clear();
    g_on_sleep = nullptr;
    g_granularity_ms = 1;
    SetSleepFunction(CountingSleep);
    SetVirtualClock(true);
  }
  void TearDown() override {
    SetVirtualClock(false);
    SetSleepFunction(nullptr);
    vt::RemoveVendorLibrary();
  }
  std::string LastLogLine() {
    const auto lines = vt::HostLogLines();
    return lines.empty() ? "" : lines.back();
  }
  vt::ScopedTempDir dir_;
};

}  // namespace

// Between requests from callers that signal, the host blocks on the
// request event in long waits, and ends after 100002 ms of them.
TEST_F(PollLoop, EndsAfterItsIdleTimeInLongWaitsWithStatusZero) {
  EXPECT_EQ(RunPollLoop(), 0);
  EXPECT_EQ(LastLogLine(), "Got Bored");
  EXPECT_EQ(WaitsOf(kQuietWaitMs), g_sleeps);
  EXPECT_GE(VornNowUs(), kIdleExitMs * 1000);
  EXPECT_LT(VornNowUs(), (kIdleExitMs + kQuietWaitMs) * 1000);
}

// Ready while it serves; before it stops serving at the idle exit it lets go
// of its ready event and of the one host's mutex, so that a launcher that
// looks then waits for its end and a host started then may serve.
TEST_F(PollLoop, SaysItIsReadyWhileItServesAndLetsGoBeforeItStops) {
  bool ready_while_idle = false, free_while_idle = true;
  g_on_sleep = [&](int64_t) {
    if (g_sleeps != 1) return;
    ready_while_idle = SaysReady();
    free_while_idle = HostMutexFree();
  };
  EXPECT_EQ(RunPollLoop(), 0);
  EXPECT_TRUE(ready_while_idle);
  EXPECT_FALSE(free_while_idle);
  EXPECT_FALSE(SaysReady());
  EXPECT_TRUE(HostMutexFree());
}

// A host that cannot open the section could never answer: it never says
// that it is ready, and ends at once with a line in its log, so that its
// launcher sees a start that failed rather than wait out a whole call.
TEST_F(PollLoop, AHostWithoutItsSectionNeverSaysReadyAndEndsAtOnce) {
  ScopedHandle squatter(CreateEventA(nullptr, TRUE, FALSE, kSectionName));  // the name taken by another kind
  ASSERT_TRUE(squatter);
  bool said_ready = false;
  g_on_sleep = [&](int64_t) { said_ready = said_ready || SaysReady(); };
  EXPECT_EQ(RunPollLoop(), 1);
  EXPECT_FALSE(said_ready);
  EXPECT_FALSE(SaysReady());
  EXPECT_EQ(g_sleeps, 0u);
  EXPECT_EQ(LastLogLine(), "Init the section Vorn64BitInterface could not be opened; this host ends");
  EXPECT_TRUE(HostMutexFree());
}

// Each wait counts by the time it took: the idle exit comes after the same
// time whether a wait lasts what it asked for or up to a timer's tick of
// 15.6 ms or 50 ms, in long waits and (below) in 1 ms polls alike.
TEST_F(PollLoop, TheIdleExitComesAfterTheSameTimeWhateverTheWaitsLast) {
  for (double granularity : {1.0, 15.625, 50.0}) {
    SetVirtualClock(true);
    g_granularity_ms = granularity;
    EXPECT_EQ(RunPollLoop(), 0);
    const double longest = std::ceil(kQuietWaitMs / granularity) * granularity;
    EXPECT_GE(VornNowUs(), kIdleExitMs * 1000) << granularity;
    EXPECT_LT(VornNowUs(), static_cast<int64_t>((kIdleExitMs + longest) * 1000)) << granularity;
  }
}

TEST_F(PollLoop, WithoutEventsItPollsEveryMillisecondWhateverTheWaitsLast) {
  CommsDisableSignals();
  for (double granularity : {1.0, 15.625, 50.0}) {
    SetVirtualClock(true);
    g_granularity_ms = granularity;
    g_sleeps = 0;
    g_wait_ms.clear();
    EXPECT_EQ(RunPollLoop(), 0);
    EXPECT_EQ(WaitsOf(kPollingWaitMs), g_sleeps);
    EXPECT_GE(VornNowUs(), kIdleExitMs * 1000) << granularity;
    EXPECT_LT(VornNowUs(), static_cast<int64_t>((kIdleExitMs + granularity) * 1000)) << granularity;
  }
}

TEST_F(PollLoop, ARequestLateInTheIdleTimeIsServedAndRestartsTheCount) {
  g_on_sleep = [](int64_t now_us) {
    if (now_us == 100000 * 1000) SendRequest(5, true);
  };
  EXPECT_EQ(RunPollLoop(), 0);
  RequestBlock answered = Section();
  EXPECT_EQ(answered.done, 1);
  EXPECT_EQ(answered.request_id, 5);
  EXPECT_EQ(answered.result, 0);
  EXPECT_GE(VornNowUs(), (100000 + kIdleExitMs) * 1000);
  EXPECT_EQ(LastLogLine(), "Got Bored");
}

TEST_F(PollLoop, BlocksWithoutARequestOrAlreadyAnsweredCountAsIdle) {
  g_on_sleep = [](int64_t now_us) {
    RequestBlock block;
    memset(&block, 0x5c, sizeof block);
    block.lock = 0;
    if (now_us == 1000 * 1000) {
      block.opcode = 0;  // whatever else it holds, no request
      CommsSend(kRequestSlot, &block, kBlockSize);
    } else if (now_us == 2000 * 1000) {
      block.opcode = block.pending_opcode = kRequestGetFirstDevicePosition;
      block.done = 1;  // an answer left in the section
      block.result = 1234;
      CommsSend(kRequestSlot, &block, kBlockSize);
    }
  };
  EXPECT_EQ(RunPollLoop(), 0);
  EXPECT_LT(VornNowUs(), (kIdleExitMs + kQuietWaitMs) * 1000);
  RequestBlock left = Section();
  EXPECT_EQ(left.result, 1234);
  EXPECT_EQ(left.args[0], 0x5c5c5c5c);
}

// A request that no signal announced comes from a caller that only polls:
// the host then looks every millisecond until a minute after the last such
// request, and goes back to long waits after it. Signalled requests do not
// change the waits.
TEST_F(PollLoop, AnUnsignalledRequestSwitchesToMillisecondPollsForAWhile) {
  g_on_sleep = [](int64_t now_us) {
    if (now_us == 3000 * 1000) SendRequest(1, true);
    if (now_us == 5000 * 1000) SendRequest(2, false);
  };
  EXPECT_EQ(RunPollLoop(), 0);
  EXPECT_EQ(LastLogLine(), "Got Bored");
  // Found at the end of a long wait, served, then 1 ms polls for 60 s.
  size_t first_poll = 0;
  while (first_poll < g_wait_ms.size() && g_wait_ms[first_poll] != kPollingWaitMs) ++first_poll;
  ASSERT_LT(first_poll, g_wait_ms.size());
  EXPECT_EQ(g_wait_at_us[first_poll], 5000 * 1000 + kQuietWaitMs * 1000);
  EXPECT_EQ(WaitsOf(kPollingWaitMs), static_cast<size_t>(kPollingSpellMs));
  for (size_t i = first_poll; i < first_poll + kPollingSpellMs; ++i) ASSERT_EQ(g_wait_ms[i], kPollingWaitMs) << i;
  for (size_t i = first_poll + kPollingSpellMs; i < g_wait_ms.size(); ++i) ASSERT_EQ(g_wait_ms[i], kQuietWaitMs) << i;
  EXPECT_EQ(Section().request_id, 2);
  EXPECT_EQ(Section().done, 1);
  // The signalled request at 3 s was answered with the reply signal; the
  // idle time counts from the last request.
  EXPECT_GE(VornNowUs(), (5100 + kIdleExitMs) * 1000);
}

// The reply signal follows every answer.
TEST_F(PollLoop, EveryAnswerIsSignalledBack) {
  g_on_sleep = [](int64_t now_us) {
    if (now_us == 200 * 1000) SendRequest(3, true);
  };
  EXPECT_EQ(RunPollLoop(), 0);
  EXPECT_EQ(Section().done, 1);
  HANDLE reply = g_channel[kRequestSlot].events[kReplyEvent];
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(WaitForSingleObject(reply, 0), WAIT_OBJECT_0);
}

// A reply's signal goes to the system together with the next long wait.
// A millisecond poll keeps a wait of its own: the system's signal-and-wait
// knows no high-resolution timer, and would stretch each poll to a tick.
TEST_F(PollLoop, AReplyIsSignalledWithTheNextLongWaitButApartFromAMillisecondPoll) {
  static std::vector<uint32_t> together;  // the waits that came with a reply's signal
  together.clear();
  SetSignalAndWaitFunction([](HANDLE to_signal, HANDLE event, uint32_t ms) {
    if (to_signal == g_channel[kRequestSlot].events[kReplyEvent]) together.push_back(ms);
    if (to_signal) SetEvent(to_signal);
    return VornWait(event, ms);
  });
  g_on_sleep = [](int64_t now_us) {
    if (now_us == 200 * 1000) SendRequest(5, true);
    if (now_us == 5000 * 1000) SendRequest(6, false);
  };
  EXPECT_EQ(RunPollLoop(), 0);
  SetSignalAndWaitFunction(nullptr);
  EXPECT_EQ(together, std::vector<uint32_t>{kQuietWaitMs});
  EXPECT_EQ(Section().request_id, 6);
  EXPECT_EQ(Section().done, 1);
  EXPECT_EQ(WaitForSingleObject(g_channel[kRequestSlot].events[kReplyEvent], 0), WAIT_OBJECT_0);
}

TEST_F(PollLoop, WithoutEventsARequestIsFoundByTheNextMillisecondPoll) {
  CommsDisableSignals();
  g_on_sleep = [](int64_t now_us) {
    if (now_us == 10 * 1000) SendRequest(4, false);
  };
  EXPECT_EQ(RunPollLoop(), 0);
  EXPECT_EQ(g_channel[kRequestSlot].events[kRequestEvent], nullptr);
  EXPECT_EQ(g_channel[kRequestSlot].events[kReplyEvent], nullptr);
  EXPECT_EQ(WaitsOf(kPollingWaitMs), g_sleeps);
  EXPECT_EQ(Section().done, 1);
  EXPECT_EQ(g_wait_at_us[11], 11 * 1000);  // the wait after the request's is the next millisecond's
  EXPECT_GE(VornNowUs(), (11 + kIdleExitMs) * 1000);
}
