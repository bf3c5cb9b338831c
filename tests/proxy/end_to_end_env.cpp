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

ChildRun ProxyEndToEnd::RunCaller(const char* scenario, const char* output_name, DWORD timeout_ms) {
  const std::string command =
      "\"" + vt::ProgramDirectory() + "proxy_caller.exe\" \"" + ProxyPath() + "\" " + scenario;
  return RunWithOutputFile(command, dir_.path(), dir_.path() + "\\" + output_name, timeout_ms);
}

std::vector<std::string> OutputLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}
