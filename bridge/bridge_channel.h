#pragma once
// The bridge's section, on the channel of common/ (slot kBridgeSlot), and
// the two writes that must look at what the section holds first.

#include "bridge_record.h"

// Opens (or creates) the section and its two events; false without a view.
bool BridgeOpen(const char* section_name);

// Written back only while the section still holds that very request
// unanswered (same opcode and number): a request withdrawn or replaced
// meanwhile is never answered over.
bool BridgeSendReply(const BridgeRecord& reply);
