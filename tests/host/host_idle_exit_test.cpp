// The real idle exit, with the real 1 ms sleeps: slow on purpose.
#include <gtest/gtest.h>

#include <cstdio>

#include "host_process.h"

TEST(HostEndToEndSlow, EndsByItselfAfterTheIdlePollsWithStatusZero) {
  vt::ScopedTempDir dir;
  HostProcess host("KHALAPI.dll");
  ASSERT_TRUE(host.WaitForLogLine("Init KhalApi.dll loaded"));
  const DWORD start = GetTickCount();
  EXPECT_EQ(host.WaitForExit(400000), 0);
  const DWORD elapsed = GetTickCount() - start;
  auto lines = HostProcess::LogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find(" Got Bored"), std::string::npos);
  printf("idle exit after %lu ms\n", static_cast<unsigned long>(elapsed));
  // 100002 sleeps of about 1 ms; under Wine a 1 ms sleep now and then ends a
  // little early, so the bound leaves room for that.
  EXPECT_GT(elapsed, 80000u);
}
