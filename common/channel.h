#pragma once
// The shared-memory channel: a table of named, page-file-backed sections,
// each mapped once for the life of the module.

#include <windows.h>

#include <cstdint>

#include "request_block.h"

constexpr int kChannelSlots = 10;

struct ChannelSlot {
  int32_t started;  // CommsStart has run for the slot, whatever its outcome
  HANDLE mapping;
  void* view;       // null when creating or mapping the section failed
  int32_t size;     // mapped length
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

void CommsStart(int32_t slot, int32_t access, const char* name, int32_t size);
// Both copy under the section's hand-over lock (see channel.cpp). They
// return null, touching no memory, when the slot has no view or the length
// does not fit the view; otherwise the view (send) or dst (receive).
void* CommsSend(int32_t slot, const void* src, int32_t len);
void* CommsRecv(int32_t slot, void* dst, int32_t len);

// The host's write-back of an answered block: writes the whole block only
// while the section still holds the request it answers (same opcode and
// request number, not yet answered). Returns whether it was written.
bool CommsSendReply(int32_t slot, const RequestBlock& reply);
