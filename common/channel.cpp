#include "channel.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "debug_log.h"
#include "gap_seam.h"
#include "lock_wait.h"
#include "step_times.h"
#include "trace_stack.h"
#include "unique_handle.h"
#include "wait_seam.h"

ChannelSlot g_channel[kChannelSlots];

// The hand-over rule and the wake-up are described in channel.h.

namespace {

constexpr int kLockOffset = 4;
constexpr int kDoneOffset = 8;

volatile LONG* Word(void* view, int offset) {
  return reinterpret_cast<volatile LONG*>(static_cast<char*>(view) + offset);
}

void HolderObjectName(const ChannelSlot& s, LONG tag, char* name, size_t size) {
  snprintf(name, size, "%s%s%ld", s.name, kHolderSuffix, static_cast<long>(tag));
}

// A holder is known by its tag and by the event "<section>.Holder.<tag>"
// that it keeps open while its slot is open (OpenHolderObject). The event
// goes with the process, so a tag that is used again (a process id given
// out anew) by a process that does not use the section is never taken for
// the holder. Whoever judges a holder ended makes that event itself and
// keeps it until its compare-exchange is done: meanwhile no process is
// given the tag (OpenHolderObject takes only a tag whose event is new) and
// nobody else judges the holder ended. Null while the holder runs, or when
// the name cannot be had for any other reason than not existing.
HANDLE ClaimEndedHolder(const ChannelSlot& s, LONG holder) {
  char name[MAX_PATH + 32];
  HolderObjectName(s, holder, name, sizeof name);
  HANDLE claim = CreateEventA(nullptr, TRUE, FALSE, name);
  if (claim && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(claim);
    return nullptr;
  }
  return claim;
}

// Replaces `seen`, a tag in a word beside the section, by `value` when its
// holder has ended. The slot's own tag needs no claim: its event is ours,
// so nobody else has it or is judging it ended; a caller that does not
// hold the word finds it left by a thread of this process that ended while
// it held the word, or by an ended process whose tag this slot was given
// once nobody was judging it any more (or written back by a peer that
// copies whole blocks).
bool TakeFromEndedHolder(const ChannelSlot& s, volatile LONG* word, LONG seen, LONG value) {
  ScopedHandle claim(seen == s.lock_tag ? nullptr : ClaimEndedHolder(s, seen));
  if (seen != s.lock_tag && !claim) return false;
  AtGap(kGapHolderEnded, word);
  return InterlockedCompareExchange(word, value, seen) == seen;
}

bool LockSection(ChannelSlot& s, const Deadline& deadline) {
  if (!TakeThreadLock(s.local_lock, deadline, "the local lock", s.name)) return false;
  volatile LONG* word = Word(s.view, kLockOffset);
  const LONG tag = s.lock_tag;
  LockWait wait(deadline);
  for (;;) {
    const LONG seen = InterlockedCompareExchange(word, tag, 0);
    if (seen == 0) return true;
    // Our own tag, while no thread of ours holds the lock (we hold the
    // local lock): see TakeFromEndedHolder.
    if (seen == tag && TakeFromEndedHolder(s, word, seen, tag)) return true;
    // A holder that is merely paused keeps its lock: the waiter gives up
    // at its deadline instead.
    if (!wait.Step()) break;
    if (wait.TimeToLook() && TakeFromEndedHolder(s, word, seen, tag)) {
      LogWritef("CommsLock", "holder %ld of %s has ended; its lock is taken over", static_cast<long>(seen), s.name);
      return true;
    }
  }
  ReleaseThreadLock(s.local_lock);
  return false;
}

// A lock taken over meanwhile (this process was thought to have ended) is
// the new holder's, and stays so.
void UnlockSection(ChannelSlot& s) {
  InterlockedCompareExchange(Word(s.view, kLockOffset), 0, s.lock_tag);
  ReleaseThreadLock(s.local_lock);
}

// Copies [0, len) but for the lock word, in an order that leaves no block
// half-written that anyone would act on: the opcode is cleared first, then
// the record behind `done` is written, then `done`, and the opcode last,
// each behind a barrier. A writer that ends inside the copy (and whose lock
// is taken over) leaves a block without an opcode, which reads as no
// request and as no answer. A test may stop the writer after each write.
void CopyOut(char* view, const char* src, int32_t len) {
  if (len < kDoneOffset + 4) {
    memcpy(view, src, len < kLockOffset ? len : kLockOffset);
    if (len > kLockOffset + 4) memcpy(view + kLockOffset + 4, src + kLockOffset + 4, len - kLockOffset - 4);
    return;
  }
  LONG opcode, done;
  memcpy(&opcode, src, sizeof opcode);
  memcpy(&done, src + kDoneOffset, sizeof done);
  const GapHook hook = g_gap_hook;
  InterlockedExchange(Word(view, 0), 0);
  AtGap(hook, kGapCopyOpcodeCleared, view);
  memcpy(view + kDoneOffset + 4, src + kDoneOffset + 4, len - kDoneOffset - 4);
  AtGap(hook, kGapCopyRecordWritten, view);
  InterlockedExchange(Word(view, kDoneOffset), done);
  AtGap(hook, kGapCopyDoneWritten, view);
  InterlockedExchange(Word(view, 0), opcode);
}

void CopyIn(char* dst, const char* view, int32_t len) {
  int32_t head = len < kLockOffset ? len : kLockOffset;
  memcpy(dst, view, head);
  for (int32_t i = kLockOffset; i < len && i < kLockOffset + 4; ++i) dst[i] = 0;
  if (len > kLockOffset + 4) memcpy(dst + kLockOffset + 4, view + kLockOffset + 4, len - kLockOffset - 4);
}

bool g_signals_disabled;

const char* const kEventSuffix[kChannelEventCount] = {".Request", ".Reply"};

void OpenEvents(ChannelSlot& s, const char* name) {
  if (g_signals_disabled) return;
  for (int e = 0; e < kChannelEventCount; ++e) {
    char event_name[MAX_PATH];
    snprintf(event_name, sizeof event_name, "%s%s", name, kEventSuffix[e]);
    s.events[e] = CreateEventA(nullptr, FALSE, FALSE, event_name);
    if (!s.events[e]) {
      LogWritef("CommsStart", "Could not open event %s error:%d; that side is polled only", event_name,
                static_cast<int>(GetLastError()));
    }
  }
}

ChannelSlot* UsableSlot(int32_t slot, int32_t len) {
  if (slot < 0 || slot >= kChannelSlots) return nullptr;
  ChannelSlot& s = g_channel[slot];
  if (!s.view || len < 0 || len > s.size || s.size < kDoneOffset + 4) return nullptr;
  return &s;
}

LONG g_forced_tag[kChannelSlots];

// A tag that nobody has or is judging ended (ClaimEndedHolder): the process
// id where it is free (it reads well in a log), else a mixed value, until
// the event named after it is new. So two modules of one process that use
// one section (each with its own table) never share a tag. A tag forced by
// a test stands first, in place of the process id.
constexpr unsigned kTagAttempts = 16;

LONG CandidateTag(int32_t slot, unsigned attempt) {
  if (attempt == 0) return g_forced_tag[slot] ? g_forced_tag[slot] : static_cast<LONG>(GetCurrentProcessId());
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  uint64_t x = static_cast<uint64_t>(now.QuadPart) ^ (static_cast<uint64_t>(GetCurrentProcessId()) << 32) ^
               reinterpret_cast<uintptr_t>(&g_forced_tag) ^ attempt;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  x ^= x >> 31;
  const LONG tag = static_cast<LONG>(x & 0x7fffffff);
  return tag ? tag : 1;
}

void OpenHolderObject(ChannelSlot& s, int32_t slot) {
  char name[MAX_PATH + 32];
  for (unsigned attempt = 0; attempt < kTagAttempts; ++attempt) {
    s.lock_tag = CandidateTag(slot, attempt);
    HolderObjectName(s, s.lock_tag, name, sizeof name);
    s.holder_object = CreateEventA(nullptr, TRUE, FALSE, name);
    if (s.holder_object && GetLastError() != ERROR_ALREADY_EXISTS) return;
    if (s.holder_object) CloseHandle(s.holder_object);
    s.holder_object = nullptr;
  }
  LogWritef("CommsStart", "Could not open event %s error:%d; a lock left by this process may be taken over", name,
            static_cast<int>(GetLastError()));
}

void OpenSection(int32_t slot, int32_t access, const char* name, int32_t size) {
  ChannelSlot& s = g_channel[slot];
  s.started = 1;
  s.mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, static_cast<DWORD>(size), name);
  if (!s.mapping) {
    LogWritef("CommsStart", "Could not open file mapping object %d error:%d\n", slot, static_cast<int>(GetLastError()));
    return;
  }
  void* view = MapViewOfFile(s.mapping, access != kMapWrite ? FILE_MAP_ALL_ACCESS : FILE_MAP_WRITE, 0, 0,
                             static_cast<SIZE_T>(size));
  if (!view) {
    LogWritef("CommsStart", "Could not map view of file %d error:%d\n", slot, static_cast<int>(GetLastError()));
    CloseHandle(s.mapping);
    s.mapping = nullptr;
    return;
  }
  s.size = size;
  snprintf(s.name, sizeof s.name, "%s", name);
  const unsigned address = static_cast<unsigned>(reinterpret_cast<uintptr_t>(view));
  if (kChannelFlavour.log_size) {
    LogWritef("CommsStart", "entry %d address 0x%08x, size=0x%08x (%d)", slot, address, static_cast<unsigned>(size),
              size);
  } else {
    LogWritef("CommsStart", "entry %d address 0x%08x", slot, address);
  }
  OpenHolderObject(s, slot);
  OpenEvents(s, name);
  s.view = view;  // last: a slot with a view has all it needs
}

}  // namespace

