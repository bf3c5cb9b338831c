#include "end_to_end_env.h"

void ProxyEndToEnd::Prepare(const char* standin) {
  vt::KillProcesses(kHostTail);  // left over from an earlier, failed run
  ASSERT_TRUE(vt::FindProcesses(kHostTail).empty());
  if (!standin) return;
  ASSERT_TRUE(vt::PlaceHostProgram(standin)) << vt::Win64BinDirectory() << standin;
}

void ProxyEndToEnd::TearDown() {
  vt::KillProcesses(kHostTail);
  vt::RemoveVendorLibrary();
}

vt::ChildRun ProxyEndToEnd::RunCaller(const char* scenario, const char* output_name, DWORD timeout_ms,
                                      const std::function<void()>& during) {
  const std::string command = "\"" + vt::ProgramDirectory() + "proxy_caller.exe\" \"" + ProxyPath() + "\" " + scenario;
  return vt::RunChild(command, dir_.path(), dir_.path() + "\\" + output_name, timeout_ms, during);
}
