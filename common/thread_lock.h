#pragma once
// Words that this process's threads take by thread id: a channel slot's
// local lock, the proxy's lock around opening what its calls need, and the
// callers' turn among threads. A thread ended from outside while it holds
// one (TerminateThread) never lets go, so a waiter takes the word over from
// it, and never two at once, though the system gives an ended thread's id
// to the next thread it makes:
//  - a waiter judges the holder ended, and makes its compare-exchange
//    against it, only while it holds the word's take-over guard: an unnamed
//    mutex, made at the first take-over, which a thread that ends holding
//    it leaves abandoned rather than held;
//  - a thread that finds its own id in a word it does not hold (a thread
//    that had that id ended holding it) takes it under the guard too, so
//    that no waiter is between judging that id ended and its
//    compare-exchange. Its own id alone never makes the word its own.

#include <windows.h>

#include "wait_seam.h"

struct TakeOverGuard {
  void* volatile mutex;  // null until the first take-over
};

// Whether the thread with that id has ended. An id that now belongs to a
// thread of another process is the ended one's; one given to a new thread
// of this process looks alive, and its waiters give up at their deadlines.
bool ThreadHasEnded(LONG id);

// Replaces `seen`, a thread id in `word`, by `value` when that thread has
// ended, or when `seen` is `self` (the caller's own id, in a word that the
// caller does not hold), with a compare-exchange under `guard`. False while
// that thread runs, while another thread's take-over holds the guard, or
// when the word no longer holds `seen`.
bool TakeFromEndedThread(TakeOverGuard& guard, volatile LONG* word, LONG seen, LONG value, LONG self);
// For a module that is being unloaded.
void CloseTakeOverGuard(TakeOverGuard& guard);

// A lock among this process's threads whose every wait has a deadline, and
// which a thread that ended holding it keeps from the others for at most
// one look (LockWait: after the first millisecond's pause).
struct ThreadLock {
  volatile LONG holder;  // the holder's thread id; 0: free
  TakeOverGuard guard;
};

// False when it could not be had by `deadline`. A take-over is logged as
// "ThreadLock thread <id> ended holding <what> of <name>; it is taken over".
bool TakeThreadLock(ThreadLock& lock, const Deadline& deadline, const char* what, const char* name);
void ReleaseThreadLock(ThreadLock& lock);
