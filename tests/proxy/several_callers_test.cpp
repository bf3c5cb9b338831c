// Two, then three processes, each with two threads, use the real
// VornApx.dll at once against the echo stand-in that records every call it
// gets: each caller gets its own answers, each command reaches the device
// library exactly once, and the callers' first calls, made together, start
// one host program.
#include <map>

#include "end_to_end_env.h"

namespace {

constexpr int kMostCallers = 3;
constexpr int kThreads = 2;
constexpr int kCommandsPerThread = 150;

// How often each command's data reached the device library.
std::map<std::string, int> CommandsReceived() {
  std::map<std::string, int> seen;
  for (const std::string& line : vt::FileLines("khalapi.calls")) {
    const size_t data = line.find(" data=");
    if (line.rfind("LD_DeviceControl ", 0) == 0 && data != line.npos) ++seen[line.substr(data + 6)];
  }
  return seen;
}

int HostStarts() {
  int starts = 0;
  for (const std::string& line : vt::FileLines("Vorn64BitInterface.log"))
    starts += line.find("CommsStart entry 0") != line.npos;
  return starts;
}

}  // namespace

TEST_F(ProxyEndToEnd, SeveralCallersTakeTurnsAndEachCommandRunsOnce) {
  Prepare("KHALAPI_echo_recording.dll");
  for (int callers : {2, 3}) {
    // Each round starts without a host, so that the first calls meet.
    vt::KillProcesses(kHostTail);
    DeleteFileA("khalapi.calls");
    DeleteFileA("Vorn64BitInterface.log");
    vt::ChildProcess started[kMostCallers];
    for (int c = 0; c < callers; ++c) {
      const std::string command = "\"" + vt::ProgramDirectory() + "proxy_caller.exe\" \"" + ProxyPath() +
                                  "\" commands " + std::to_string(c + 1) + " " + std::to_string(kCommandsPerThread) +
                                  " " + std::to_string(kThreads);
      started[c] = vt::StartChildWithOutputFile(command, dir_.path(), dir_.path() + "\\caller" + std::to_string(c));
      ASSERT_NE(started[c].process, nullptr);
    }
    for (int c = 0; c < callers; ++c) {
      EXPECT_EQ(vt::WaitChild(started[c], 120000), 0);
      EXPECT_EQ(vt::FileLines("caller" + std::to_string(c)),
                std::vector<std::string>{"commands 0 wrong of " + std::to_string(kThreads * kCommandsPerThread)})
          << callers << " callers";
    }
    const std::map<std::string, int> received = CommandsReceived();
    EXPECT_EQ(received.size(), static_cast<size_t>(callers * kThreads * kCommandsPerThread)) << callers << " callers";
    int repeated = 0;
    for (const auto& command : received) repeated += command.second != 1;
    EXPECT_EQ(repeated, 0) << "commands that reached the device library more than once, " << callers << " callers";
    EXPECT_EQ(vt::FindProcesses(kHostTail).size(), 1u) << callers << " callers";
    EXPECT_EQ(HostStarts(), 1) << vt::ReadFileBytes("Vorn64BitInterface.log");
  }
}
