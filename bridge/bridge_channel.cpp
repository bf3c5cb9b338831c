#include "bridge_channel.h"

#include <windows.h>

#include <cstring>

#include "channel.h"

namespace {

constexpr size_t kLockEnd = offsetof(BridgeRecord, lock) + sizeof(int32_t);

// Runs `change` on the section's record while holding its lock, if the
// record there is still `request`, unanswered.
template <typename Change>
bool WithSameRequest(const BridgeRecord& request, Change change) {
  BridgeRecord* current = static_cast<BridgeRecord*>(g_channel[kBridgeSlot].view);
  if (!current) return false;
  CommsTakeLock(kBridgeSlot);
  const bool same =
      current->opcode == request.opcode && current->request_id == request.request_id && current->done == 0;
  if (same) change(current);
  CommsReleaseLock(kBridgeSlot);
  return same;
}

}  // namespace

std::string BridgeSectionName(unsigned long pid) { return kBridgeSectionStem + std::to_string(pid); }

bool BridgeOpen(const char* section_name) {
  CommsStart(kBridgeSlot, kMapAllAccess, section_name, kBridgeRecordSize);
  return g_channel[kBridgeSlot].view != nullptr;
}

bool BridgeSendReply(const BridgeRecord& reply) {
  return WithSameRequest(reply, [&](BridgeRecord* current) {
    // The lock word stays the holder's; everything else is the reply.
    memcpy(current, &reply, offsetof(BridgeRecord, lock));
    memcpy(reinterpret_cast<char*>(current) + kLockEnd, reinterpret_cast<const char*>(&reply) + kLockEnd,
           sizeof reply - kLockEnd);
  });
}

bool BridgeWithdraw(const BridgeRecord& request) {
  return WithSameRequest(request, [](BridgeRecord* current) { current->opcode = kBridgeNone; });
}
