#include "bridge_channel.h"

#include <windows.h>

#include "channel.h"

bool BridgeOpen(const char* section_name) {
  CommsStart(kBridgeSlot, kMapAllAccess, section_name, kBridgeRecordSize);
  return g_channel[kBridgeSlot].view != nullptr;
}

bool BridgeSendReply(const BridgeRecord& reply) {
  return CommsChangeUnanswered<BridgeRecord>(
      kBridgeSlot, reply, [&](BridgeRecord& current) { CommsCopyKeepingLock(&current, &reply, kBridgeRecordSize); });
}
