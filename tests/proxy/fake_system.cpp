#include "fake_system.h"

#include <cstring>

#include "trace_stack.h"

FakeSystem* FakeSystem::current = nullptr;

namespace {

// Fake handles are small odd numbers: their process is processes[(h-1)/2],
// or the process to terminate when the handle is kTerminateHandle.
const HANDLE kTerminateHandle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FF1));
DWORD g_last_error;

FakeSystem& F() { return *FakeSystem::current; }

HANDLE HandleFor(size_t index) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(index * 2 + 1)); }

BOOL WINAPI FakeIsWow64(HANDLE, PBOOL wow64) {
  *wow64 = F().wow64;
  return TRUE;
}

BOOL WINAPI FakeQuery(HANDLE process, DWORD, LPSTR path, PDWORD size) {
  ++F().queries;
  const FakeProcess& p = F().processes[(reinterpret_cast<uintptr_t>(process) - 1) / 2];
  if (p.query_error) {
    g_last_error = p.query_error;
    return FALSE;
  }
  if (p.path.size() + 1 > *size) return FALSE;
  memcpy(path, p.path.c_str(), p.path.size() + 1);
  *size = static_cast<DWORD>(p.path.size());
  return TRUE;
}

HMODULE FakeGetModuleHandle(const char*) { return reinterpret_cast<HMODULE>(0x10000); }

FARPROC FakeGetProcAddress(HMODULE, const char* name) {
  if (strcmp(name, "IsWow64Process") == 0 && F().has_is_wow64) return FunctionCast<FARPROC>(FakeIsWow64);
  if (strcmp(name, "QueryFullProcessImageNameA") == 0) {
    g_last_error = F().error_after_query_lookup;
    if (F().has_query) return FunctionCast<FARPROC>(FakeQuery);
  }
  return nullptr;
}

HMODULE FakeLoadLibrary(const char* name) {
  ++F().library_loads;
  if (F().load_library_fails || strcmp(name, "Kernel32.dll") != 0) return nullptr;
  return reinterpret_cast<HMODULE>(0x20000);
}

HANDLE FakeCurrentProcess() { return reinterpret_cast<HANDLE>(-1); }
DWORD FakeGetLastError() { return g_last_error; }
void FakeSetLastError(DWORD code) { g_last_error = code; }

BOOL FakeEnumProcesses(DWORD* ids, DWORD bytes, DWORD* returned) {
  FakeSystem& f = F();
  std::string frames;
  for (int i = 0; i < g_trace.depth; ++i) frames += (i ? "/" : "") + std::string(g_trace.frames[i]);
  f.trace_at_listing.push_back(frames);
  if (f.listings++ == f.change_after_listings) f.processes = f.changed_processes;
  if (f.enum_fails) return FALSE;
  DWORD n = 0;
  for (; n < f.processes.size() && (n + 1) * sizeof(DWORD) <= bytes; ++n) ids[n] = f.processes[n].id;
  *returned = n * sizeof(DWORD);
  return TRUE;
}

HANDLE FakeOpenProcess(DWORD access, BOOL inherit, DWORD id) {
  FakeSystem& f = F();
  if (inherit) return nullptr;
  if (access == PROCESS_TERMINATE) {
    f.opened_for_terminate.push_back(id);
    for (const FakeProcess& p : f.processes)
      if (p.id == id && !p.open_fails) return ++f.open_handles, kTerminateHandle;
    return nullptr;
  }
  if (access != (PROCESS_QUERY_INFORMATION | PROCESS_VM_READ)) return nullptr;
  for (size_t i = 0; i < f.processes.size(); ++i)
    if (f.processes[i].id == id && !f.processes[i].open_fails) return ++f.open_handles, HandleFor(i);
  return nullptr;
}

BOOL FakeTerminate(HANDLE process, UINT exit_code) {
  F().exit_codes.push_back(exit_code);
  return process == kTerminateHandle && !F().terminate_fails;
}

BOOL FakeCloseHandle(HANDLE) {
  --F().open_handles;
  return TRUE;
}

intptr_t FakeSpawn(const char* program, const char* argument) {
  F().spawned.push_back(std::string(program) + "|" + argument);
  return F().spawn_result;
}

}  // namespace

void FakeSystem::Install() {
  current = this;
  g_system = SystemCalls{FakeGetModuleHandle, FakeGetProcAddress, FakeLoadLibrary,   FakeCurrentProcess,
                         FakeGetLastError,    FakeSetLastError,   FakeEnumProcesses, FakeOpenProcess,
                         FakeTerminate,       FakeCloseHandle,    FakeSpawn};
}

void FakeSystem::Uninstall() {
  g_system = kRealSystemCalls;
  current = nullptr;
}
