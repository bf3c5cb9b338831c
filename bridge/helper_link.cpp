#include "helper_link.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

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

// A request left with the helper, and when it is given up on.
struct InFlight {
  int32_t opcode = 0;  // 0: none
  int32_t request_id = 0;
  int64_t given_up_at_us = 0;
  CallKind kind = CallKind::kOwn;
};

// The helper as this plug-in knows it, in one place.
struct HelperLink {
  // A job that ends the helper when its last handle closes, that is when
  // this process ends in any way.
  ScopedHandle job;
  bool use_job = true;
  ScopedHandle process;
  ScopedHandle ready;  // "<section>.Ready", manual-reset: the helper has loaded its plug-in
  uint32_t number = 0;
  // Started, not ready yet: looked at again until this time.
  bool starting = false;
  int64_t start_given_up_at_us = 0;
  // The helper did not answer in time: it may be stuck inside a call, so
  // the next call ends it and starts a new one.
  bool stuck = false;
  InFlight in_flight;
  // It has answered a call of the display host's own.
  bool proven = false;
  // Helpers that ended in a row before they answered one; the next start
  // waits until `next_start_us`.
  int failed_starts = 0;
  int64_t next_start_us = 0;
};
HelperLink g_link;

bool HelperEnded() { return !g_link.process || WaitForSingleObject(g_link.process.get(), 0) == WAIT_OBJECT_0; }

int64_t BackOffMs(int failed_starts) {
  int64_t ms = kFirstBackOffMs;
  for (int i = 1; i < failed_starts && ms < kLongestBackOffMs; ++i) ms *= 2;
  return ms < kLongestBackOffMs ? ms : kLongestBackOffMs;
}

// The helper is gone (ended by itself, or by us): a failed start unless it
// had answered the display host. Said once when helpers start failing, not
// at every start.
void CountEnd() {
  g_link.process.reset();
  g_link.starting = false;
  g_link.in_flight = InFlight{};
  if (g_link.proven) {
    g_link.failed_starts = 0;
    g_link.next_start_us = 0;
  } else {
    ++g_link.failed_starts;
    g_link.next_start_us = VornNowUs() + BackOffMs(g_link.failed_starts) * 1000;
    if (g_link.failed_starts == 1)
      LogWritef("Helper",
                "the plug-in keeps failing: its helper ended before it answered a call; the next is started after "
                "%lld ms, and after twice as long each time it fails again, up to %lld ms",
                static_cast<long long>(BackOffMs(1)), static_cast<long long>(kLongestBackOffMs));
  }
  g_link.proven = false;
}

// A helper found ended by itself, as soon as it is found: its pause runs
// from its end, not from the next call.
void NoteEnded(const char* when) {
  DWORD status = 0;
  GetExitCodeProcess(g_link.process.get(), &status);
  LogWritef("Helper", "the helper ended %s, exit status 0x%lx", when, status);
  CountEnd();
}

void MarkProven() {
  if (g_link.proven) return;
  g_link.proven = true;
  if (g_link.failed_starts >= 1)
    LogWritef("Helper", "the plug-in answers again, after %d helpers in a row had failed", g_link.failed_starts);
  g_link.failed_starts = 0;
  g_link.next_start_us = 0;
}

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

// Waits until the helper being started has loaded its plug-in, or has
// ended, or the deadline has passed. kPending while it may still get ready.
HelperCall AwaitReady(const Deadline& deadline) {
  while (!deadline.Passed()) {
    if (VornWaitEither(g_link.ready.get(), g_link.process.get(), deadline.LeftMs(kReplyWaitMs))) break;
  }
  if (WaitForSingleObject(g_link.ready.get(), 0) == WAIT_OBJECT_0) {
    g_link.starting = false;
    return HelperCall::kAnswered;
  }
  if (HelperEnded()) {
    NoteEnded("as it started");
    return HelperCall::kNoAnswer;
  }
  if (VornNowUs() < g_link.start_given_up_at_us) return HelperCall::kPending;
  LogWrite("Helper", "the helper was not ready in time");
  g_link.stuck = true;
  return HelperCall::kNoAnswer;
}

HelperCall StartHelper(const Deadline& deadline) {
  if (GetFileAttributesA(HelperPath()) == INVALID_FILE_ATTRIBUTES) {
    LogWritef("Helper", "%s is missing", HelperPath());
    return HelperCall::kNoHelper;
  }
  const std::string section = BridgeSectionName(ThisBridge().name, GetCurrentProcessId());
  if (!BridgeOpen(section.c_str()) || !ResetReadyEvent()) return HelperCall::kNoHelper;
  if (!g_link.job && g_link.use_job) g_link.job.reset(KillOnCloseJob());

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
  ++g_link.number;
  g_link.starting = true;
  g_link.start_given_up_at_us = VornNowUs() + kHelperCallBudgetMs * 1000;
  LogWritef("Helper", "started %s, process %lu", HelperPath(), static_cast<unsigned long>(process.dwProcessId));
  return AwaitReady(deadline);
}

void EndHelper(DWORD wait_ms) {
  if (!g_link.process) return;
  TerminateProcess(g_link.process.get(), 0);
  VornWaitEither(g_link.process.get(), nullptr, wait_ms);
  CountEnd();
}

