#include "helper_link.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bridge_channel.h"
#include "bridge_identity.h"
#include "bridge_names.h"
#include "channel.h"
#include "debug_log.h"
#include "round_trip.h"
#include "unique_handle.h"
#include "wait_seam.h"

namespace {

// A wait for an answer is cut into pieces this long, so that a signal
// lost between the two processes costs no more than one piece.
constexpr DWORD kReplyWaitMs = 50;
constexpr DWORD kQuitWaitMs = 1000;
// CreateProcess takes a command line of at most this many characters.
constexpr size_t kCommandLineMax = 32767;

// The helper as this plug-in knows it, in one place.
struct HelperLink {
  // A job that ends the helper when its last handle closes, that is when
  // this process ends in any way.
  ScopedHandle job;
  ScopedHandle process;
  ScopedHandle ready;  // "<section>.Ready", manual-reset: the helper has loaded its plug-in
  // The helper did not answer in time: it may be stuck inside a call, so
  // the next call ends it and starts a new one.
  bool stuck;
};
HelperLink g_link;

bool HelperEnded() { return !g_link.process || WaitForSingleObject(g_link.process.get(), 0) == WAIT_OBJECT_0; }

// A job that ends the helper when its last handle closes, that is when
// this process ends in any way. The helper's own children (the host
// program that the proxy starts) break away from it: they serve others too.
HANDLE KillOnCloseJob() {
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (!job) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
  if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    LogWritef("Helper", "could not set up the job object, error %lu; the helper watches this process instead",
              GetLastError());
    CloseHandle(job);
    return nullptr;
  }
  return job;
}

// The quoted arguments of the helper's command line: a path may hold blanks.
std::string CommandLine(const std::string& section) {
  const BridgeIdentity& bridge = ThisBridge();
  return "\"" + bridge.helper_path + "\" " + std::to_string(GetCurrentProcessId()) + " \"" + section + "\" \"" +
         bridge.name + "\" \"" + bridge.plugin32_path + "\"";
}

// The ready event, made unsignalled before each start: a helper that
// signalled it earlier is not taken for the new one.
bool ResetReadyEvent() {
  if (!g_link.ready) {
    char name[MAX_PATH] = "<section>.Ready";
    if (CommsObjectName(kBridgeSlot, kHelperReadySuffix, name, sizeof name))
      g_link.ready.reset(CreateEventA(nullptr, TRUE, FALSE, name));
    if (!g_link.ready) {
      LogWritef("Helper", "could not open the event %s, error %lu", name, GetLastError());
      return false;
    }
  }
  return ResetEvent(g_link.ready.get()) != 0;
}

// Waits until the new helper has loaded its plug-in, or has ended, or the
// deadline has passed. True when it is ready.
bool AwaitReady(const Deadline& deadline) {
  while (!deadline.Passed()) {
    if (VornWaitEither(g_link.ready.get(), g_link.process.get(), deadline.LeftMs(kReplyWaitMs))) break;
  }
  if (WaitForSingleObject(g_link.ready.get(), 0) == WAIT_OBJECT_0) return true;
  if (HelperEnded()) {
    DWORD status = 0;
    GetExitCodeProcess(g_link.process.get(), &status);
    LogWritef("Helper", "the helper ended as it started, exit status %lu", status);
  } else {
    LogWrite("Helper", "the helper was not ready in time");
    g_link.stuck = true;
  }
  return false;
}

