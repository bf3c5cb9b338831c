#include "thread_lock.h"

#include "debug_log.h"
#include "gap_seam.h"
#include "lock_wait.h"
#include "unique_handle.h"

namespace {

HANDLE GuardMutex(TakeOverGuard& guard) {
  if (!guard.mutex) {
    HANDLE made = CreateMutexA(nullptr, FALSE, nullptr);
    if (made && InterlockedCompareExchangePointer(&guard.mutex, made, nullptr) != nullptr) CloseHandle(made);
  }
  return guard.mutex;
}

}  // namespace

bool ThreadHasEnded(LONG id) {
  ScopedHandle thread(OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(id)));
  // This process may open every thread of its own.
  if (!thread) return GetLastError() == ERROR_INVALID_PARAMETER || GetLastError() == ERROR_ACCESS_DENIED;
  return WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0 ||
         GetProcessIdOfThread(thread.get()) != GetCurrentProcessId();
}

bool TakeFromEndedThread(TakeOverGuard& guard, volatile LONG* word, LONG seen, LONG value, LONG self) {
  HANDLE mutex = GuardMutex(guard);
  if (!mutex) return false;
  const DWORD got = WaitForSingleObject(mutex, 0);
  if (got != WAIT_OBJECT_0 && got != WAIT_ABANDONED) return false;
  bool taken = false;
  if (seen == self || ThreadHasEnded(seen)) {
    AtGap(kGapHolderEnded, word);
    taken = InterlockedCompareExchange(word, value, seen) == seen;
  }
  ReleaseMutex(mutex);
  return taken;
}

void CloseTakeOverGuard(TakeOverGuard& guard) {
  if (guard.mutex) CloseHandle(guard.mutex);
  guard.mutex = nullptr;
}

bool TakeThreadLock(ThreadLock& lock, const Deadline& deadline, const char* what, const char* name) {
  const LONG self = static_cast<LONG>(GetCurrentThreadId());
  LockWait wait(deadline);
  for (;;) {
    const LONG seen = InterlockedCompareExchange(&lock.holder, self, 0);
    if (seen == 0) return true;
    if (seen == self && TakeFromEndedThread(lock.guard, &lock.holder, seen, self, self)) return true;
    if (!wait.Step()) return false;
    if (wait.TimeToLook() && TakeFromEndedThread(lock.guard, &lock.holder, seen, self, self)) {
      LogWritef("ThreadLock", "thread %ld ended holding %s of %s; it is taken over", static_cast<long>(seen), what,
                name);
      return true;
    }
  }
}

void ReleaseThreadLock(ThreadLock& lock) {
  InterlockedCompareExchange(&lock.holder, 0, static_cast<LONG>(GetCurrentThreadId()));
}
