// The helper's side of a call, in this process: a record whose text
// length lies never lets the plug-in read past the record's text, even
// when no terminator stands in it and the bytes behind the record are not
// zero.
#include "plugin32_calls.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "guarded_call.h"

extern const char kBridgeLogName[] = "plugin32_calls_test";

namespace {

// A record with bytes behind it that are no terminator, as the memory
// behind the helper's record may be.
struct RecordAndMore {
  BridgeRecord record;
  char behind[64];
};
RecordAndMore g_memory;

size_t g_seen_length;
const char* WINAPI SeeInit(uint32_t, uint32_t, const char* parameters, uint8_t* ok) {
  g_seen_length = strlen(parameters);
  *ok = 1;
  return "ready";
}
void WINAPI SeeWrite(const char* text) { g_seen_length = strlen(text); }

}  // namespace

TEST(Plugin32Calls, TheTextThePluginReadsEndsInsideTheRecordWhateverItsLengthSays) {
  Plugin32Calls calls;
  calls.Load(GetModuleHandleA(nullptr));  // a plug-in without entry points, as loaded
  calls.init = SeeInit;
  calls.write = SeeWrite;
  for (const BridgeCall call : {kBridgeInit, kBridgeWrite}) {
    for (const int32_t length : {0x7fffffff, kBridgeTextSize, -5, 100}) {
      SCOPED_TRACE(std::to_string(call) + " " + std::to_string(length));
      memset(&g_memory, 'x', sizeof g_memory);
      g_memory.record.opcode = call;
      g_memory.record.position_first = 0;
      g_memory.record.text_length = length;
      g_seen_length = 0;
      EXPECT_TRUE(calls.Serve(g_memory.record));
      const size_t bound = length < 0 ? 0 : (length < kBridgeTextSize - 1 ? length : kBridgeTextSize - 1);
      EXPECT_EQ(g_seen_length, bound);
    }
  }
}

namespace {

int g_calls;
volatile int* volatile g_nowhere = nullptr;  // a handle its vanished device left null

void WINAPI FaultingWrite(const char*) {
  ++g_calls;
  *g_nowhere = 1;
}
const char* WINAPI InitThatFaultsAfterItsOk(uint32_t, uint32_t, const char*, uint8_t* ok) {
  *ok = 1;
  return reinterpret_cast<const char*>(static_cast<uintptr_t>(*g_nowhere));
}
uint16_t WINAPI FaultingReadKey() { return static_cast<uint16_t>(*g_nowhere); }

void TakeOwnFault(void* taken) {
  GuardedFault inner;
  *static_cast<bool*>(taken) = !GuardedCall([](void*) { *g_nowhere = 2; }, nullptr, &inner);
}

}  // namespace

// A fault inside a plug-in call ends that call only: the record says which
// fault, the answers are those of a call that gave none, and the helper and
// the plug-in's state go on, call after call.
TEST(Plugin32Calls, AFaultInsideACallEndsThatCallAndThePluginGoesOn) {
  Plugin32Calls calls;
  calls.Load(GetModuleHandleA(nullptr));
  calls.write = FaultingWrite;
  calls.init = InitThatFaultsAfterItsOk;
  calls.read_key = FaultingReadKey;
  static BridgeRecord record;
  g_calls = 0;
  // The code is the system's: an access violation natively; under user-mode
  // emulation of 32-bit code it may report another, the same every time.
  uint32_t code = 0;
  for (int i = 0; i < 200; ++i) {
    record = BridgeRecord{};
    record.opcode = kBridgeWrite;
    record.text_length = 3;
    memcpy(record.text, "abc", 4);
    ASSERT_TRUE(calls.Serve(record));
    if (i == 0) code = record.fault_code;
    EXPECT_NE(record.fault_code, 0u);
    EXPECT_EQ(record.fault_code, code);
    EXPECT_EQ(record.text_length, 0);
  }
  EXPECT_EQ(g_calls, 200);
  EXPECT_NE(record.fault_address, 0u);

  record = BridgeRecord{};
  record.opcode = kBridgeInit;
  ASSERT_TRUE(calls.Serve(record));
  EXPECT_EQ(record.fault_code, code);
  EXPECT_EQ(record.ok, 1) << "the OK byte as the plug-in set it before its fault";

  record = BridgeRecord{};
  record.opcode = kBridgeReadKey;
  ASSERT_TRUE(calls.Serve(record));
  EXPECT_EQ(record.result, 0xFF00);

  calls.write = SeeWrite;
  record = BridgeRecord{};
  record.opcode = kBridgeWrite;
  record.text_length = 5;
  memcpy(record.text, "fine!", 6);
  ASSERT_TRUE(calls.Serve(record));
  EXPECT_EQ(record.fault_code, 0u);
  EXPECT_EQ(g_seen_length, 5u);
}

// A handler of the plug-in's own takes its fault first: the guard around
// the call never sees it.
TEST(Plugin32Calls, APluginsOwnHandlerTakesItsFaultBeforeTheGuard) {
  bool taken = false;
  GuardedFault outer;
  EXPECT_TRUE(GuardedCall(TakeOwnFault, &taken, &outer));
  EXPECT_TRUE(taken);
  EXPECT_EQ(outer.code, 0u);
}
