// The poll loop, run in-process with the wait seam counting the idle polls.
// Needs a fresh process per case (as vorn_gtest runs them): the channel,
// the host's block and the vendor binding are module state.
#include "poll_loop.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "channel.h"
#include "host_harness.h"
#include "log_lines.h"
#include "process_call.h"
#include "test_support.h"
#include "wait_seam.h"

namespace {

uint64_t g_sleeps;
std::function<void(uint64_t)> g_on_sleep;

void CountingSleep(uint32_t ms) {
  EXPECT_EQ(ms, 1u);
  ++g_sleeps;
  if (g_on_sleep) g_on_sleep(g_sleeps);
}

RequestBlock Section() {
  RequestBlock b;
  CommsRecv(kRequestSlot, &b, kBlockSize);
  return b;
}

class PollLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(vt::InstallVendorLibrary(vt::ProgramDirectory() + "KHALAPI.dll"));
    g_sleeps = 0;
    g_on_sleep = nullptr;
    SetSleepFunction(CountingSleep);
  }
  void TearDown() override {
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

TEST_F(PollLoop, EndsAfter100002IdlePollsWithStatusZero) {
  EXPECT_EQ(RunPollLoop(), 0);
  EXPECT_EQ(g_sleeps, 100002u);
  EXPECT_EQ(LastLogLine(), "Got Bored");
}

TEST_F(PollLoop, ARequestAfter100001IdlePollsIsServedAndRestartsTheCount) {
  g_on_sleep = [](uint64_t n) {
    if (n != 100001) return;
    RequestBlock request = {};
    request.opcode = request.pending_opcode = kRequestGetNextDevicePosition;
    request.request_id = 5;
    CommsSend(kRequestSlot, &request, kBlockSize);
  };
  EXPECT_EQ(RunPollLoop(), 0);
  EXPECT_EQ(g_sleeps, 100001u + 100002u);
  RequestBlock answered = Section();
  EXPECT_EQ(answered.done, 1);
  EXPECT_EQ(answered.request_id, 5);
  EXPECT_EQ(answered.result, 0);
  EXPECT_EQ(answered.args[0], 0x4D500000);  // the first pad, low word
  EXPECT_EQ(g_device_handle, 0x000000014D500000ull);
  EXPECT_EQ(LastLogLine(), "Got Bored");
}

TEST_F(PollLoop, BlocksWithoutARequestOrAlreadyAnsweredCountAsIdle) {
  g_on_sleep = [](uint64_t n) {
    RequestBlock block;
    memset(&block, 0x5c, sizeof block);
    block.lock = 0;
    if (n == 10) {
      block.opcode = 0;  // whatever else it holds, no request
      CommsSend(kRequestSlot, &block, kBlockSize);
    } else if (n == 20) {
      block.opcode = block.pending_opcode = kRequestGetFirstDevicePosition;
      block.done = 1;  // an answer left in the section
      block.result = 1234;
      CommsSend(kRequestSlot, &block, kBlockSize);
    }
  };
  EXPECT_EQ(RunPollLoop(), 0);
  EXPECT_EQ(g_sleeps, 100002u);
  RequestBlock left = Section();
  EXPECT_EQ(left.result, 1234);
  EXPECT_EQ(left.args[0], 0x5c5c5c5c);
}

namespace {

// Waits of the poll loop as the seam sees them; each also passes through
// the counting sleep, as the default wait does with a replaced sleep.
struct PollWaits {
  static uint64_t on_event;  // waits given the request event
  static bool end_early;     // pretend every wait was ended by a signal
  static bool Wait(HANDLE event, uint32_t ms) {
    if (event) {
      EXPECT_EQ(event, g_channel[kRequestSlot].events[kRequestEvent]);
      ++on_event;
    }
    CountingSleep(ms);
    return end_early || (event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0);
  }
};
uint64_t PollWaits::on_event;
bool PollWaits::end_early;

void SendRequestAt(uint64_t poll, uint64_t n) {
  if (n != poll) return;
  RequestBlock request = {};
  request.opcode = request.pending_opcode = kRequestGetFirstDevicePosition;
  request.request_id = 9;
  CommsSend(kRequestSlot, &request, kBlockSize);
}

}  // namespace

TEST_F(PollLoop, WaitsOnTheRequestEventForAQuietSpellThenSleeps) {
  SetWaitFunction(PollWaits::Wait);
  EXPECT_EQ(RunPollLoop(), 0);
  SetWaitFunction(nullptr);
  EXPECT_EQ(g_sleeps, 100002u);
  EXPECT_EQ(PollWaits::on_event, static_cast<uint64_t>(kSignalledIdlePolls));
}

TEST_F(PollLoop, PollsThatASignalEndsEarlyStillCountOneEach) {
  PollWaits::end_early = true;
  SetWaitFunction(PollWaits::Wait);
  EXPECT_EQ(RunPollLoop(), 0);
  SetWaitFunction(nullptr);
  EXPECT_EQ(g_sleeps, 100002u);
  EXPECT_EQ(LastLogLine(), "Got Bored");
}

// A request after the quiet spell is served at the next sleep's end, it is
// answered with the reply signal, and the waits on the event start again.
TEST_F(PollLoop, ARequestAfterTheQuietSpellIsSignalledBackAndWakesTheWaitsAgain) {
  g_on_sleep = [](uint64_t n) { SendRequestAt(50000, n); };
  SetWaitFunction(PollWaits::Wait);
  EXPECT_EQ(RunPollLoop(), 0);
  SetWaitFunction(nullptr);
  EXPECT_EQ(g_sleeps, 50000u + 100002u);
  EXPECT_EQ(PollWaits::on_event, 2u * kSignalledIdlePolls);
  EXPECT_EQ(Section().done, 1);
  HANDLE reply = g_channel[kRequestSlot].events[kReplyEvent];
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(WaitForSingleObject(reply, 0), WAIT_OBJECT_0);
}

TEST_F(PollLoop, WithoutEventsEveryPollIsAPlainSleep) {
  CommsDisableSignals();
  g_on_sleep = [](uint64_t n) { SendRequestAt(10, n); };
  SetWaitFunction(PollWaits::Wait);
  EXPECT_EQ(RunPollLoop(), 0);
  SetWaitFunction(nullptr);
  EXPECT_EQ(g_channel[kRequestSlot].events[kRequestEvent], nullptr);
  EXPECT_EQ(g_channel[kRequestSlot].events[kReplyEvent], nullptr);
  EXPECT_EQ(PollWaits::on_event, 0u);
  EXPECT_EQ(g_sleeps, 10u + 100002u);
  EXPECT_EQ(Section().done, 1);
}
