#include "host_launcher.h"

#include <cstdio>
#include <cstring>

#include "channel.h"
#include "debug_log.h"
#include "module_path.h"
#include "sleep_seam.h"
#include "system_error.h"

int32_t g_host_started;
HostState g_host_state;
HANDLE g_host_process;

namespace {

DWORD g_last_check;    // tick of the last look at a watched host
bool g_start_failed;   // the last launch could not start a host ...
DWORD g_failed_at;     // ... at this tick

void ForgetHost() {
  if (g_host_process) g_system.close_handle(g_host_process);
  g_host_process = nullptr;
  g_host_state = kHostMissing;
}

// A running instance with this id: watched when its process can be opened
// for waiting. False when it has ended already (a host that has just gone
// can still be listed).
bool TakeRunningHost(int32_t id) {
  HANDLE process = id > 0 ? g_system.open_process(SYNCHRONIZE, FALSE, static_cast<DWORD>(id)) : nullptr;
  if (!process) {
    g_host_state = kHostUnwatched;
    return true;
  }
  if (g_system.wait_for_object(process, 0) == WAIT_OBJECT_0) {
    g_system.close_handle(process);
    return false;
  }
  g_host_process = process;
  g_host_state = kHostWatched;
  return true;
}

// Finds a running host or starts one. Waits kLauncherWaitMs when one was
// found or started; a start that failed returns at once, since there is
// nothing to wait for.
bool LaunchHost() {
  ForgetHost();
  const char* program = MP_IsWow64() ? kHostProgram64 : kHostProgram32;
  // A process id, or -1 when the list could not be read, counts as running.
  const int32_t id = MP_check_process(program);
  if (id == 0 || !TakeRunningHost(id)) {
    LogWrite("Starting", program);
    g_host_process = MP_StartProc(program, kHostArgument);
    if (!g_host_process) {
      g_start_failed = true;
      g_failed_at = g_system.tick_count();
      return false;
    }
    g_host_state = kHostWatched;
  }
  g_start_failed = false;
  VornSleep(kLauncherWaitMs);
  g_last_check = g_system.tick_count();
  return true;
}

}  // namespace

void StartHostOnce() {
  if (g_host_started) return;
  g_host_started = 1;
  CommsStart(kChannelSlot, 1, kSectionName, kSectionSize);
  MP_kernel32_Start();
  LaunchHost();
}

bool HostEnded() {
  if (g_host_state != kHostWatched || g_system.wait_for_object(g_host_process, 0) != WAIT_OBJECT_0) return false;
  LogWrite("Starting", "the host program has ended");
  ForgetHost();
  return true;
}

bool RelaunchHost() {
  if (g_start_failed && g_system.tick_count() - g_failed_at < kLaunchRetryMs) return false;
  return LaunchHost();
}

HostReadiness PrepareHost() {
  if (g_host_state == kHostWatched) {
    const DWORD now = g_system.tick_count();
    if (now - g_last_check < kHostCheckMs) return kHostReady;
    g_last_check = now;
    HostEnded();
  }
  if (g_host_state != kHostMissing) return kHostReady;
  return RelaunchHost() ? kHostRestarted : kHostNone;
}

void NoteTimeOut() {
  if (g_host_state == kHostUnwatched) g_host_state = kHostMissing;
}

int32_t MP_IsWow64() {
  HMODULE kernel = g_system.get_module_handle("kernel32");
  if (!kernel) return 0;
  auto is_wow64 = FunctionCast<IsWow64ProcessFn>(g_system.get_proc_address(kernel, "IsWow64Process"));
  if (!is_wow64) return 0;
  BOOL wow64 = FALSE;
  is_wow64(g_system.get_current_process(), &wow64);
  return wow64;
}

namespace {

// `directory` + "\" + `program` into `path`, when that file exists.
bool ProgramIn(const char* directory, const char* program, char* path, size_t size) {
  const size_t n = strlen(directory);
  if (n == 0) return false;
  const char* separator = directory[n - 1] == '\\' ? "" : "\\";
  const int written = snprintf(path, size, "%s%s%s", directory, separator, program);
  return written > 0 && static_cast<size_t>(written) < size && g_system.file_exists(path);
}

}  // namespace

HANDLE MP_StartProc(const char* program, const char* argument) {
  MP_kernel32_Start();
  if (MP_KillProc(program) == 1) VornSleep(kLauncherWaitMs);
  char current[MAX_PATH] = {};
  const DWORD n = GetCurrentDirectoryA(sizeof current, current);
  if (n == 0 || n >= sizeof current) current[0] = '\0';
  char beside[MAX_PATH];
  ThisModulePath(beside, sizeof beside);
  if (char* last = strrchr(beside, '\\')) *last = '\0';
  char path[MAX_PATH];
  const char* directory = current;
  if (!ProgramIn(current, program, path, sizeof path)) {
    directory = beside;
    if (!ProgramIn(beside, program, path, sizeof path)) {
      LogWritef("Starting", "%s is neither in %s nor in %s", program, current, beside);
      return nullptr;
    }
  }
  HANDLE process = nullptr;
  // No console, and none of the caller's handles: the display host's open
  // files must not stay open for the host program's whole life.
  const DWORD error = g_system.create_process(path, argument, FALSE, DETACHED_PROCESS, directory, &process);
  if (error != 0) {
    char message[320];
    FormatSystemError(message, sizeof message, error, "Error %d - %s");
    LogWritef("Starting", "%s could not be started: %s", path, message);
    return nullptr;
  }
  return process;
}
