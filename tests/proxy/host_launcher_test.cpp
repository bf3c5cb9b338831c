// The launcher: the right program, found by the tail of its image path or
// started detached without the caller's handles, from the current directory
// or beside the proxy; failed starts retried at most once a second; the
// process-control operations it uses. (Its watch over a running host is in
// host_recovery_test.cpp.)
#include "host_launcher.h"

#include "proxy_fixture.h"
#include "trace_stack.h"
#include "vorn_apx.h"

namespace {

const char kFound[] = "C:\\vorn\\Vorn64BitInterface.exe";

void Answer(RequestBlock& b) { b.result = 0; }

int32_t OneCall() {
  int32_t position = 0;
  return LD_GetFirstDevicePosition(&position);
}

// What a start from `directory` (with its trailing backslash) is given.
std::string StartOf(const std::string& directory, const char* program = kHostProgram64) {
  return directory + program + "| |" + directory.substr(0, directory.size() - 1) + "|0|0x8";
}

}  // namespace

TEST_F(ProxyTest, ARunningHostIsFoundKeptOpenForWaitingAndNothingIsStarted) {
  FakeHost::serve = Answer;
  EXPECT_EQ(OneCall(), 0);
  EXPECT_TRUE(system_.started.empty());
  EXPECT_EQ(system_.listings, 1);
  EXPECT_EQ(FakeHost::long_sleeps, std::vector<uint32_t>{1000});
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ(system_.opened_for_waiting, std::vector<DWORD>{4242});
  EXPECT_EQ(system_.open_handles, 1);  // the host's, kept
  EXPECT_EQ(g_host.state, kHostWatched);
}

TEST_F(ProxyTest, NoHostRunningStartsItDetachedWithoutHandlesAndOneBlankArgument) {
  system_.processes = {{8, "C:\\windows\\system32\\services.exe"}};
  FakeHost::serve = Answer;
  EXPECT_EQ(OneCall(), 0);
  EXPECT_EQ(system_.started, std::vector<std::string>{StartOf(FakeSystem::CurrentDirectory())});
  EXPECT_EQ(g_host.state, kHostWatched);
  EXPECT_EQ(system_.open_handles, 1);
  EXPECT_EQ(LogLines(), std::vector<std::string>{"Starting Vorn64BitInterface.exe"});
  EXPECT_EQ(FakeHost::long_sleeps, std::vector<uint32_t>{1000});
  // The start path scans the list again, inside the kill operation.
  EXPECT_EQ(system_.trace_at_listing, (std::vector<std::string>{"MP_check_process", "MP_KillProc/MP_check_process"}));
  EXPECT_EQ(g_trace.depth, 0);
  EXPECT_EQ(system_.library_loads, 1);
}

TEST_F(ProxyTest, WithoutWow64TheThirtyTwoBitProgramIsStarted) {
  system_.processes = {{12, kFound}};
  system_.wow64 = false;
  OneCall();
  EXPECT_EQ(system_.started, std::vector<std::string>{StartOf(FakeSystem::CurrentDirectory(), kHostProgram32)});
  EXPECT_EQ(MP_IsWow64(), 0);
  system_.has_is_wow64 = false;
  EXPECT_EQ(MP_IsWow64(), 0);
  system_.has_is_wow64 = true;
  system_.wow64 = true;
  EXPECT_NE(MP_IsWow64(), 0);
}

TEST_F(ProxyTest, TheProgramIsLookedForBesideTheProxyThenInTheCurrentDirectory) {
  system_.processes = {};
  system_.files = {FakeSystem::CurrentDirectory() + kHostProgram64};
  FakeHost::serve = Answer;
  EXPECT_EQ(OneCall(), 0);
  EXPECT_EQ(system_.started, std::vector<std::string>{StartOf(FakeSystem::CurrentDirectory())});
}

// A program of the host's name in a current directory that anybody may
// write to is never preferred to the one beside the proxy.
TEST_F(ProxyTest, TheFolderOfTheProxyComesFirst) {
  system_.processes = {};
  system_.files = {FakeSystem::CurrentDirectory() + kHostProgram64, FakeSystem::ModuleDirectory() + kHostProgram64};
  MP_kernel32_Start();
  SystemHandle started(MP_StartProc(kHostProgram64, kHostArgument));
  EXPECT_TRUE(started);
  EXPECT_EQ(system_.started, std::vector<std::string>{StartOf(FakeSystem::ModuleDirectory())});
}

