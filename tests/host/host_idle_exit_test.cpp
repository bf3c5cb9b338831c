// The real idle exit, by the real clock: slow on purpose. The test plays a
// caller that only polls, so after its request the host polls every
// millisecond for a minute, then waits on the request event in long waits;
// the exit comes 100002 ms after the request either way.
#include <gtest/gtest.h>

#include <cstdio>

#include "host_process.h"

TEST(HostEndToEndSlow, EndsByItselfAfterItsIdleTimeWithStatusZero) {
  vt::ScopedTempDir dir;
  HostProcess host("KHALAPI.dll");
  ASSERT_TRUE(host.WaitForLogLine("Init KhalApi.dll loaded"));
  RequestBlock first = NewRequest(kRequestGetFirstDevicePosition, "LD_GetFirstDevicePosition");
  ASSERT_TRUE(host.Call(first));
  const DWORD start = GetTickCount();
  EXPECT_EQ(host.WaitForExit(400000), 0);
  const DWORD elapsed = GetTickCount() - start;
  auto lines = HostProcess::LogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find(" Got Bored"), std::string::npos);
  printf("idle exit %lu ms after the last request\n", static_cast<unsigned long>(elapsed));
  // Never earlier than 100002 ms of waiting (the tick count may lag the
  // host's clock by a tick), and not much later.
  EXPECT_GE(elapsed, 100002u - 20u);
  EXPECT_LT(elapsed, 100002u + 5000u);
}
