#include "helper_link.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

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

// The helper as this plug-in knows it, in one place.
struct HelperLink {
  // A job that ends the helper when its last handle closes, that is when
  // this process ends in any way.
  ScopedHandle job;
  ScopedHandle process;
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

bool StartHelper() {
  if (GetFileAttributesA(HelperPath()) == INVALID_FILE_ATTRIBUTES) {
    LogWritef("Helper", "%s is missing", HelperPath());
    return false;
  }
  const std::string section = BridgeSectionName(ThisBridge().name, GetCurrentProcessId());
  if (!BridgeOpen(section.c_str())) return false;
  if (!g_link.job) g_link.job.reset(KillOnCloseJob());

  // The name is quoted: a file name may hold blanks.
  char command_line[MAX_PATH + 2 * kBridgeNameMax + 64];
  snprintf(command_line, sizeof command_line, "\"%s\" %lu \"%s\" \"%s\"", HelperPath(),
           static_cast<unsigned long>(GetCurrentProcessId()), section.c_str(), ThisBridge().name.c_str());
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  // No handle of the display host is inherited; the helper's current
  // directory is the display host's, where the 32-bit chain finds logs\,
  // the layer, the proxy and the host program.
  if (!CreateProcessA(HelperPath(), command_line, nullptr, nullptr, FALSE, CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr,
                      nullptr, &startup, &process)) {
    LogWritef("Helper", "could not start %s, error %lu", HelperPath(), GetLastError());
    return false;
  }
  ScopedHandle thread(process.hThread);
  g_link.process.reset(process.hProcess);
  if (g_link.job && !AssignProcessToJobObject(g_link.job.get(), process.hProcess))
    LogWritef("Helper", "could not put the helper into the job, error %lu; it watches this process instead",
              GetLastError());
  ResumeThread(thread.get());
  LogWritef("Helper", "started %s, process %lu", HelperPath(), static_cast<unsigned long>(process.dwProcessId));
  return true;
}

void EndHelper() {
  if (!g_link.process) return;
  TerminateProcess(g_link.process.get(), 0);
  WaitForSingleObject(g_link.process.get(), kQuitWaitMs);
  g_link.process.reset();
}

// Waits for the reply signal or the helper's end, at most `ms`.
void AwaitReplyOrEnd(DWORD ms) {
  HANDLE reply = g_channel[kBridgeSlot].events[kReplyEvent];
  HANDLE waits[2] = {g_link.process.get(), reply};
  WaitForMultipleObjects(reply ? 2 : 1, waits, FALSE, ms);
}

}  // namespace

const char* HelperPath() { return ThisBridge().helper_path.c_str(); }

bool HelperNeedsStart() { return g_link.stuck || HelperEnded(); }

namespace {

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
  void AwaitReply(const Deadline& deadline) { AwaitReplyOrEnd(deadline.LeftMs(kReplyWaitMs)); }
  bool ServerEnded(int32_t) { return HelperEnded(); }
  CallOutcome ReplaceServer(const Deadline&, LastSent&) { return kCallNotAnswered; }
  void Answered(const BridgeRecord&, const BridgeRecord&) {}
  void Unanswered(const BridgeRecord& request, CallOutcome why) {
    if (why == kCallTimedOut) {
      // It may be stuck inside a call: the next call ends it and starts a new one.
      g_link.stuck = true;
      LogWritef("Helper", "no answer to call %d in %lld ms", static_cast<int>(request.opcode),
                static_cast<long long>(kHelperCallBudgetMs));
    } else {
      LogWritef("Helper", "the helper ended during call %d", static_cast<int>(request.opcode));
    }
  }
};

}  // namespace

HelperCall HelperRoundTrip(BridgeRecord& record) {
  const Deadline deadline = Deadline::In(kHelperCallBudgetMs);
  if (g_link.stuck) {
    LogWrite("Helper", "the helper did not answer the last call; it is replaced");
    EndHelper();
    g_link.stuck = false;
  }
  if (HelperEnded()) {
    if (g_link.process) LogWrite("Helper", "the helper has ended; a new one is started");
    g_link.process.reset();
    if (!StartHelper()) return HelperCall::kNoHelper;
  }
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
  g_link.job.reset();  // ends a helper that is still there
}
