#include "caller_turn.h"

#include <windows.h>

#include "channel.h"
#include "debug_log.h"
#include "wait_seam.h"

namespace {

INIT_ONCE g_opened = INIT_ONCE_STATIC_INIT;
HANDLE g_caller_mutex;

// Once per process, whichever thread calls first: the channel (the mutex is
// named after its section) and the mutex.
BOOL CALLBACK OpenForCallers(PINIT_ONCE, PVOID, PVOID*) {
  CommsStart(kRequestSlot, kMapAllAccess, kSectionName, kSectionSize);
  char name[MAX_PATH];
  if (!CommsObjectName(kRequestSlot, kCallerMutexSuffix, name, sizeof name)) return TRUE;
  g_caller_mutex = CreateMutexA(nullptr, FALSE, name);
  if (!g_caller_mutex) {
    LogWritef("callfn", "Could not open mutex %s error:%d; callers do not take turns", name,
              static_cast<int>(GetLastError()));
  }
  return TRUE;
}

}  // namespace

CallerTurn::CallerTurn(int64_t budget_ms) {
  InitOnceExecuteOnce(&g_opened, OpenForCallers, nullptr, nullptr);
  if (!g_caller_mutex) {
    taken_ = true;
    return;
  }
  const DWORD first = WaitForSingleObject(g_caller_mutex, 0);
  owned_ = first == WAIT_OBJECT_0 || first == WAIT_ABANDONED;
  const int64_t budget_us = budget_ms * 1000;
  while (!owned_ && spent_us_ < budget_us) {
    const int64_t left_ms = (budget_us - spent_us_ + 999) / 1000;
    const int64_t before = VornNowUs();
    owned_ = VornAcquire(g_caller_mutex, static_cast<uint32_t>(left_ms < kTurnWaitMs ? left_ms : kTurnWaitMs));
    spent_us_ += VornNowUs() - before;
  }
  taken_ = owned_;
}

CallerTurn::~CallerTurn() {
  if (owned_) ReleaseMutex(g_caller_mutex);
}
