#pragma once
// The host program as the proxy sees it: on the first request of the
// process the channel is opened and the host found or started; afterwards
// the proxy keeps its process open for waiting, notices when it has ended
// (its idle exit, a crash, being ended from outside) and starts it again.
// The process-control operations it is made of are in process_control.h.

#include <cstdint>

#include "host_program_names.h"
#include "named_mutex.h"
#include "process_control.h"
#include "wait_seam.h"

constexpr char kHostArgument[] = " ";  // the whole command line of the started host
constexpr uint32_t kLauncherWaitMs = 1000;
// A start that failed is tried again by a later call at most this often.
constexpr DWORD kLaunchRetryMs = 1000;
// A watched host is looked at before a request goes out at most this often,
// and while a call waits after its first wait ran out, then once in
// kHostCheckReads reads of the section: not a system call on every read.
constexpr DWORD kHostCheckMs = 32;
constexpr int32_t kHostCheckReads = 32;
// The launcher's own turn, named after the section; a launcher waits this
// long for it and then goes ahead without it.
constexpr char kLauncherMutexSuffix[] = ".Launcher";
constexpr DWORD kLauncherTurnWaitMs = 10000;
// For a host that was ended because it did not answer, to go.
constexpr DWORD kKilledHostWaitMs = 1000;

enum HostState {
  kHostNotLaunched,  // before the first request
  kHostWatched,      // found or started, its process held open for waiting
  kHostUnwatched,    // taken as running, but its process could not be opened
                     // (or the process list could not be read)
  kHostMissing,      // ended, or could not be started
};

// The launcher's state, in one place: all zero when the library is loaded.
struct HostWatch {
  // Set before any other step of the first request, so that the launcher
  // runs once in a process, whatever its outcome.
  int32_t started;
  HostState state;
  SystemHandle process;  // while kHostWatched
  DWORD id;              // the process id of the host that was found or started
  DWORD last_check;      // tick of the last look at a watched host
  bool start_failed;     // the last launch could not start a host ...
  DWORD failed_at;       // ... at this tick
  bool stuck;            // a call timed out while this host ran: the next call replaces it
  NamedMutex launcher_mutex;
  bool launcher_mutex_tried;
};
extern HostWatch g_host;

// Every wait below is cut short at the call's deadline: the launcher's
// turn, the end of a stuck host, the wait after a start.

// First request of the process that has the channel: runs the launcher.
void StartHostOnce(const Deadline& deadline);
enum HostReadiness {
  kHostReady,      // a host is taken to be running, as before
  kHostRestarted,  // a new host was found or started for this request
  kHostNone,       // none can be had now
};
// Before a request goes out. A watched host that has ended is started
// again, a stuck one replaced; a failed start is retried at most once per
// kLaunchRetryMs.
HostReadiness PrepareHost(const Deadline& deadline);
// True when the watched host has ended; the state is then kHostMissing.
// One system call: callers make it once in kHostCheckReads reads.
bool HostEnded();
// The launcher again, after the host has ended; true when a host runs.
bool RelaunchHost(const Deadline& deadline);
// After a call timed out against a running host: the next call ends that
// host, unless it has ended meanwhile, and starts a new one. So a host
// stuck in a vendor call costs one time-out, not one per call.
void NoteTimeOut();
// The library is being unloaded: the launcher's mutex and the watched
// host's process handle are closed (the host program goes on running).
void CloseLauncher();