// No program file: the call fails at once, without the launcher's wait and
// without sending anything; calls within the next second do not look again.
TEST_F(ProxyTest, AFailedStartFailsTheCallAtOnceAndIsRetriedAtMostOnceASecond) {
  system_.processes = {};
  system_.files = {};
  FakeHost::serve = Answer;
  int32_t position = 77;
  EXPECT_EQ(LD_GetFirstDevicePosition(&position), -1);
  EXPECT_EQ(position, 77);
  EXPECT_TRUE(FakeHost::long_sleeps.empty());
  EXPECT_EQ(FakeHost::polls, 0);
  EXPECT_EQ(system_.listings, 2);
  const std::string current = FakeSystem::CurrentDirectory(), beside = FakeSystem::ModuleDirectory();
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"Starting Vorn64BitInterface.exe",
                                                  "Starting Vorn64BitInterface.exe is neither in " +
                                                      beside.substr(0, beside.size() - 1) + " nor in " +
                                                      current.substr(0, current.size() - 1)}));
  system_.now += kLaunchRetryMs - 1;
  EXPECT_EQ(OneCall(), -1);
  EXPECT_EQ(system_.listings, 2);
  system_.now += 1;
  EXPECT_EQ(OneCall(), -1);
  EXPECT_EQ(system_.listings, 4);
  // The file is put in place: a call a second later starts the host.
  system_.files = {current + kHostProgram64};
  EXPECT_EQ(OneCall(), -1);
  system_.now += kLaunchRetryMs;
  EXPECT_EQ(OneCall(), 0);
  EXPECT_EQ(system_.started.size(), 1u);
  EXPECT_EQ(FakeHost::served.size(), 1u);
  EXPECT_EQ(FakeHost::long_sleeps, std::vector<uint32_t>{1000});
}

TEST_F(ProxyTest, AStartThatTheSystemRefusesIsLoggedWithItsText) {
  system_.processes = {};
  system_.create_error = ERROR_ACCESS_DENIED;
  EXPECT_EQ(OneCall(), -1);
  EXPECT_EQ(system_.started.size(), 1u);
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);  // the system's text ends in a line end of its own
  const std::string prefix =
      "Starting " + FakeSystem::CurrentDirectory() + "Vorn64BitInterface.exe could not be started: Error 5 - ";
  EXPECT_EQ(lines[1].rfind(prefix, 0), 0u) << lines[1];
  EXPECT_GT(lines[1].size(), prefix.size());
  EXPECT_EQ(system_.open_handles, 0);
}

TEST_F(ProxyTest, TheImagePathMustEndInTheNameByteForByte) {
  MP_kernel32_Start();
  struct Case {
    const char* path;
    int32_t expected;
  } cases[] = {
      {"D:\\old\\OldVorn64BitInterface.exe", 7},
      {"Vorn64BitInterface.exe", 7},
      {"C:\\vorn\\vorn64bitinterface.exe", 0},
      {"C:\\vorn\\Vorn64BitInterface.exe.bak", 0},
      {"4BitInterface.exe", 0},
      {"", 0},
  };
  for (const Case& c : cases) {
    system_.processes = {{7, c.path}};
    EXPECT_EQ(MP_check_process(kHostProgram64), c.expected) << c.path;
  }
  system_.processes = {{21, kFound}, {22, "C:\\x\\other.exe"}, {23, "E:\\Vorn64BitInterface.exe"}, {24, "C:\\y.exe"}};
  EXPECT_EQ(MP_check_process(kHostProgram64), 23) << "the last match wins";
  EXPECT_EQ(system_.open_handles, 0);
}

TEST_F(ProxyTest, OnlyTheFirst1024ListedProcessesAreExamined) {
  MP_kernel32_Start();
  system_.processes.clear();
  for (DWORD id = 1; id <= 1500; ++id) system_.processes.push_back({id * 4, "C:\\p.exe"});
  system_.processes[1023].path = kFound;
  EXPECT_EQ(MP_check_process(kHostProgram64), 1024 * 4);
  system_.processes[1023].path = "C:\\p.exe";
  system_.processes[1024].path = kFound;
  EXPECT_EQ(MP_check_process(kHostProgram64), 0);
}

