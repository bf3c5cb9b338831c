#include "fake_system.h"

#include <cstdio>
#include <cstring>

#include "test_support.h"
#include "trace_stack.h"
#include "wait_seam.h"

FakeSystem* FakeSystem::current = nullptr;

namespace {

// Fake handles are small odd numbers: their process is processes[(h-1)/2];
// for a wait on its end, processes[(h-kWaitHandles-1)/2]; to terminate it,
// processes[(h-kTerminateHandles-1)/2].
constexpr uintptr_t kWaitHandles = 0x10000;
constexpr uintptr_t kTerminateHandles = 0x20000;
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

HANDLE WaitHandleFor(size_t index) { return reinterpret_cast<HANDLE>(kWaitHandles + index * 2 + 1); }

HANDLE FakeOpenProcess(DWORD access, BOOL inherit, DWORD id) {
  FakeSystem& f = F();
  if (inherit) return nullptr;
  if (access == SYNCHRONIZE) {
    f.opened_for_waiting.push_back(id);
    for (size_t i = 0; i < f.processes.size(); ++i)
      if (f.processes[i].id == id && !f.processes[i].open_fails) return ++f.open_handles, WaitHandleFor(i);
    return nullptr;
  }
  if (access == PROCESS_TERMINATE || access == (PROCESS_TERMINATE | SYNCHRONIZE)) {
    // Asked for with waiting first, then without: recorded once.
    const bool waitable = (access & SYNCHRONIZE) != 0;
    if (waitable && f.terminate_not_waitable) return nullptr;
    for (size_t i = 0; i < f.processes.size(); ++i) {
      if (f.processes[i].id == id && !f.processes[i].open_fails) {
        f.opened_for_terminate.push_back(id);
        return ++f.open_handles, reinterpret_cast<HANDLE>(kTerminateHandles + i * 2 + 1);
      }
    }
    if (!waitable) f.opened_for_terminate.push_back(id);
    return nullptr;
  }
  if (access != (PROCESS_QUERY_INFORMATION | PROCESS_VM_READ)) return nullptr;
  for (size_t i = 0; i < f.processes.size(); ++i)
    if (f.processes[i].id == id && !f.processes[i].open_fails) return ++f.open_handles, HandleFor(i);
  return nullptr;
}

BOOL FakeTerminate(HANDLE process, UINT exit_code) {
  FakeSystem& f = F();
  f.exit_codes.push_back(exit_code);
  const uintptr_t h = reinterpret_cast<uintptr_t>(process);
  const size_t index = (h - kTerminateHandles - 1) / 2;
  if (h <= kTerminateHandles || index >= f.processes.size() || f.terminate_fails) return FALSE;
  // Gone: a wait on it returns, and it is no longer listed under its name.
  f.processes[index].ended = true;
  f.processes[index].path = "C:\\gone";
  return TRUE;
}

BOOL FakeCloseHandle(HANDLE) {
  --F().open_handles;
  return TRUE;
}

DWORD FakeWaitForObject(HANDLE handle, DWORD) {
  FakeSystem& f = F();
  ++f.waits;
  FakeProcess* p = f.ProcessOf(handle);
  return p && p->ended ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

// Ends at once when the event is set or the fake process has ended;
// otherwise the time passes as the test's sleep lets it.
DWORD FakeWaitForEither(HANDLE event, HANDLE process, DWORD milliseconds) {
  const auto ended = [&] {
    const FakeProcess* p = F().ProcessOf(process);
    return (p && p->ended) || (event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0);
  };
  if (ended()) return WAIT_OBJECT_0;
  VornSleep(milliseconds);
  return ended() ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

DWORD FakeTickCount() { return F().now; }

bool FakeFileExists(const char* path) {
  for (const std::string& file : F().files)
    if (file == path) return true;
  return false;
}

DWORD FakeCreateProcess(const char* path, const char* command_line, BOOL inherit, DWORD flags, const char* directory,
                        HANDLE* process) {
  FakeSystem& f = F();
  char text[32];
  snprintf(text, sizeof text, "|%d|0x%lx", inherit, flags);
  f.started.push_back(std::string(path) + "|" + command_line + "|" + directory + text);
  if (f.create_error) return f.create_error;
  f.processes.push_back({static_cast<DWORD>(9000 + f.started.size()), path});
  f.processes.back().ended = f.started_end_at_once;
  ++f.open_handles;
  *process = WaitHandleFor(f.processes.size() - 1);
  return 0;
}

DWORD FakeProcessId(HANDLE process) {
  const FakeProcess* p = F().ProcessOf(process);
  return p ? p->id : 0;
}

}  // namespace

FakeProcess* FakeSystem::ProcessOf(HANDLE handle) {
  const uintptr_t h = reinterpret_cast<uintptr_t>(handle);
  if (h <= kWaitHandles) return nullptr;
  const size_t index = (h - (h > kTerminateHandles ? kTerminateHandles : kWaitHandles) - 1) / 2;
  return index < processes.size() ? &processes[index] : nullptr;
}

std::string FakeSystem::CurrentDirectory() {
  char path[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, path);
  return std::string(path) + "\\";
}

std::string FakeSystem::ModuleDirectory() { return vt::ProgramDirectory(); }

void FakeSystem::Install() {
  current = this;
  if (files.empty())
    files = {CurrentDirectory() + "Vorn64BitInterface.exe", CurrentDirectory() + "Vorn32BitInterface.exe"};
  g_system = SystemCalls{FakeGetModuleHandle, FakeGetProcAddress, FakeLoadLibrary,   FakeCurrentProcess,
                         FakeGetLastError,    FakeSetLastError,   FakeEnumProcesses, FakeOpenProcess,
                         FakeTerminate,       FakeCloseHandle,    FakeWaitForObject, FakeWaitForEither,
                         FakeTickCount,       FakeFileExists,     FakeCreateProcess, FakeProcessId};
}

void FakeSystem::Uninstall() {
  g_system = kRealSystemCalls;
  current = nullptr;
}
