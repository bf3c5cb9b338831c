// The check tool beside a host program that runs but never answers, as one
// stuck in a vendor call: its first call gets the proxy's time-out, its
// second is served by the host program that replaces the stuck one, well
// within the tool's bounds. About two minutes.
#include "check_tool_fixture.h"

using vt::CheckTool;

TEST_F(CheckTool, AStuckHostProgramIsReplacedAndWarnedAbout) {
  const std::string stuck = dir_.path() + "\\stuck\\";
  ASSERT_TRUE(CreateDirectoryA(stuck.c_str(), nullptr));
  ASSERT_TRUE(CopyFileA((vt::Win64BinDirectory() + "silent_host.exe").c_str(),
                        (stuck + "Vorn64BitInterface.exe").c_str(), FALSE));
  vt::ChildProcess silent = vt::StartChild("\"" + stuck + "Vorn64BitInterface.exe\"", stuck);
  ASSERT_TRUE(silent.process);
  Sleep(500);
  const DWORD start = GetTickCount();
  EXPECT_EQ(Run(300000), 2) << Output();
  const DWORD took = GetTickCount() - start;
  EXPECT_EQ(Verdict("host"), "WARN") << Output();
  EXPECT_NE(Text("host").find("after the one before it had stopped answering and was replaced"), std::string::npos)
      << Text("host");
  EXPECT_EQ(Verdict("pad"), "OK") << Output();
  EXPECT_EQ(WaitForSingleObject(silent.process, 0), static_cast<DWORD>(WAIT_OBJECT_0)) << "the stuck host runs on";
  EXPECT_GT(took, 90000u);   // the first call's time-out
  EXPECT_LT(took, 140000u);  // and no second one
  vt::WaitChild(silent, 0);
}
