#include "system_calls.h"

#include <psapi.h>

#include <cstdio>

#include "wait_seam.h"

namespace {

HMODULE RealGetModuleHandle(const char* name) { return GetModuleHandleA(name); }
FARPROC RealGetProcAddress(HMODULE module, const char* name) { return GetProcAddress(module, name); }
HMODULE RealLoadLibrary(const char* name) { return LoadLibraryA(name); }
HANDLE RealGetCurrentProcess() { return GetCurrentProcess(); }
DWORD RealGetLastError() { return GetLastError(); }
void RealSetLastError(DWORD code) { SetLastError(code); }
BOOL RealEnumProcesses(DWORD* ids, DWORD bytes, DWORD* bytes_returned) {
  return EnumProcesses(ids, bytes, bytes_returned);
}
HANDLE RealOpenProcess(DWORD access, BOOL inherit, DWORD process_id) {
  return OpenProcess(access, inherit, process_id);
}
BOOL RealTerminateProcess(HANDLE process, UINT exit_code) { return TerminateProcess(process, exit_code); }
BOOL RealCloseHandle(HANDLE handle) { return CloseHandle(handle); }
DWORD RealWaitForObject(HANDLE handle, DWORD milliseconds) { return WaitForSingleObject(handle, milliseconds); }
DWORD RealWaitForEither(HANDLE event, HANDLE process, DWORD milliseconds) {
  return VornWaitEither(event, process, milliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}
DWORD RealTickCount() { return GetTickCount(); }
bool RealFileExists(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}
DWORD RealCreateProcess(const char* path, const char* command_line, BOOL inherit_handles, DWORD flags,
                        const char* directory, HANDLE* process) {
  // CreateProcessA may write into it. A fixed buffer, not a string: the
  // library then links no part of the C++ runtime that keeps handles (the
  // thread library's) after it is freed.
  char writable[1024];
  const int n = snprintf(writable, sizeof writable, "%s", command_line);
  if (n < 0 || static_cast<size_t>(n) >= sizeof writable) return ERROR_INVALID_PARAMETER;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  if (!CreateProcessA(path, writable, nullptr, nullptr, inherit_handles, flags, nullptr, directory, &startup, &started))
    return GetLastError();
  CloseHandle(started.hThread);
  *process = started.hProcess;
  return 0;
}

DWORD RealProcessId(HANDLE process) { return GetProcessId(process); }

}  // namespace

const SystemCalls kRealSystemCalls = {
    RealGetModuleHandle,  RealGetProcAddress, RealLoadLibrary,   RealGetCurrentProcess,
    RealGetLastError,     RealSetLastError,   RealEnumProcesses, RealOpenProcess,
    RealTerminateProcess, RealCloseHandle,    RealWaitForObject, RealWaitForEither,
    RealTickCount,        RealFileExists,     RealCreateProcess, RealProcessId,
};

SystemCalls g_system = kRealSystemCalls;
