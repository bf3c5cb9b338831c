// The real time-out: a host program runs but never answers, so the call
// waits until its deadline, 100 s after it began. The next call ends that
// host and is answered by a new one.
#include "call_bound.h"
#include "end_to_end_env.h"

TEST_F(ProxyEndToEnd, WithAHostThatNeverAnswersACallFailsAfterTheFullWaitAndTheNextIsServed) {
  Prepare("KHALAPI.dll");
  ASSERT_TRUE(CopyFileA((vt::Win64BinDirectory() + "silent_host.exe").c_str(), "Vorn64BitInterface.exe", FALSE));
  bool replaced = false;
  // Once the first call has timed out, the program file becomes the real
  // host program again (the silent one keeps running from its new name).
  vt::ChildRun run = RunCaller("position 2", "out.txt", 240000, [&] {
    if (replaced || vt::ReadFileBytes("out.txt").find("Timeout") == std::string::npos) return;
    replaced = MoveFileA("Vorn64BitInterface.exe", "silent_host.exe") &&
               CopyFileA((vt::Win64BinDirectory() + "Vorn64BitInterface.exe").c_str(), "Vorn64BitInterface.exe", FALSE);
  });
  ASSERT_EQ(run.exit_code, 0) << run.output;
  EXPECT_TRUE(replaced);
  const std::vector<std::string> lines = vt::Lines(run.output);
  ASSERT_EQ(lines.size(), 3u) << run.output;
  EXPECT_EQ(lines[0], "**** Timeout ****");
  EXPECT_EQ(lines[1].rfind("first -1 12345 after ", 0), 0u) << lines[1];
  // The call's one deadline, the launcher's second included: it ends at
  // the budget, and within the bound of one call (the caller's own clock
  // may read a tick early; a busy machine may schedule it late).
  const unsigned long first_ms = std::stoul(lines[1].substr(21));
  EXPECT_GE(first_ms, static_cast<unsigned long>(kReplyBudgetMs - kWaitOvershootMs));
  EXPECT_LE(first_ms, static_cast<unsigned long>(kProxyCallBoundMs + 2000));
  // The stuck host is ended (up to 1 s for it to go), a new one started
  // (1 s), and the call answered by it: a stuck host costs one time-out.
  EXPECT_EQ(lines[2].rfind("first 0 0 after ", 0), 0u) << lines[2];
  const unsigned long second_ms = std::stoul(lines[2].substr(16));
  EXPECT_LT(second_ms, 10000u);
  const std::vector<DWORD> hosts = vt::FindProcesses(kHostTail);
  EXPECT_EQ(hosts.size(), 1u) << "the silent host was ended, the new one runs";
  EXPECT_TRUE(vt::FindProcesses("\\silent_host.exe").empty());
  printf("time-out call: %s; the next call: %s\n", lines[1].c_str(), lines[2].c_str());
}
