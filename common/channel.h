#pragma once
// The shared-memory channel: a table of named, page-file-backed sections,
// each mapped once for the life of the module.

#include <windows.h>

#include <cstdint>

#include "request_block.h"

constexpr int kChannelSlots = 10;

// The two wake-up events beside a section, named after it: the proxy
// signals kRequestEvent after it has written a request, the host
// kReplyEvent after it has written an answer back.
enum ChannelEvent { kRequestEvent, kReplyEvent, kChannelEventCount };

struct ChannelSlot {
  int32_t started;  // CommsStart has run for the slot, whatever its outcome
  HANDLE mapping;
  void* view;       // null when creating or mapping the section failed
  int32_t size;     // mapped length
  HANDLE events[kChannelEventCount];  // null: that side of the hand-over is polled only
};

// What the host program's and the proxy library's copies of the channel do
// differently; each deliverable links the one that describes it.
struct ChannelFlavour {
  bool trace_before_slot_test;  // push "CommsStart" before the slot test
  bool log_initialising;        // log "Initialising" "Shared memoory" after it
  bool log_size;                // success line carries the size as well
  bool trace_recv;              // CommsRecv pushes "CommsRecv"
};
extern const ChannelFlavour kChannelFlavour;

extern ChannelSlot g_channel[kChannelSlots];

// Creates or opens the section and maps it, then creates or opens the
// events "<name>.Request" and "<name>.Reply" (auto-reset). An event that
// cannot be had (a name taken by an object of another type) is logged and
// left null: the channel then polls, as it does with a peer that never
// signals.
void CommsStart(int32_t slot, int32_t access, const char* name, int32_t size);
// Makes the next CommsStart open no events, so that this process plays a
// peer that only polls (for tests and the benchmark).
void CommsDisableSignals();
// Both copy under the section's hand-over lock (see channel.cpp). They
// return null, touching no memory, when the slot has no view or the length
// does not fit the view; otherwise the view (send) or dst (receive).
void* CommsSend(int32_t slot, const void* src, int32_t len);
void* CommsRecv(int32_t slot, void* dst, int32_t len);

// The host's write-back of an answered block: writes the whole block only
// while the section still holds the request it answers (same opcode and
// request number, not yet answered). Returns whether it was written.
bool CommsSendReply(int32_t slot, const RequestBlock& reply);

// Wakes the other side's wait on `event`; nothing without that event.
void CommsSignal(int32_t slot, ChannelEvent event);
// One poll interval: waits at most `milliseconds` for `event`, or sleeps
// them through without it. True when the other side's signal ended it.
bool CommsWait(int32_t slot, ChannelEvent event, uint32_t milliseconds);