TEST_F(ProxyTest, UnreadableProcessesAreSkippedAndOnlyUnexpectedErrorsLogged) {
  MP_kernel32_Start();
  system_.processes = {{0, kFound},
                       {30, kFound, /*open_fails=*/true},
                       {31, kFound, false, ERROR_GEN_FAILURE},
                       {32, kFound, false, ERROR_ACCESS_DENIED}};
  EXPECT_EQ(MP_check_process(kHostProgram64), 0);
  EXPECT_EQ(system_.queries, 2);
  EXPECT_EQ(system_.open_handles, 0);
  const std::vector<std::string> lines = LogLines();
  // The system's text brings its own line end, and the message one more:
  // two empty lines follow.
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("check_process failed: Error 5 - ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "");
  system_.enum_fails = true;
  EXPECT_EQ(MP_check_process(kHostProgram64), -1);
}

TEST_F(ProxyTest, AnUnlistableProcessListCountsAsARunningHost) {
  system_.enum_fails = true;
  FakeHost::serve = Answer;
  OneCall();
  EXPECT_TRUE(system_.started.empty());
  EXPECT_EQ(g_host.state, kHostUnwatched);
  // Killing then takes -1 for an id, which cannot be opened.
  EXPECT_EQ(MP_KillProc(kHostProgram64), 0);
  EXPECT_EQ(system_.opened_for_terminate, std::vector<DWORD>{0xFFFFFFFFu});
  EXPECT_EQ(LogLines(), std::vector<std::string>{"Kill_Process failed to open process to kill"});
}

TEST_F(ProxyTest, WithoutTheImageNameQueryNoProcessIsOpenedAndTheHostIsStarted) {
  system_.has_query = false;
  system_.error_after_query_lookup = ERROR_PROC_NOT_FOUND;
  system_.processes = {{40, kFound}};
  FakeHost::serve = Answer;
  OneCall();
  EXPECT_EQ(system_.queries, 0);
  EXPECT_EQ(system_.open_handles, 1);  // the started host's
  EXPECT_EQ(system_.started.size(), 1u);
  const std::vector<std::string> lines = LogLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("MP_Load_Start Error 127 - ", 0), 0u) << lines[0];
  EXPECT_EQ(lines.back(), "Starting Vorn64BitInterface.exe");
}

TEST_F(ProxyTest, AFailedLoadOfKernel32IsLoggedOnceAndNeverRetried) {
  system_.load_library_fails = true;
  MP_kernel32_Start();
  MP_kernel32_Start();
  EXPECT_EQ(system_.library_loads, 1);
  EXPECT_EQ(g_query_image_name, nullptr);
  EXPECT_EQ(LogLines(), std::vector<std::string>{"MP_Load_Start LoadLibrary Failed"});
  EXPECT_EQ(g_trace.depth, 0);
}

// An instance that appears between the launcher's scan and the start is
// terminated, and the start waits until it has gone, not a fixed second;
// where it may not be waited for, the whole second.
TEST_F(ProxyTest, AnInstanceThatAppearsBeforeTheStartIsTerminatedFirst) {
  system_.processes = {};
  system_.change_after_listings = 1;
  system_.changed_processes = {{50, kFound}};
  FakeHost::serve = Answer;
  OneCall();
  EXPECT_EQ(system_.opened_for_terminate, std::vector<DWORD>{50});
  EXPECT_EQ(system_.exit_codes, std::vector<UINT>{0});
  EXPECT_EQ(system_.started.size(), 1u);
  EXPECT_EQ(FakeHost::long_sleeps, std::vector<uint32_t>{1000});  // the launcher's, for the new host
  EXPECT_EQ(system_.open_handles, 1);                             // the started host's

  system_.terminate_not_waitable = true;
  MP_kernel32_Start();
  system_.processes.push_back({51, kFound});
  FakeHost::long_sleeps.clear();
  SystemHandle started(MP_StartProc(kHostProgram64, kHostArgument));
  EXPECT_NE(started.get(), nullptr);
  EXPECT_EQ(FakeHost::long_sleeps, std::vector<uint32_t>{kKilledWaitMs});
}

TEST_F(ProxyTest, AFailedTerminationIsLoggedAndTheStartGoesAheadAtOnce) {
  MP_kernel32_Start();
  system_.processes = {{60, kFound}};
  system_.terminate_fails = true;
  HANDLE started = MP_StartProc(kHostProgram64, kHostArgument);
  EXPECT_NE(started, nullptr);
  EXPECT_EQ(LogLines(), std::vector<std::string>{"Kill_Process TerminateProcess failed"});
  EXPECT_EQ(system_.started.size(), 1u);
  EXPECT_TRUE(FakeHost::long_sleeps.empty());
  EXPECT_EQ(system_.open_handles, 1);  // the new process, which the caller keeps
  system_.terminate_fails = false;
  EXPECT_EQ(MP_KillProc(kHostProgram64), 1);
  EXPECT_EQ(g_trace.depth, 0);
}
