#pragma once
// The faults that the helper took inside the 32-bit plug-in's calls, for
// the bridge's log: each kind (the call, the exception code, the address)
// once in full, then as a count at 10, 100, 1000, ... of it, and what is
// left uncounted when the plug-in is freed. A plug-in that faults at every
// call writes a few lines, not one a call.

#include <cstdint>
#include <vector>

#include "bridge_record.h"

class FaultTally {
 public:
  // Looks at a helper's answer; true when the call faulted.
  bool Note(const BridgeRecord& answer);
  // The counts not yet logged.
  void Flush();

 private:
  struct Kind {
    int32_t opcode;
    uint32_t code, address;
    uint64_t count, logged;
  };
  std::vector<Kind> kinds_;
};

// The display host's name of a call ("Write"), for log lines.
const char* BridgeCallName(int32_t opcode);
