// The poll loop, run in-process with the sleep seam counting the idle polls.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "channel.h"
#include "host_harness.h"
#include "host_service.h"
#include "process_call.h"
#include "sleep_seam.h"
#include "test_support.h"

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
  CommsRecv(kChannelSlot, &b, kBlockSize);
  return b;
}

class HostService : public ::testing::Test {
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
    auto lines = vt::SplitCrLfLines(vt::ReadFileBytes("Vorn64BitInterface.log"));
    return lines.empty() ? "" : lines.back().substr(13);
  }
  vt::ScopedTempDir dir_;
};

}  // namespace

TEST_F(HostService, EndsAfter100002IdlePollsWithStatusZero) {
  EXPECT_EQ(RunHostService(), 0);
  EXPECT_EQ(g_sleeps, 100002u);
  EXPECT_EQ(LastLogLine(), "Got Bored");
}

TEST_F(HostService, ARequestAfter100001IdlePollsIsServedAndRestartsTheCount) {
  g_on_sleep = [](uint64_t n) {
    if (n != 100001) return;
    RequestBlock request = {};
    request.opcode = request.pending_opcode = kOpGetNextDevicePosition;
    request.request_id = 5;
    CommsSend(kChannelSlot, &request, kBlockSize);
  };
  EXPECT_EQ(RunHostService(), 0);
  EXPECT_EQ(g_sleeps, 100001u + 100002u);
  RequestBlock answered = Section();
  EXPECT_EQ(answered.done, 1);
  EXPECT_EQ(answered.request_id, 5);
  EXPECT_EQ(answered.result, 0);
  EXPECT_EQ(answered.args[0], 0x4D500000);  // the first pad, low word
  EXPECT_EQ(g_device_handle, 0x000000014D500000ull);
  EXPECT_EQ(LastLogLine(), "Got Bored");
}

TEST_F(HostService, BlocksWithoutARequestOrAlreadyAnsweredCountAsIdle) {
  g_on_sleep = [](uint64_t n) {
    RequestBlock block;
    memset(&block, 0x5c, sizeof block);
    block.lock = 0;
    if (n == 10) {
      block.opcode = 0;  // whatever else it holds, no request
      CommsSend(kChannelSlot, &block, kBlockSize);
    } else if (n == 20) {
      block.opcode = block.pending_opcode = kOpGetFirstDevicePosition;
      block.done = 1;  // an answer left in the section
      block.result = 1234;
      CommsSend(kChannelSlot, &block, kBlockSize);
    }
  };
  EXPECT_EQ(RunHostService(), 0);
  EXPECT_EQ(g_sleeps, 100002u);
  RequestBlock left = Section();
  EXPECT_EQ(left.result, 1234);
  EXPECT_EQ(left.args[0], 0x5c5c5c5c);
}
