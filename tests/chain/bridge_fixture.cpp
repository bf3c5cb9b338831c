#include "bridge_fixture.h"

#include "host_harness.h"

namespace pt {

namespace {

bool CopyFrom(const std::string& folder, const char* file, const std::string& to) {
  return CopyFileA((folder + file).c_str(), to.c_str(), FALSE) != 0;
}

}  // namespace

void BridgeChainTest::SetUp() {
  ChainTest::SetUp();
  vt::KillProcesses(kHelperTail);
  const std::string bin32 = vt::ProgramDirectory();
  const std::string bin64 = vt::Win64BinDirectory();
  ASSERT_TRUE(CreateDirectoryA("displays", nullptr));
  ASSERT_TRUE(CreateDirectoryA("displays\\QX20481-32bit", nullptr));
  ASSERT_TRUE(CopyFrom(bin64, "display_host.exe", "display_host64.exe"));
  ASSERT_TRUE(CopyFrom(bin64, "QX20481.dll", "displays\\QX20481.dll"));
  ASSERT_TRUE(CopyFrom(bin32, "QX20481.dll", "displays\\QX20481-32bit\\QX20481.dll"));
  // The helper beside the display host's program, as installed.
  ASSERT_TRUE(CopyFrom(bin32, "QX20481Bridge32.exe", "QX20481Bridge32.exe"));
  // The layer finds the proxy in the display host's folder, as in an
  // installed chain.
  ASSERT_TRUE(CopyFrom(bin32, "VornApx.dll", "VornApx.dll"));
}

void BridgeChainTest::TearDown() {
  vt::KillProcesses(kHelperTail);
  ChainTest::TearDown();
}

void BridgeChainTest::Bridge(const std::string& name, const char* plugin32) {
  ASSERT_TRUE(CopyFrom(vt::ProgramDirectory(), plugin32, "displays\\" + name + ".dll"));
  // The check tool from this folder, the display host's, as a user runs it.
  ASSERT_TRUE(CopyFrom(vt::ProgramDirectory(), "vorn-check.exe", "vorn-check.exe"));
  const vt::ChildRun step = RunChild(dir_.path() + "\\vorn-check.exe --bridge displays\\" + name + ".dll", 30000);
  ASSERT_EQ(step.exit_code, 0) << step.output;
}

vt::ChildRun BridgeChainTest::RunDisplayHost64(const std::string& arguments, DWORD timeout_ms,
                                               const std::function<void()>& during) {
  return RunChild("display_host64.exe displays\\QX20481.dll " + arguments, timeout_ms, during);
}

}  // namespace pt
