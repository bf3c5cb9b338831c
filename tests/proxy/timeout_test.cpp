// The real time-out: a host program runs but never answers, so the call
// waits out its 100000 reads of the section.
#include "end_to_end_env.h"

TEST_F(ProxyEndToEnd, WithAHostThatNeverAnswersACallFailsAfterTheFullWait) {
  Prepare(nullptr);
  ASSERT_TRUE(CopyFileA((vt::Win64BinDirectory() + "silent_host.exe").c_str(), "Vorn64BitInterface.exe", FALSE));
  vt::ChildRun run = RunCaller("position", "out.txt", 240000);
  ASSERT_EQ(run.exit_code, 0) << run.output;
  const std::vector<std::string> lines = vt::Lines(run.output);
  ASSERT_EQ(lines.size(), 2u) << run.output;
  EXPECT_EQ(lines[0], "**** Timeout ****");
  EXPECT_EQ(lines[1].rfind("first -1 12345 after ", 0), 0u) << lines[1];
  // 1000 ms in the launcher, and 100001 waits of about 1 ms.
  EXPECT_GE(run.elapsed_ms, 101000u);
  EXPECT_EQ(vt::FindProcesses(kHostTail).size(), 1u) << "the silent host is still the one that runs";
  printf("time-out call: %s; process wall time %lu ms\n", lines[1].c_str(), run.elapsed_ms);
}
