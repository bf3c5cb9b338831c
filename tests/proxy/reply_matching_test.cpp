// A reply is taken only for the request it answers; the section may hold
// an old answer, nothing, or another process's waiting request.
#include <cstring>

#include "caller_turn.h"
#include "proxy_fixture.h"
#include "stdout_capture.h"
#include "vorn_apx.h"

namespace {

void Answer(RequestBlock& b) {
  b.args[0] = 1000 + b.args[0];
  b.result = 1;
}

RequestBlock g_old_request;

RequestBlock AnsweredOldRequest() {
  RequestBlock late = g_old_request;
  late.done = 1;
  late.args[0] = 999;
  late.result = 999;
  return late;
}

}  // namespace

TEST_F(ProxyTest, ALateAnswerToATimedOutRequestIsNotTakenForTheNextOne) {
  StdoutCapture out;
  int32_t position = 5;
  ASSERT_EQ(LD_GetNextDevicePosition(&position), -1);
  g_old_request = FakeHost::Section();
  // The host wakes up and answers the old request right after the new one
  // went out, over it.
  FakeHost::polls = 0;
  FakeHost::serve = Answer;
  FakeHost::before_poll = [](int poll) {
    if (poll == 0) FakeHost::PutInSection(AnsweredOldRequest());
  };
  position = 6;
  EXPECT_EQ(LD_GetNextDevicePosition(&position), 1);
  EXPECT_EQ(position, 1006);
  ASSERT_EQ(FakeHost::served.size(), 1u);
  EXPECT_NE(FakeHost::served[0].request_id, g_old_request.request_id);
  EXPECT_EQ(FakeHost::served[0].args[0], 6);
}

TEST_F(ProxyTest, AnEmptiedSectionGetsTheRequestAgain) {
  FakeHost::serve = Answer;
  FakeHost::before_poll = [](int poll) {
    if (poll < 3) FakeHost::PutInSection(RequestBlock{});
  };
  int32_t position = 1;
  EXPECT_EQ(LD_GetFirstDevicePosition(&position), 1);
  EXPECT_EQ(position, 1001);
  EXPECT_EQ(FakeHost::served.size(), 1u);
}

// Another request waiting in the section is never overwritten; once it has
// been answered, ours goes out again and gets its own answer.
TEST_F(ProxyTest, AnotherRequestThatStillWaitsIsLeftAlone) {
  static int overwritten = 0;
  FakeHost::before_poll = [](int poll) {
    if (poll == 0) {
      RequestBlock other = {};
      other.opcode = other.pending_opcode = kRequestGetFirstDevicePosition;
      other.request_id = 0x0BADF00D;
      other.args[0] = 42;
      FakeHost::PutInSection(other);
    } else if (poll < 50) {
      if (FakeHost::Section().request_id != 0x0BADF00D) ++overwritten;
    } else if (poll == 50) {
      FakeHost::serve = Answer;
    }
  };
  int32_t position = 7;
  EXPECT_EQ(LD_GetNextDevicePosition(&position), 1);
  EXPECT_EQ(position, 1007);
  EXPECT_EQ(overwritten, 0);
  ASSERT_EQ(FakeHost::served.size(), 2u);
  EXPECT_EQ(FakeHost::served[0].request_id, 0x0BADF00D);
  EXPECT_EQ(FakeHost::served[1].args[0], 7);
}

// A channel that cannot be opened: -1 at once, nothing touched, no time-out;
// no host program is looked for or started (none runs here, so a launcher
// would start one), and no launcher's second is waited.
TEST_F(ProxyTest, WithoutAChannelEveryCallFailsAtOnce) {
  CommsStop(0);
  UseProxySectionName("No\\Such\\Namespace");
  system_.processes.clear();
  StdoutCapture out;
  int32_t position = 3;
  int32_t info[2] = {4, 0x01020304};
  int32_t control[6] = {24, 0, 0, 0, 0, 0};
  EXPECT_EQ(LD_GetFirstDevicePosition(&position), -1);
  EXPECT_EQ(LD_GetNextDevicePosition(&position), -1);
  EXPECT_EQ(LD_GetDeviceInfo(0, info), -1);
  EXPECT_EQ(LD_DeviceControl(0, 0, control), -1);
  EXPECT_EQ(position, 3);
  EXPECT_EQ(info[0], 4);
  EXPECT_EQ(info[1], 0x01020304);
  EXPECT_EQ(FakeHost::polls, 0);
  EXPECT_EQ(out.Finish(), "");
  EXPECT_EQ(g_channel[0].view, nullptr);
  EXPECT_EQ(system_.listings, 0);
  EXPECT_TRUE(system_.started.empty());
  EXPECT_TRUE(FakeHost::long_sleeps.empty());
  EXPECT_EQ(VornNowUs(), 0);
}

// A section whose name was taken for a while (by an object of another
// type): the call fails, and the next call, once the name is free, opens
// the channel and is served.
TEST_F(ProxyTest, AChannelThatFailedToOpenIsOpenedByTheNextCall) {
  CommsStop(0);
  const std::string name = vt::UniqueName("VornProxyRetry");
  UseProxySectionName(name.c_str());
  HANDLE squatter = CreateMutexA(nullptr, FALSE, name.c_str());
  ASSERT_NE(squatter, nullptr);
  FakeHost::serve = [](RequestBlock& b) { b.args[0] = 99; };
  int32_t position = 3;
  EXPECT_EQ(LD_GetFirstDevicePosition(&position), -1);
  EXPECT_EQ(position, 3);
  EXPECT_EQ(g_channel[0].view, nullptr);
  CloseHandle(squatter);
  EXPECT_EQ(LD_GetFirstDevicePosition(&position), 0);
  EXPECT_EQ(position, 99);
  EXPECT_NE(g_channel[0].view, nullptr);
}
