#include "child_run.h"

#include "test_support.h"

ChildRun RunWithOutputFile(const std::string& command_line, const std::string& directory,
                           const std::string& output_path, DWORD timeout_ms) {
  ChildRun run;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE out = CreateFileA(output_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return run;
  // Our own standard handles (the test runner's pipe) must not reach the child.
  for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    HANDLE h = GetStdHandle(which);
    if (h && h != INVALID_HANDLE_VALUE) SetHandleInformation(h, HANDLE_FLAG_INHERIT, 0);
  }
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = nullptr;
  si.hStdOutput = out;
  si.hStdError = out;
  PROCESS_INFORMATION pi = {};
  std::string cmd = command_line;
  const DWORD start = GetTickCount();
  if (CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, directory.c_str(), &si, &pi)) {
    CloseHandle(pi.hThread);
    vt::ChildProcess child{pi.hProcess, pi.dwProcessId};
    run.exit_code = vt::WaitChild(child, timeout_ms);
  }
  run.elapsed_ms = GetTickCount() - start;
  CloseHandle(out);
  run.output = vt::ReadFileBytes(output_path);
  return run;
}
