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
constexpr DWORD kStaleLockMs = 1000;

volatile LONG* LockWord(const ChannelSlot& s) {
  return reinterpret_cast<volatile LONG*>(static_cast<char*>(s.view) + kLockOffset);
}

void LockSection(const ChannelSlot& s) {
  volatile LONG* word = LockWord(s);
  const LONG tag = static_cast<LONG>(GetCurrentProcessId());
  LONG holder = 0;  // the holder whose time is being counted
  DWORD since = GetTickCount();
  for (unsigned spin = 0;; ++spin) {
    const LONG seen = InterlockedCompareExchange(word, tag, 0);
    if (seen == 0) return;
    if (seen != holder) {
      // Another holder, or another take-over: its time starts now.
      holder = seen;
      since = GetTickCount();
    }
    if (spin < 64) {
      YieldProcessor();
      continue;
    }
    Sleep(0);
    // Taken over only from the holder that has kept it too long, so that of
    // two waiters that both find it stale, one takes it and the other
    // counts the new holder's time anew.
    if (GetTickCount() - since > kStaleLockMs && InterlockedCompareExchange(word, tag, holder) == holder) return;
  }
}

void UnlockSection(const ChannelSlot& s) { InterlockedExchange(LockWord(s), 0); }

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

bool CommsSendReply(int32_t slot, const RequestBlock& reply) {
  TraceScope trace("CommsSend");
  const ChannelSlot* s = UsableSlot(slot, kBlockSize);
  if (!s) return false;
  LockSection(*s);
  const RequestBlock* current = static_cast<const RequestBlock*>(s->view);
  const bool same_request =
      current->opcode == reply.opcode && current->request_id == reply.request_id && current->done == 0;
  if (same_request) CopyOut(static_cast<char*>(s->view), reinterpret_cast<const char*>(&reply), kBlockSize);
  UnlockSection(*s);
  return same_request;
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
