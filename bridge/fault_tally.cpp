#include "fault_tally.h"

#include "debug_log.h"

namespace {

// Kinds told apart; a plug-in with more than this many faulting places has
// the rest counted under the last.
constexpr size_t kMostKinds = 32;

bool PowerOfTen(uint64_t n) {
  while (n % 10 == 0 && n > 1) n /= 10;
  return n == 1;
}

}  // namespace

const char* BridgeCallName(int32_t opcode) {
  static const char* const kNames[] = {"none",
                                       "Init",
                                       "Done",
                                       "Write",
                                       "PowerResume",
                                       "quit",
                                       "SetPosition",
                                       "CustomChar",
                                       "CustomCharIndex",
                                       "ReadKey",
                                       "SetBacklight",
                                       "SetContrast",
                                       "SetBrightness",
                                       "SetGPO",
                                       "SetFan",
                                       "SetColor",
                                       "Usage",
                                       "DriverName",
                                       "DefaultParameters"};
  return opcode >= 0 && opcode < static_cast<int32_t>(sizeof kNames / sizeof kNames[0]) ? kNames[opcode] : "unknown";
}

bool FaultTally::Note(const BridgeRecord& answer) {
  if (answer.fault_code == 0) return false;
  Kind* kind = nullptr;
  for (Kind& seen : kinds_)
    if (seen.opcode == answer.opcode && seen.code == answer.fault_code && seen.address == answer.fault_address)
      kind = &seen;
  if (!kind && kinds_.size() < kMostKinds) {
    kinds_.push_back(Kind{answer.opcode, answer.fault_code, answer.fault_address, 0, 0});
    kind = &kinds_.back();
  }
  if (!kind) kind = &kinds_.back();
  ++kind->count;
  if (kind->count == 1) {
    LogWritef("Fault",
              "%s raised exception 0x%08lx at 0x%08lx inside the 32-bit plug-in; the call was ended there and the "
              "plug-in goes on (the same again is counted, not logged)",
              BridgeCallName(kind->opcode), static_cast<unsigned long>(kind->code),
              static_cast<unsigned long>(kind->address));
    kind->logged = 1;
  } else if (PowerOfTen(kind->count)) {
    Flush();
  }
  return true;
}

void FaultTally::Flush() {
  for (Kind& kind : kinds_) {
    if (kind.count == kind.logged) continue;
    LogWritef("Fault", "%s: exception 0x%08lx at 0x%08lx %llu times so far", BridgeCallName(kind.opcode),
              static_cast<unsigned long>(kind.code), static_cast<unsigned long>(kind.address),
              static_cast<unsigned long long>(kind.count));
    kind.logged = kind.count;
  }
}
