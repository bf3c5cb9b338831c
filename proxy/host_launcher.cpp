#include "host_launcher.h"

#include "channel.h"
#include "debug_log.h"
#include "wait_seam.h"

int32_t g_host_started;
HostState g_host_state;
HANDLE g_host_process;

namespace {

DWORD g_last_check;   // tick of the last look at a watched host
bool g_start_failed;  // the last launch could not start a host ...
DWORD g_failed_at;    // ... at this tick

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
  CommsStart(kRequestSlot, kMapAllAccess, kSectionName, kSectionSize);
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
