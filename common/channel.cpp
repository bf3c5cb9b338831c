#include "channel.h"

#include <cstdio>
#include <cstring>

#include "debug_log.h"
#include "trace_stack.h"
#include "wait_seam.h"

ChannelSlot g_channel[kChannelSlots];

// The hand-over rule and the wake-up are described in channel.h.

namespace {

constexpr int kLockOffset = 4;
// A waiter's steps: spins, then yields, then 1 ms waits; while it waits it
// looks once in so many of those milliseconds whether the holder's process
// has ended.
constexpr unsigned kLockSpins = 64;
constexpr unsigned kLockYields = 16;
constexpr unsigned kHolderCheckEveryMs = 16;

volatile LONG* LockWord(const ChannelSlot& s) {
  return reinterpret_cast<volatile LONG*>(static_cast<char*>(s.view) + kLockOffset);
}

LONG OwnLockTag() { return static_cast<LONG>(GetCurrentProcessId()); }

// Only an ended process can never release a lock. A process that cannot be
// opened for any other reason than not existing (access denied) counts as
// running.
bool HolderHasEnded(LONG holder) {
  if (holder == OwnLockTag()) return false;
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(holder));
  if (!process) return GetLastError() == ERROR_INVALID_PARAMETER;
  const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

void LockSection(const ChannelSlot& s) {
  volatile LONG* word = LockWord(s);
  const LONG tag = OwnLockTag();
  for (unsigned attempt = 0;; ++attempt) {
    const LONG seen = InterlockedCompareExchange(word, tag, 0);
    if (seen == 0) return;
    if (attempt < kLockSpins) {
      YieldProcessor();
    } else if (attempt < kLockSpins + kLockYields) {
      SwitchToThread();
    } else {
      Sleep(1);
      // Of two waiters that find the same dead holder, one takes it over.
      if ((attempt - kLockSpins - kLockYields) % kHolderCheckEveryMs == 0 && HolderHasEnded(seen) &&
          InterlockedCompareExchange(word, tag, seen) == seen)
        return;
    }
  }
}

// A lock taken over meanwhile (this process was thought to have ended) is
// the new holder's, and stays so.
void UnlockSection(const ChannelSlot& s) { InterlockedCompareExchange(LockWord(s), 0, OwnLockTag()); }

// Copies [0, len) but for the lock word.
void CopyOut(char* view, const char* src, int32_t len) {
  int32_t head = len < kLockOffset ? len : kLockOffset;
  memcpy(view, src, head);
  if (len > kLockOffset + 4) memcpy(view + kLockOffset + 4, src + kLockOffset + 4, len - kLockOffset - 4);
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

const ChannelSlot* UsableSlot(int32_t slot, int32_t len) {
  if (slot < 0 || slot >= kChannelSlots) return nullptr;
  const ChannelSlot& s = g_channel[slot];
  if (!s.view || len < 0 || len > s.size || s.size < kLockOffset + 4) return nullptr;
  return &s;
}

void OpenSection(int32_t slot, int32_t access, const char* name, int32_t size) {
  ChannelSlot& s = g_channel[slot];
  s.started = 1;
  s.mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, static_cast<DWORD>(size), name);
  if (!s.mapping) {
    LogWritef("CommsStart", "Could not open file mapping object %d error:%d\n", slot, static_cast<int>(GetLastError()));
    return;
  }
  s.view = MapViewOfFile(s.mapping, access != kMapWrite ? FILE_MAP_ALL_ACCESS : FILE_MAP_WRITE, 0, 0,
                         static_cast<SIZE_T>(size));
  if (!s.view) {
    LogWritef("CommsStart", "Could not map view of file %d error:%d\n", slot, static_cast<int>(GetLastError()));
    CloseHandle(s.mapping);
    s.mapping = nullptr;
    return;
  }
  s.size = size;
  snprintf(s.name, sizeof s.name, "%s", name);
  const unsigned address = static_cast<unsigned>(reinterpret_cast<uintptr_t>(s.view));
  if (kChannelFlavour.log_size) {
    LogWritef("CommsStart", "entry %d address 0x%08x, size=0x%08x (%d)", slot, address, static_cast<unsigned>(size),
              size);
  } else {
    LogWritef("CommsStart", "entry %d address 0x%08x", slot, address);
  }
  OpenEvents(s, name);
}

}  // namespace