// A slot whose section could not be had is opened again by the next call:
// the name may have been taken only for a while.
void CommsStart(int32_t slot, int32_t access, const char* name, int32_t size) {
  // The proxy's copy traces the slot test as well; the host's only what follows it.
  const bool trace_test = kChannelFlavour.trace_before_slot_test;
  if (trace_test) TracePush("CommsStart");
  if (slot >= 0 && slot < kChannelSlots && !g_channel[slot].view) {
    if (!trace_test) TracePush("CommsStart");
    if (kChannelFlavour.log_initialising) LogWrite("Initialising", "Shared memoory");
    OpenSection(slot, access, name, size);
    if (!trace_test) TracePop();
  }
  if (trace_test) TracePop();
}

void CommsStop(int32_t slot) {
  if (slot < 0 || slot >= kChannelSlots) return;
  ChannelSlot& s = g_channel[slot];
  if (s.view) UnmapViewOfFile(s.view);
  for (HANDLE h : {s.mapping, s.holder_object, s.events[kRequestEvent], s.events[kReplyEvent]})
    if (h) CloseHandle(h);
  CloseTakeOverGuard(s.local_lock.guard);
  s = ChannelSlot{};
}

void CommsUseLockTag(int32_t slot, LONG tag) {
  if (slot >= 0 && slot < kChannelSlots) g_forced_tag[slot] = tag;
}

