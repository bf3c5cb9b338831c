#include "host_launcher.h"

#include <utility>

#include "caller_turn.h"
#include "channel.h"
#include "debug_log.h"
#include "host_program_names.h"
#include "named_mutex.h"
#include "unique_handle.h"
#include "wait_seam.h"

HostWatch g_host;

namespace {

void ForgetHost() {
  g_host.process.reset();
  g_host.state = kHostMissing;
}

// Held around the look for a running host and the start of a new one, so
// that callers in several processes that start together start one host,
// and no launcher ends the host that another has just started. A launcher
// waits for it at most kLauncherTurnWaitMs, and no longer than its call's
// deadline, then goes ahead without it.
class LauncherTurn {
 public:
  explicit LauncherTurn(const Deadline& deadline) {
    if (!g_host.launcher_mutex_tried) {
      g_host.launcher_mutex_tried = true;
      char name[MAX_PATH];
      if (CommsObjectName(kRequestSlot, kLauncherMutexSuffix, name, sizeof name) && !g_host.launcher_mutex.Open(name))
        LogWritef("Starting", "Could not open mutex %s error:%d", name, static_cast<int>(GetLastError()));
    }
    owned_ = g_host.launcher_mutex && g_host.launcher_mutex.Acquire(deadline.LeftMs(kLauncherTurnWaitMs));
  }
  ~LauncherTurn() {
    if (owned_) g_host.launcher_mutex.Release();
  }

 private:
  bool owned_ = false;
};

// A running instance with this id: watched when its process can be opened
// for waiting. False when it has ended already (a host that has just gone
// can still be listed).
bool TakeRunningHost(int32_t id) {
  SystemHandle process(id > 0 ? g_system.open_process(SYNCHRONIZE, FALSE, static_cast<DWORD>(id)) : nullptr);
  g_host.id = id > 0 ? static_cast<DWORD>(id) : 0;
  if (!process) {
    g_host.state = kHostUnwatched;
    return true;
  }
  if (g_system.wait_for_object(process.get(), 0) == WAIT_OBJECT_0) return false;
  g_host.process = std::move(process);
  g_host.state = kHostWatched;
  return true;
}

// The host that let a call time out, unless it has ended since (another
// caller may have replaced it already): it is ended, as MP_KillProc ends a
// host, and waited for.
void EndStuckHost(const char* program, const Deadline& deadline) {
  if (g_host.state == kHostWatched) {
    if (g_system.wait_for_object(g_host.process.get(), 0) == WAIT_OBJECT_0) return;
  } else if (g_host.state != kHostUnwatched || g_host.id == 0 ||
             MP_check_process(program) != static_cast<int32_t>(g_host.id)) {
    return;
  }
  LogWritef("Starting", "the host program (process %lu) did not answer; it is ended", g_host.id);
  if (!g_host.process) {
    EndProcessById(static_cast<int32_t>(g_host.id), deadline.LeftMs(kKilledHostWaitMs));
  } else if (EndProcessById(static_cast<int32_t>(g_host.id))) {
    g_system.wait_for_object(g_host.process.get(), deadline.LeftMs(kKilledHostWaitMs));
  }
}

// The wait after a host was found or started: until it says that it is
// ready (host_program_names.h) or has ended, and at most kLauncherWaitMs,
// so that a host that never says so still gets the whole wait. False when
// the host ended before it was ready.
bool AwaitHostReady(const Deadline& deadline) {
  const uint32_t ms = deadline.LeftMs(kLauncherWaitMs);
  char name[MAX_PATH];
  ScopedHandle ready;
  if (g_host.id != 0 && HostReadyEventName(ProxySectionName(), g_host.id, name, sizeof name))
    ready.reset(CreateEventA(nullptr, TRUE, FALSE, name));
  HANDLE process = g_host.state == kHostWatched ? g_host.process.get() : nullptr;
  g_system.wait_for_either(ready.get(), process, ms);
  if (ready && WaitForSingleObject(ready.get(), 0) == WAIT_OBJECT_0) return true;
  if (!process || g_system.wait_for_object(process, 0) != WAIT_OBJECT_0) return true;
  LogWrite("Starting", "the host program ended before it was ready");
  ForgetHost();
  return false;
}

// Whether a host serves the section: it holds the one host's mutex. Asked
// when a started host ended before it was ready, which it does when it
// finds that mutex held (by a host that the process list did not show,
// past its first 1024 entries). Under the launcher's turn, so that no host
// that another launcher starts meanwhile finds the mutex held by this look.
bool AnotherHostServes(const Deadline& deadline) {
  char name[MAX_PATH];
  if (!CommsObjectName(kRequestSlot, kHostMutexSuffix, name, sizeof name)) return false;
  LauncherTurn turn(deadline);
  ScopedHandle mutex(OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name));
  if (!mutex) return false;  // no host has it open
  const DWORD got = WaitForSingleObject(mutex.get(), 0);
  if (got == WAIT_TIMEOUT) return true;
  // Free, or left by a host that ended holding it.
  if (got == WAIT_OBJECT_0 || got == WAIT_ABANDONED) ReleaseMutex(mutex.get());
  return false;
}

