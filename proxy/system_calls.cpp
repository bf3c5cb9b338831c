#include "system_calls.h"

#include <process.h>
#include <psapi.h>

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
intptr_t RealSpawnDetached(const char* program, const char* argument) {
  return _spawnl(_P_DETACH, program, argument, static_cast<const char*>(nullptr));
}

}  // namespace

const SystemCalls kRealSystemCalls = {
    RealGetModuleHandle, RealGetProcAddress, RealLoadLibrary,      RealGetCurrentProcess,
    RealGetLastError,    RealSetLastError,   RealEnumProcesses,    RealOpenProcess,
    RealTerminateProcess, RealCloseHandle,   RealSpawnDetached,
};

SystemCalls g_system = kRealSystemCalls;
