#pragma once
// Runs the real host program in a test's own directory and talks to it
// through the fixed section, as the proxy does.

#include <string>

#include "request_block.h"
#include "test_support.h"

class HostProcess {
 public:
  // Copies the program into the current directory, installs the stand-in
  // device library `standin` at the fixed vendor path and starts the program.
  explicit HostProcess(const char* standin);
  ~HostProcess();
  bool running() const { return child_.process != nullptr; }
  DWORD pid() const { return child_.pid; }

  // Sends a request (request number given) and waits for its answer; false
  // when none came within the time-out.
  bool Call(RequestBlock& block, unsigned timeout_ms = 10000);
  // Waits until the log holds a line ending in `text`.
  bool WaitForLogLine(const std::string& text, unsigned timeout_ms = 10000);
  // Waits for the program to end by itself; its exit status, or -1.
  int WaitForExit(unsigned timeout_ms);

  // The log's lines as written, time stamps and all.
  static std::vector<std::string> LogLines() { return vt::FileLines("Vorn64BitInterface.log"); }

 private:
  vt::ChildProcess child_;
};

RequestBlock NewRequest(int32_t code, const char* name);