// The bridge's hop of the round trip (round_trip.h): the helper, woken by
// the request event; a wait ends at its answer or at its end, whichever
// comes first, so its process is looked at after every wait. A helper that
// ends during a call is not replaced within it: the plug-in gives the next
// one its session back before the next call (bridge_entry_points.cpp).
struct HelperHop {
  int32_t slot = kBridgeSlot;
  CallKind kind;
  Unanswered unanswered;

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
  void Answered(const BridgeRecord&, const BridgeRecord&) {
    if (kind == CallKind::kOwn) MarkProven();
  }
  void Unanswered(const BridgeRecord& request, CallOutcome why) {
    if (why == kCallTimedOut && unanswered == Unanswered::kLeaveInFlight) {
      g_link.in_flight = InFlight{request.opcode, request.request_id, VornNowUs() + kHelperCallBudgetMs * 1000, kind};
    } else if (why == kCallTimedOut) {
      // It may be stuck inside a call: the next call ends it and starts a new one.
      g_link.stuck = true;
      LogWritef("Helper", "no answer to call %d within the call's %lld ms", static_cast<int>(request.opcode),
                static_cast<long long>(kHelperCallBudgetMs));
    }
  }
};

}  // namespace

const char* HelperPath() { return ThisBridge().helper_path.c_str(); }

bool HelperNeedsStart() { return g_link.stuck || g_link.starting || HelperEnded(); }

bool HelperStarting() { return g_link.starting && !g_link.stuck; }

uint32_t HelperNumber() { return g_link.number; }

HelperCall EnsureHelper(const Deadline& start_deadline, bool despite_back_off) {
  if (g_link.stuck) {
    LogWrite("Helper", "the helper did not answer in time; it is replaced");
    EndHelper(start_deadline.LeftMs(kQuitWaitMs));
    g_link.stuck = false;
  }
  if (!HelperEnded()) return g_link.starting ? AwaitReady(start_deadline) : HelperCall::kAnswered;
  if (g_link.process) NoteEnded("between calls");
  if (!despite_back_off && g_link.failed_starts > 0 && VornNowUs() < g_link.next_start_us)
    return HelperCall::kBackingOff;
  if (start_deadline.Passed()) return HelperCall::kNoAnswer;
  if (g_link.number > 0) LogWrite("Helper", "a new one is started");
  return StartHelper(start_deadline);
}

bool HelperSettle(const Deadline& deadline, BridgeRecord* answer, bool* had_answer) {
  *had_answer = false;
  InFlight& out = g_link.in_flight;
  if (out.opcode == 0) return true;
  BridgeRecord request = {};
  request.opcode = out.opcode;
  request.request_id = out.request_id;
  for (;;) {
    if (CommsRecv(kBridgeSlot, answer, kBridgeRecordSize, deadline) && IsAnswerTo(request, *answer)) {
      if (out.kind == CallKind::kOwn) MarkProven();
      out = InFlight{};
      *had_answer = true;
      return true;
    }
    if (HelperEnded()) {
      NoteEnded("during a call left with it");
      return false;
    }
    if (VornNowUs() >= out.given_up_at_us) {
      LogWritef("Helper", "no answer to call %d within %lld ms", static_cast<int>(out.opcode),
                static_cast<long long>(kHelperCallBudgetMs));
      WithdrawRequest<BridgeRecord>(kBridgeSlot, LastSent{out.opcode, out.request_id});
      out = InFlight{};
      g_link.stuck = true;
      return false;
    }
    if (deadline.Passed()) return false;
    const Deadline wait = out.given_up_at_us < deadline.at_us() ? Deadline::At(out.given_up_at_us) : deadline;
    VornWaitEither(g_link.process.get(), g_channel[kBridgeSlot].events[kReplyEvent], wait.LeftMs(kReplyWaitMs));
  }
}

HelperCall HelperSend(BridgeRecord& record, const Deadline& deadline, CallKind kind, Unanswered unanswered) {
  // PluginReady has just looked at the helper: its end shows in the exchange.
  if (!g_link.process || g_link.starting || g_link.in_flight.opcode != 0) return HelperCall::kNoAnswer;
  HelperHop hop{kBridgeSlot, kind, unanswered};
  LastSent sent;
  const CallOutcome outcome = Exchange(hop, record, false, deadline, sent);
  if (outcome == kCallAnswered) return HelperCall::kAnswered;
  if (outcome == kCallNotAnswered && HelperEnded()) NoteEnded("during the call");
  if (outcome == kCallTimedOut && unanswered == Unanswered::kLeaveInFlight) return HelperCall::kPending;
  WithdrawRequest<BridgeRecord>(kBridgeSlot, sent);
  return HelperCall::kNoAnswer;
}

void HelperRefused() {
  LogWrite("Helper", "the new helper's plug-in did not take the session back; the helper is ended");
  EndHelper(kQuitWaitMs);
}

void HelperRelease() {
  if (g_link.process && !HelperEnded()) {
    static BridgeRecord quit;
    quit.opcode = kBridgeQuit;
    quit.request_id = CommsNextRequestNumber();
    CommsSend(kBridgeSlot, &quit, kBridgeRecordSize);
    CommsSignal(kBridgeSlot, kRequestEvent);
    // One stuck in its plug-in never reads that: it is ended, job or no
    // job (the display host may run in a job that allows none of ours).
    if (WaitForSingleObject(g_link.process.get(), kQuitWaitMs) != WAIT_OBJECT_0)
      TerminateProcess(g_link.process.get(), 0);
  }
  g_link.process.reset();
  // Everything else as at load (the job closed, which ends a helper that is
  // still there), but the count of helpers, which the session's replay
  // goes by, and the tests' choice of job.
  HelperLink fresh;
  fresh.number = g_link.number;
  fresh.use_job = g_link.use_job;
  g_link = std::move(fresh);
}

void UseHelperJob(bool use) { g_link.use_job = use; }