void CommsStart(int32_t slot, int32_t access, const char* name, int32_t size) {
  // The proxy's copy traces the slot test as well; the host's only what follows it.
  const bool trace_test = kChannelFlavour.trace_before_slot_test;
  if (trace_test) TracePush("CommsStart");
  if (slot >= 0 && slot < kChannelSlots && !g_channel[slot].started) {
    if (!trace_test) TracePush("CommsStart");
    if (kChannelFlavour.log_initialising) LogWrite("Initialising", "Shared memoory");
    OpenSection(slot, access, name, size);
    if (!trace_test) TracePop();
  }
  if (trace_test) TracePop();
}

void* CommsSend(int32_t slot, const void* src, int32_t len) {
  TraceScope trace("CommsSend");
  const ChannelSlot* s = UsableSlot(slot, len);
  if (!s) return nullptr;
  LockSection(*s);
  CopyOut(static_cast<char*>(s->view), static_cast<const char*>(src), len);
  UnlockSection(*s);
  return s->view;
}

void* CommsRecv(int32_t slot, void* dst, int32_t len) {
  if (kChannelFlavour.trace_recv) TracePush("CommsRecv");
  void* result = nullptr;
  if (const ChannelSlot* s = UsableSlot(slot, len)) {
    LockSection(*s);
    CopyIn(static_cast<char*>(dst), static_cast<const char*>(s->view), len);
    UnlockSection(*s);
    result = dst;
  }
  if (kChannelFlavour.trace_recv) TracePop();
  return result;
}

void* CommsLockView(int32_t slot, int32_t len) {
  const ChannelSlot* s = UsableSlot(slot, len);
  if (!s) return nullptr;
  LockSection(*s);
  return s->view;
}

void CommsCopyKeepingLock(void* record, const void* src, int32_t len) {
  CopyOut(static_cast<char*>(record), static_cast<const char*>(src), len);
}

bool CommsSendReply(int32_t slot, const RequestBlock& reply) {
  TraceScope trace("CommsSend");
  return CommsChangeUnanswered(slot, reply,
                               [&](RequestBlock& current) { CommsCopyKeepingLock(&current, &reply, kBlockSize); });
}

bool CommsWithdrawRequest(int32_t slot, const RequestBlock& request) {
  return CommsChangeUnanswered(slot, request, [](RequestBlock& current) { current.opcode = kNoRequest; });
}

int32_t CommsNextRequestNumber() {
  static uint32_t last;
  if (last == 0) last = (GetCurrentProcessId() * 2654435761u) ^ (GetTickCount() << 7);
  if (++last == 0) ++last;
  return static_cast<int32_t>(last);
}

void CommsTakeLock(int32_t slot) {
  if (const ChannelSlot* s = UsableSlot(slot, kBlockSize)) LockSection(*s);
}

void CommsReleaseLock(int32_t slot) {
  if (const ChannelSlot* s = UsableSlot(slot, kBlockSize)) UnlockSection(*s);
}

bool CommsObjectName(int32_t slot, const char* suffix, char* name, size_t size) {
  if (slot < 0 || slot >= kChannelSlots || !g_channel[slot].view) return false;
  const int n = snprintf(name, size, "%s%s", g_channel[slot].name, suffix);
  return n > 0 && static_cast<size_t>(n) < size;
}

void CommsDisableSignals() { g_signals_disabled = true; }

void CommsSignal(int32_t slot, ChannelEvent event) {
  if (slot < 0 || slot >= kChannelSlots) return;
  if (HANDLE e = g_channel[slot].events[event]) SetEvent(e);
}

bool CommsWait(int32_t slot, ChannelEvent event, uint32_t milliseconds) {
  const bool known = slot >= 0 && slot < kChannelSlots;
  return VornWait(known ? g_channel[slot].events[event] : nullptr, milliseconds);
}

bool CommsTakeSignal(int32_t slot, ChannelEvent event) {
  if (slot < 0 || slot >= kChannelSlots || !g_channel[slot].events[event]) return false;
  return WaitForSingleObject(g_channel[slot].events[event], 0) == WAIT_OBJECT_0;
}

bool CommsSignalAndWait(int32_t slot, ChannelEvent signal, ChannelEvent event, uint32_t milliseconds) {
  const bool known = slot >= 0 && slot < kChannelSlots;
  return VornSignalAndWait(known ? g_channel[slot].events[signal] : nullptr,
                           known ? g_channel[slot].events[event] : nullptr, milliseconds);
}
