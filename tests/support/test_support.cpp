#include "test_support.h"

// After windows.h, which test_support.h brings.
#include <sddl.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace vt {

namespace {

void RemoveTree(const std::string& dir) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      std::string full = dir + "\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(full);
      } else {
        SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(full.c_str());
      }
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
  RemoveDirectoryA(dir.c_str());
}

}  // namespace

ScopedTempDir::ScopedTempDir() {
  char current[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, current);
  previous_ = current;
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  path_ = std::string(temp) + UniqueName("vorn");
  CreateDirectoryA(path_.c_str(), nullptr);
  SetCurrentDirectoryA(path_.c_str());
}

ScopedTempDir::~ScopedTempDir() {
  SetCurrentDirectoryA(previous_.c_str());
  RemoveTree(path_);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (end < text.size() && !line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> FileLines(const std::string& path) { return Lines(ReadFileBytes(path)); }

std::string ProgramDirectory() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s = path;
  return s.substr(0, s.find_last_of('\\') + 1);
}

std::string WindowsDirectory(const std::string& unix_path) {
  std::string win = "Z:";
  for (char c : unix_path) win += (c == '/') ? '\\' : c;
  if (win.back() != '\\') win += '\\';
  return win;
}

std::string Win64BinDirectory() {
#ifdef VORN_WIN64_BIN
  return WindowsDirectory(VORN_WIN64_BIN);
#else
  return "";
#endif
}

std::string UniqueName(const char* stem) {
  static unsigned counter = 0;
  char name[128];
  snprintf(name, sizeof name, "%s_%lu_%lu_%u", stem, GetCurrentProcessId(), GetTickCount(), ++counter);
  return name;
}

namespace {

// One CreateProcessA for both ways of starting a child.
ChildProcess Launch(const std::string& command_line, const std::string& directory, STARTUPINFOA& si,
                    BOOL inherit_handles, SECURITY_ATTRIBUTES* process_security = nullptr, DWORD flags = 0,
                    HANDLE* thread = nullptr) {
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::string cmd = command_line;
  ChildProcess child;
  if (CreateProcessA(nullptr, &cmd[0], process_security, nullptr, inherit_handles, flags, nullptr,
                     directory.empty() ? nullptr : directory.c_str(), &si, &pi)) {
    if (thread)
      *thread = pi.hThread;
    else
      CloseHandle(pi.hThread);
    child.process = pi.hProcess;
    child.pid = pi.dwProcessId;
  }
  return child;
}

}  // namespace

ChildProcess StartChild(const std::string& command_line, const std::string& directory) {
  STARTUPINFOA si = {};
  return Launch(command_line, directory, si, FALSE);
}

ChildProcess StartChildSuspended(const std::string& command_line, HANDLE* thread) {
  STARTUPINFOA si = {};
  return Launch(command_line, "", si, FALSE, nullptr, CREATE_SUSPENDED, thread);
}

ChildProcess StartGuardedChild(const std::string& command_line, const std::string& directory, const char* sddl) {
  SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &security.lpSecurityDescriptor,
                                                            nullptr))
    return ChildProcess{};
  STARTUPINFOA si = {};
  ChildProcess child = Launch(command_line, directory, si, FALSE, &security);
  LocalFree(security.lpSecurityDescriptor);
  return child;
}

ScopedChild::~ScopedChild() {
  if (!child.process) return;
  TerminateProcess(child.process, 1);
  WaitChild(child, 5000);
}

bool ScopedChild::Runs() const { return child.process && WaitForSingleObject(child.process, 0) == WAIT_TIMEOUT; }

void KeepStandardHandlesPrivate() {
  for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    HANDLE h = GetStdHandle(which);
    if (h && h != INVALID_HANDLE_VALUE) SetHandleInformation(h, HANDLE_FLAG_INHERIT, 0);
  }
}

ChildProcess StartChildWithOutputFile(const std::string& command_line, const std::string& directory,
                                      const std::string& output_path) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE out = CreateFileA(output_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return ChildProcess{};
  KeepStandardHandlesPrivate();
  STARTUPINFOA si = {};
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = out;
  si.hStdError = out;
  ChildProcess child = Launch(command_line, directory, si, TRUE);
  CloseHandle(out);  // the child holds its own copy
  return child;
}

int WaitChild(ChildProcess& child, DWORD timeout_ms) {
  if (!child.process) return -1;
  int code = -1;
  if (WaitForSingleObject(child.process, timeout_ms) == WAIT_OBJECT_0) {
    DWORD exit_code = 0;
    GetExitCodeProcess(child.process, &exit_code);
    code = static_cast<int>(exit_code);
  } else {
    TerminateProcess(child.process, 1);
    WaitForSingleObject(child.process, 5000);
  }
  CloseHandle(child.process);
  child.process = nullptr;
  return code;
}

ChildRun RunChild(const std::string& command_line, const std::string& directory, const std::string& output_path,
                  DWORD timeout_ms, const std::function<void()>& during) {
  ChildRun run;
  const DWORD start = GetTickCount();
  ChildProcess child = StartChildWithOutputFile(command_line, directory, output_path);
  if (child.process) {
    if (during) {
      while (WaitForSingleObject(child.process, 10) == WAIT_TIMEOUT && GetTickCount() - start < timeout_ms) during();
    }
    run.exit_code = WaitChild(child, during ? 0 : timeout_ms);
  }
  run.elapsed_ms = GetTickCount() - start;
  run.output = ReadFileBytes(output_path);
  return run;
}

uint64_t SleepLog::calls = 0;
uint64_t SleepLog::total_ms = 0;
void SleepLog::Record(uint32_t ms) {
  ++calls;
  total_ms += ms;
}
void SleepLog::Reset() { calls = total_ms = 0; }

}  // namespace vt
