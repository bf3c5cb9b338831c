#include "caller_turn.h"

#include <windows.h>

#include <cstdio>

#include "channel.h"
#include "debug_log.h"
#include "named_mutex.h"
#include "wait_seam.h"

namespace {

struct CallerTurnState {
  SRWLOCK open_lock;  // opened by whichever thread calls first, one at a time
  NamedMutex mutex;
  bool mutex_refused;  // the name is another kind of object's: logged once
  char section_name[MAX_PATH];
};
CallerTurnState g_turn = {SRWLOCK_INIT, {}, false, "Vorn64BitInterface"};

// The channel (the mutex is named after its section) and the mutex, unless
// they are open.
void OpenForCallers() {
  AcquireSRWLockExclusive(&g_turn.open_lock);
  CommsStart(kRequestSlot, kMapAllAccess, g_turn.section_name, kSectionSize);
  char name[MAX_PATH];
  if (!g_turn.mutex && CommsObjectName(kRequestSlot, kCallerMutexSuffix, name, sizeof name)) {
    if (!g_turn.mutex.Open(name) && !g_turn.mutex_refused) {
      g_turn.mutex_refused = true;
      LogWritef("callfn", "Could not open mutex %s error:%d; callers do not take turns", name,
                static_cast<int>(GetLastError()));
    }
  }
  ReleaseSRWLockExclusive(&g_turn.open_lock);
}

}  // namespace

CallerTurn::CallerTurn(const Deadline& deadline) {
  OpenForCallers();
  if (!g_turn.mutex) {
    taken_ = true;
    return;
  }
  owned_ = g_turn.mutex.Acquire(0);
  while (!owned_ && !deadline.Passed()) owned_ = VornAcquire(g_turn.mutex.get(), deadline.LeftMs(kTurnWaitMs));
  taken_ = owned_;
}

CallerTurn::~CallerTurn() {
  if (owned_) g_turn.mutex.Release();
}

void CloseCallerTurn() {
  g_turn.mutex.Close();
  g_turn.mutex_refused = false;
}

const char* ProxySectionName() { return g_turn.section_name; }

void UseProxySectionName(const char* name) { snprintf(g_turn.section_name, sizeof g_turn.section_name, "%s", name); }