void* CommsSend(int32_t slot, const void* src, int32_t len, const Deadline& deadline) {
  VORN_STEP(kStepCopyIn);
  TraceScope trace("CommsSend");
  ChannelSlot* s = UsableSlot(slot, len);
  if (!s || !LockSection(*s, deadline)) return nullptr;
  CopyOut(static_cast<char*>(s->view), static_cast<const char*>(src), len);
  UnlockSection(*s);
  return s->view;
}

void* CommsRecv(int32_t slot, void* dst, int32_t len, const Deadline& deadline) {
  VORN_STEP(kStepCopyOut);
  if (kChannelFlavour.trace_recv) TracePush("CommsRecv");
  void* result = nullptr;
  ChannelSlot* s = UsableSlot(slot, len);
  if (s && LockSection(*s, deadline)) {
    CopyIn(static_cast<char*>(dst), static_cast<const char*>(s->view), len);
    UnlockSection(*s);
    result = dst;
  }
  if (kChannelFlavour.trace_recv) TracePop();
  return result;
}

void* CommsLockView(int32_t slot, int32_t len, const Deadline& deadline) {
  ChannelSlot* s = UsableSlot(slot, len);
  if (!s || !LockSection(*s, deadline)) return nullptr;
  return s->view;
}

void CommsCopyKeepingLock(void* record, const void* src, int32_t len) {
  CopyOut(static_cast<char*>(record), static_cast<const char*>(src), len);
}

