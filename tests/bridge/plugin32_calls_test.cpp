// The helper's side of a call, in this process: a record whose text
// length lies never lets the plug-in read past the record's text, even
// when no terminator stands in it and the bytes behind the record are not
// zero.
#include "plugin32_calls.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

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
