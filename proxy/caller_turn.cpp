#include "caller_turn.h"

#include <windows.h>

#include <cstdio>

#include "channel.h"
#include "debug_log.h"
#include "named_mutex.h"
#include "wait_seam.h"

namespace {

// Opened by whichever thread calls first, one at a time.
SRWLOCK g_open_lock = SRWLOCK_INIT;
NamedMutex g_caller_mutex;
char g_section_name[MAX_PATH] = "Vorn64BitInterface";
bool g_mutex_refused;  // the name is another kind of object's: logged once

// The channel (the mutex is named after its section) and the mutex, unless
// they are open.
void OpenForCallers() {
  AcquireSRWLockExclusive(&g_open_lock);
  CommsStart(kRequestSlot, kMapAllAccess, g_section_name, kSectionSize);
  char name[MAX_PATH];
  if (!g_caller_mutex && CommsObjectName(kRequestSlot, kCallerMutexSuffix, name, sizeof name)) {
    if (!g_caller_mutex.Open(name) && !g_mutex_refused) {
      g_mutex_refused = true;
      LogWritef("callfn", "Could not open mutex %s error:%d; callers do not take turns", name,
                static_cast<int>(GetLastError()));
    }
  }
  ReleaseSRWLockExclusive(&g_open_lock);
}

}  // namespace

CallerTurn::CallerTurn(const Deadline& deadline) {
  OpenForCallers();
  if (!g_caller_mutex) {
    taken_ = true;
    return;
  }
  owned_ = g_caller_mutex.Acquire(0);
  while (!owned_ && !deadline.Passed()) owned_ = VornAcquire(g_caller_mutex.get(), deadline.LeftMs(kTurnWaitMs));
  taken_ = owned_;
}

CallerTurn::~CallerTurn() {
  if (owned_) g_caller_mutex.Release();
}

void CloseCallerTurn() {
  g_caller_mutex.Close();
  g_mutex_refused = false;
}

const char* ProxySectionName() { return g_section_name; }

void UseProxySectionName(const char* name) { snprintf(g_section_name, sizeof g_section_name, "%s", name); }
