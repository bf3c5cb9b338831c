// The trace stack's limits. Needs a fresh process per case (as vorn_gtest
// runs them): the stack is module state.
#include "trace_stack.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(TraceStack, NestedScopesRestoreTheDepthOnEveryWayOut) {
  auto inner = [](bool early) {
    TraceScope t("MP_check_process");
    if (early) return 1;
    return 2;
  };
  auto outer = [&](bool early) {
    TraceScope t("MP_KillProc");
    EXPECT_EQ(g_trace.depth, 1);
    return inner(early);
  };
  EXPECT_EQ(outer(true), 1);
  EXPECT_EQ(g_trace.depth, 0);
  EXPECT_EQ(outer(false), 2);
  EXPECT_EQ(g_trace.depth, 0);
  EXPECT_STREQ(g_trace.frames[0], "MP_KillProc");
  EXPECT_STREQ(g_trace.frames[1], "MP_check_process");  // a pop does not clear its frame
}

TEST(TraceStack, ALongNameIsCutToTheFrame) {
  std::string name(600, 'n');
  memset(g_trace.frames[1], 'x', kTraceFrameSize);
  TracePush(name.c_str());
  EXPECT_EQ(strlen(g_trace.frames[0]), 255u);
  EXPECT_EQ(g_trace.frames[1][0], 'x');  // the next frame is untouched
  TracePop();
}

TEST(TraceStack, AFullStackStoresNothingMoreButStaysBalanced) {
  for (int i = 0; i < kTraceFrames; ++i) TracePush("frame");
  TracePush("overflow one");
  TracePush("overflow two");
  EXPECT_EQ(g_trace.depth, kTraceFrames + 2);
  for (int i = 0; i < kTraceFrames + 2; ++i) TracePop();
  EXPECT_EQ(g_trace.depth, 0);
  for (int i = 0; i < kTraceFrames; ++i) ASSERT_STREQ(g_trace.frames[i], "frame");
}

TEST(TraceStack, APopAtDepthZeroStaysAtZero) {
  TracePop();
  EXPECT_EQ(g_trace.depth, 0);
  TracePush("a");
  EXPECT_EQ(g_trace.depth, 1);
  EXPECT_STREQ(g_trace.frames[0], "a");
  TracePop();
}