HelperCall StartHelper(const Deadline& deadline) {
  if (GetFileAttributesA(HelperPath()) == INVALID_FILE_ATTRIBUTES) {
    LogWritef("Helper", "%s is missing", HelperPath());
    return HelperCall::kNoHelper;
  }
  const std::string section = BridgeSectionName(ThisBridge().name, GetCurrentProcessId());
  if (!BridgeOpen(section.c_str()) || !ResetReadyEvent()) return HelperCall::kNoHelper;
  if (!g_link.job) g_link.job.reset(KillOnCloseJob());

  std::string command_line = CommandLine(section);
  if (command_line.size() >= kCommandLineMax) {
    LogWritef("Helper", "the helper's command line would be %u characters, more than Windows takes",
              static_cast<unsigned>(command_line.size()));
    return HelperCall::kNoHelper;
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  // No handle of the display host is inherited; the helper's current
  // directory is the display host's, where the 32-bit chain finds logs\,
  // the layer, the proxy and the host program.
  if (!CreateProcessA(HelperPath(), &command_line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW | CREATE_SUSPENDED,
                      nullptr, nullptr, &startup, &process)) {
    LogWritef("Helper", "could not start %s, error %lu", HelperPath(), GetLastError());
    return HelperCall::kNoHelper;
  }
  ScopedHandle thread(process.hThread);
  g_link.process.reset(process.hProcess);
  if (g_link.job && !AssignProcessToJobObject(g_link.job.get(), process.hProcess))
    LogWritef("Helper", "could not put the helper into the job, error %lu; it watches this process instead",
              GetLastError());
  ResumeThread(thread.get());
  LogWritef("Helper", "started %s, process %lu", HelperPath(), static_cast<unsigned long>(process.dwProcessId));
  return AwaitReady(deadline) ? HelperCall::kAnswered : HelperCall::kNoAnswer;
}

void EndHelper(const Deadline& deadline) {
  if (!g_link.process) return;
  TerminateProcess(g_link.process.get(), 0);
  VornWaitEither(g_link.process.get(), nullptr, deadline.LeftMs(kQuitWaitMs));
  g_link.process.reset();
}

// The bridge's hop of the round trip (round_trip.h): the helper, woken by
// the request event; a wait ends at its answer or at its end, whichever
// comes first, so its process is looked at after every wait. A helper that
// ends during a call is not replaced within it: the plug-in gives the next
// one its session back before the next call (plugin64_entry_points.cpp).
struct HelperHop {
  int32_t slot = kBridgeSlot;

  void SignalAndAwaitReply(const Deadline& deadline) {
    Signal();
    AwaitReply(deadline);
  }
  void Signal() { CommsSignal(slot, kRequestEvent); }
  void AwaitReply(const Deadline& deadline) {
    VornWaitEither(g_link.process.get(), g_channel[kBridgeSlot].events[kReplyEvent], deadline.LeftMs(kReplyWaitMs));
  }
  bool ServerEnded(int32_t) { return HelperEnded(); }
  CallOutcome ReplaceServer(const Deadline&, LastSent&) { return kCallNotAnswered; }
  void Answered(const BridgeRecord&, const BridgeRecord&) {}
  void Unanswered(const BridgeRecord& request, CallOutcome why) {
    if (why == kCallTimedOut) {
      // It may be stuck inside a call: the next call ends it and starts a new one.
      g_link.stuck = true;
      LogWritef("Helper", "no answer to call %d within the call's %lld ms", static_cast<int>(request.opcode),
                static_cast<long long>(kHelperCallBudgetMs));
    } else {
      LogWritef("Helper", "the helper ended during call %d", static_cast<int>(request.opcode));
    }
  }
};

}  // namespace

const char* HelperPath() { return ThisBridge().helper_path.c_str(); }

bool HelperNeedsStart() { return g_link.stuck || HelperEnded(); }

HelperCall EnsureHelper(const Deadline& deadline) {
  if (g_link.stuck) {
    LogWrite("Helper", "the helper did not answer in time; it is replaced");
    EndHelper(deadline);
    g_link.stuck = false;
  }
  if (!HelperEnded()) return HelperCall::kAnswered;
  if (g_link.process) LogWrite("Helper", "the helper has ended; a new one is started");
  g_link.process.reset();
  if (deadline.Passed()) return HelperCall::kNoAnswer;
  return StartHelper(deadline);
}

HelperCall HelperRoundTrip(BridgeRecord& record, const Deadline& deadline) {
  const HelperCall helper = EnsureHelper(deadline);
  if (helper != HelperCall::kAnswered) return helper;
  HelperHop hop;
  return RoundTrip(hop, record, false, deadline) == kCallAnswered ? HelperCall::kAnswered : HelperCall::kNoAnswer;
}

void HelperRelease() {
  if (g_link.process && !HelperEnded()) {
    static BridgeRecord quit;
    quit.opcode = kBridgeQuit;
    quit.request_id = CommsNextRequestNumber();
    CommsSend(kBridgeSlot, &quit, kBridgeRecordSize);
    CommsSignal(kBridgeSlot, kRequestEvent);
    WaitForSingleObject(g_link.process.get(), kQuitWaitMs);
  }
  g_link.process.reset();
  g_link.ready.reset();
  g_link.job.reset();  // ends a helper that is still there
  g_link.stuck = false;
}