enum class Launch { kFound, kStarted, kNone, kTooLate };

// Under the launcher's turn: ends a stuck host when `replace_stuck`, then
// finds a running host or starts one. Nothing is started once the deadline
// has passed.
Launch FindOrStartHost(const char* program, bool replace_stuck, const Deadline& deadline) {
  LauncherTurn turn(deadline);
  // A stuck host stays marked as such until a launcher gets this far.
  if (deadline.Passed()) return Launch::kTooLate;
  if (replace_stuck) {
    EndStuckHost(program, deadline);
    g_host.stuck = false;
  }
  ForgetHost();
  g_host.id = 0;
  // A process id, or -1 when the list could not be read, counts as running.
  const int32_t id = MP_check_process(program);
  if (id != 0 && TakeRunningHost(id)) return Launch::kFound;
  LogWrite("Starting", program);
  g_host.process.reset(MP_StartProc(program, kHostArgument, deadline));
  if (!g_host.process) return Launch::kNone;
  g_host.id = g_system.process_id(g_host.process.get());
  g_host.state = kHostWatched;
  return Launch::kStarted;
}

// Finds a running host or starts one (after ending a stuck one, when
// `replace_stuck`), and waits for it to be ready (AwaitHostReady). A start
// that failed, or a started host that ended before it was ready, returns
// at once, since there is nothing to wait for; but a host that was found
// running and ended before it said it was ready was at its idle exit, not
// a failed start: a new one is started for this call. A started host that
// ended because another serves the section leaves the calls to that one.
bool LaunchHost(bool replace_stuck, const Deadline& deadline) {
  const char* program = MP_IsWow64() ? kHostProgram64 : kHostProgram32;
  Launch launch = FindOrStartHost(program, replace_stuck, deadline);
  bool ready = (launch == Launch::kFound || launch == Launch::kStarted) && AwaitHostReady(deadline);
  if (!ready && launch == Launch::kFound) {
    launch = FindOrStartHost(program, false, deadline);
    ready = (launch == Launch::kFound || launch == Launch::kStarted) && AwaitHostReady(deadline);
  }
  if (launch == Launch::kTooLate) return false;
  if (!ready && launch == Launch::kStarted && AnotherHostServes(deadline)) {
    LogWrite("Starting", "another host program serves the section");
    g_host.state = kHostUnwatched;
    g_host.id = 0;
    ready = true;
  }
  g_host.start_failed = !ready;
  g_host.failed_at = g_system.tick_count();
  g_host.last_check = g_host.failed_at;
  return ready;
}

}  // namespace

void StartHostOnce(const Deadline& deadline) {
  if (g_host.started) return;
  g_host.started = 1;
  CommsStart(kRequestSlot, kMapAllAccess, ProxySectionName(), kSectionSize);
  MP_kernel32_Start();
  LaunchHost(false, deadline);
}

bool HostEnded() {
  if (g_host.state != kHostWatched || g_system.wait_for_object(g_host.process.get(), 0) != WAIT_OBJECT_0) return false;
  LogWrite("Starting", "the host program has ended");
  ForgetHost();
  return true;
}

bool RelaunchHost(const Deadline& deadline) {
  if (g_host.start_failed && g_system.tick_count() - g_host.failed_at < kLaunchRetryMs) return false;
  return LaunchHost(false, deadline);
}

HostReadiness PrepareHost(const Deadline& deadline) {
  if (g_host.stuck) return LaunchHost(true, deadline) ? kHostRestarted : kHostNone;
  if (g_host.state == kHostWatched) {
    const DWORD now = g_system.tick_count();
    if (now - g_host.last_check < kHostCheckMs) return kHostReady;
    g_host.last_check = now;
    HostEnded();
  }
  if (g_host.state != kHostMissing) return kHostReady;
  return RelaunchHost(deadline) ? kHostRestarted : kHostNone;
}

void NoteTimeOut() { g_host.stuck = g_host.state == kHostWatched || g_host.state == kHostUnwatched; }

void CloseLauncher() {
  g_host.launcher_mutex.Close();
  g_host.launcher_mutex_tried = false;
  ForgetHost();
}