bool CommsSendReply(int32_t slot, const RequestBlock& reply) {
  VORN_STEP(kStepCopyIn);
  TraceScope trace("CommsSend");
  return CommsChangeUnanswered<RequestBlock>(
      slot, reply, [&](RequestBlock& current) { CommsCopyKeepingLock(&current, &reply, kBlockSize); });
}

int32_t CommsNextRequestNumber() {
  static uint32_t last;
  if (last == 0) last = (GetCurrentProcessId() * 2654435761u) ^ (GetTickCount() << 7);
  if (++last == 0) ++last;
  return static_cast<int32_t>(last);
}

bool CommsTakeLock(int32_t slot, const Deadline& deadline) {
  ChannelSlot* s = UsableSlot(slot, kBlockSize);
  return s && LockSection(*s, deadline);
}

void CommsReleaseLock(int32_t slot) {
  if (ChannelSlot* s = UsableSlot(slot, kBlockSize)) UnlockSection(*s);
}

bool CommsObjectName(int32_t slot, const char* suffix, char* name, size_t size) {
  if (slot < 0 || slot >= kChannelSlots || !g_channel[slot].view) return false;
  const int n = snprintf(name, size, "%s%s", g_channel[slot].name, suffix);
  return n > 0 && static_cast<size_t>(n) < size;
}

LONG CommsLockTag(int32_t slot) {
  if (slot < 0 || slot >= kChannelSlots || !g_channel[slot].view) return 0;
  return g_channel[slot].lock_tag;
}

bool CommsTakeFromEndedHolder(int32_t slot, volatile LONG* word, LONG seen, LONG value) {
  if (slot < 0 || slot >= kChannelSlots || !g_channel[slot].view) return false;
  return TakeFromEndedHolder(g_channel[slot], word, seen, value);
}

void CommsDisableSignals() { g_signals_disabled = true; }

void CommsSignal(int32_t slot, ChannelEvent event) {
  VORN_STEP(kStepSignalWait);
  if (slot < 0 || slot >= kChannelSlots) return;
  if (HANDLE e = g_channel[slot].events[event]) SetEvent(e);
}

bool CommsWait(int32_t slot, ChannelEvent event, uint32_t milliseconds) {
  VORN_STEP(kStepSignalWait);
  const bool known = slot >= 0 && slot < kChannelSlots;
  return VornWait(known ? g_channel[slot].events[event] : nullptr, milliseconds);
}

bool CommsTakeSignal(int32_t slot, ChannelEvent event) {
  VORN_STEP(kStepSignalWait);
  if (slot < 0 || slot >= kChannelSlots || !g_channel[slot].events[event]) return false;
  return WaitForSingleObject(g_channel[slot].events[event], 0) == WAIT_OBJECT_0;
}

bool CommsWatchForAnswer(int32_t slot, uint32_t microseconds) {
  VORN_STEP(kStepSignalWait);
  const ChannelSlot* s = UsableSlot(slot, kDoneOffset + 4);
  if (!s) return false;
  volatile LONG* opcode = Word(s->view, 0);
  volatile LONG* lock = Word(s->view, kLockOffset);
  volatile LONG* done = Word(s->view, kDoneOffset);
  const int64_t end = VornRealNowUs() + microseconds;
  for (;;) {
    if (*lock == 0 && (*done != 0 || *opcode == 0)) return true;
    if (VornRealNowUs() >= end) return false;
    YieldProcessor();
  }
}

bool CommsSignalAndWait(int32_t slot, ChannelEvent signal, ChannelEvent event, uint32_t milliseconds) {
  VORN_STEP(kStepSignalWait);
  const bool known = slot >= 0 && slot < kChannelSlots;
  return VornSignalAndWait(known ? g_channel[slot].events[signal] : nullptr,
                           known ? g_channel[slot].events[event] : nullptr, milliseconds);
}
