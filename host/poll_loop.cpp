#include "poll_loop.h"

#include <cstdio>

#include "channel.h"
#include "debug_log.h"
#include "host_log.h"
#include "host_program_names.h"
#include "named_mutex.h"
#include "process_call.h"
#include "step_times.h"
#include "unique_handle.h"
#include "vendor_library.h"
#include "wait_seam.h"

namespace {

// Serves the request in the section and writes the answer back, only over
// the request it answers: when the proxy has meanwhile given up and sent
// another request, that one stays intact. True when the answer was
// written; its caller is then woken by the reply event.
bool ServeAndWriteAnswer() {
  {
    VORN_STEP(kStepServe);
    process_call();
  }
  g_host_block.done = 1;
  if (CommsSendReply(kRequestSlot, g_host_block)) return true;
  LogWritef("process_call", "answer to request %d dropped: the section holds another request",
            static_cast<int>(g_host_block.request_id));
  return false;
}

// One host program serves the section at a time: two would serve one block
// twice. The first holds the mutex for its whole life (the system releases
// it at the process's end, however that comes); a host that finds it held
// leaves the section to that one. Asked before anything is logged: the log
// is opened anew by its first line, and the running host's log, in the
// same folder, must stay whole.
NamedMutex g_host_mutex;  // kept until the process ends

// Set once the host can serve, and kept until it stops serving
// (host_program_names.h).
ScopedHandle g_ready;

void SayReady() {
  char name[MAX_PATH];
  if (!HostReadyEventName(kSectionName, GetCurrentProcessId(), name, sizeof name)) return;
  g_ready.reset(CreateEventA(nullptr, TRUE, FALSE, name));
  if (!g_ready) {
    LogWritef("Init", "Could not open event %s error:%d; the launcher waits its whole second", name,
              static_cast<int>(GetLastError()));
    return;
  }
  SetEvent(g_ready.get());
}

bool FirstHostOfTheSection() {
  char name[MAX_PATH];
  snprintf(name, sizeof name, "%s%s", kSectionName, kHostMutexSuffix);
  if (!g_host_mutex.Open(name)) {
    LogWritef("Init", "Could not open mutex %s error:%d", name, static_cast<int>(GetLastError()));
    return true;
  }
  if (g_host_mutex.Acquire(0)) return true;
  LogKeepEarlierLines();
  LogWritef("Init", "another host program serves %s; this one ends", kSectionName);
  return false;
}

// Before the host stops serving: a launcher that looks from now on waits
// for this process's end and starts another host, which may take the
// section at once. (A launcher that holds the event already sees it reset.)
void StopServing() {
  if (g_ready) ResetEvent(g_ready.get());
  g_ready.reset();
  if (g_host_mutex) g_host_mutex.Release();
  g_host_mutex.Close();
}

}  // namespace

int RunPollLoop() {
  if (!FirstHostOfTheSection()) return 0;
  CommsStart(kRequestSlot, kMapWrite, kSectionName, kSectionSize);
  if (!g_channel[kRequestSlot].view) {
    // It could never answer: its launcher sees it end, not ready.
    LogWritef("Init", "the section %s could not be opened; this host ends", kSectionName);
    StopServing();
    return 1;
  }
  bind_vendor_library();
  SayReady();
  const bool signals = g_channel[kRequestSlot].events[kRequestEvent] != nullptr;
  int64_t idle_us = 0;
  int64_t polling_since = INT64_MIN / 2;  // when the last request came that no signal announced
  bool ran_out = false;                   // the last wait ran out: no signal ended it
  bool reply_to_signal = false;           // an answer is written; its caller is not yet woken
  for (;;) {
    CommsRecv(kRequestSlot, &g_host_block, kBlockSize);
    if (g_host_block.opcode != kNoRequest && g_host_block.done == 0) {
      if (reply_to_signal) CommsSignal(kRequestSlot, kReplyEvent);
      // Judged only when found at the end of a wait that ran out: a request
      // found right after the last answer may simply not have been
      // signalled yet. Its signal follows the request's write, so it may
      // also come while the request is served, and is looked for then.
      bool announced = !ran_out || CommsTakeSignal(kRequestSlot, kRequestEvent);
      reply_to_signal = ServeAndWriteAnswer();
      announced = announced || CommsTakeSignal(kRequestSlot, kRequestEvent);
      if (!announced) polling_since = VornNowUs();
      idle_us = 0;
      ran_out = false;
      continue;
    }
    const int64_t before = VornNowUs();
    const bool polling = !signals || before - polling_since < kPollingSpellMs * 1000;
    const uint32_t wait_ms = polling ? kPollingWaitMs : kQuietWaitMs;
    // A served request's time, for the benchmark: from the end of the last
    // wait to here. Its reply's signal goes with the next wait.
    VORN_HOST_CALL_END();
    if (reply_to_signal && !polling) {
      // The reply's signal and the wait for the next request, as one call
      // to the system.
      ran_out = !CommsSignalAndWait(kRequestSlot, kReplyEvent, kRequestEvent, wait_ms);
    } else {
      if (reply_to_signal) CommsSignal(kRequestSlot, kReplyEvent);
      ran_out = !CommsWait(kRequestSlot, kRequestEvent, wait_ms);
    }
    VORN_HOST_CALL_BEGIN();
    reply_to_signal = false;
    idle_us += VornNowUs() - before;
    if (idle_us >= kIdleExitMs * 1000) {
      StopServing();
      LogWrite("Got", "Bored");
      return 0;
    }
  }
}
