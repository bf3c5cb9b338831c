// The check tool waits for Enter only when it is alone on its console, as
// after a double-click; run by a command prompt or a program, it ends at
// once. Run as its test build, whose console-process count is a seam.
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

constexpr char kPrompt[] = "Press Enter to close this window.";

class ConsoleWait : public ::testing::Test {
 protected:
  void SetUp() override {
    tool_ = dir_.path() + "\\vorn-check.exe";
    output_ = dir_.path() + "\\check.txt";
    ASSERT_TRUE(CopyFileA((vt::ProgramDirectory() + "vorn_check_console_seam.exe").c_str(), tool_.c_str(), FALSE));
  }
  void TearDown() override {
    if (input_) CloseHandle(input_);
    SetEnvironmentVariableA("VORN_TEST_CONSOLE_PROCESSES", nullptr);
    if (child_.process) vt::WaitChild(child_, 0);
  }
  // Starts the tool in an empty folder (every link fails at once), its
  // input a pipe that this test writes to, its output a file.
  void Start(const char* console_processes) {
    SetEnvironmentVariableA("VORN_TEST_CONSOLE_PROCESSES", console_processes);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr;
    ASSERT_TRUE(CreatePipe(&read_end, &input_, &inherit, 0));
    SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
    HANDLE out = CreateFileA(output_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    vt::KeepStandardHandlesPrivate();
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = read_end;
    si.hStdOutput = si.hStdError = out;
    PROCESS_INFORMATION pi = {};
    std::string command = "\"" + tool_ + "\"";
    ASSERT_TRUE(
        CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, dir_.path().c_str(), &si, &pi));
    CloseHandle(pi.hThread);
    CloseHandle(read_end);
    CloseHandle(out);
    child_.process = pi.hProcess;
    child_.pid = pi.dwProcessId;
  }
  std::string Output() const { return vt::ReadFileBytes(output_); }
  // Waits until the tool has written its whole report; false after 20 s.
  bool ReportWritten() const {
    for (int i = 0; i < 2000; ++i) {
      if (Output().find("broken; the lines above say what to do.") != std::string::npos) return true;
      Sleep(10);
    }
    return false;
  }

  vt::ScopedTempDir dir_;
  std::string tool_, output_;
  HANDLE input_ = nullptr;
  vt::ChildProcess child_;
};

}  // namespace

TEST_F(ConsoleWait, AloneOnItsConsoleItWaitsForEnter) {
  Start("1");
  ASSERT_TRUE(ReportWritten()) << Output();
  EXPECT_EQ(WaitForSingleObject(child_.process, 1500), static_cast<DWORD>(WAIT_TIMEOUT)) << "ended without a wait";
  EXPECT_NE(Output().find(std::string("\n") + kPrompt), std::string::npos) << Output();
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(input_, "\r\n", 2, &written, nullptr));
  EXPECT_EQ(vt::WaitChild(child_, 10000), 1) << Output();  // a link is broken: its status is kept
}

TEST_F(ConsoleWait, SharingItsConsoleOrWithoutOneItEndsAtOnce) {
  for (const char* count : {"2", "0"}) {
    SCOPED_TRACE(count);
    Start(count);
    EXPECT_EQ(vt::WaitChild(child_, 20000), 1) << Output();
    EXPECT_EQ(Output().find(kPrompt), std::string::npos) << Output();
    CloseHandle(input_);
    input_ = nullptr;
  }
}
