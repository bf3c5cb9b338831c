// process_call against fake vendor functions that record what they got.
// Needs a fresh process per case (as vorn_gtest runs them): a missing entry
// point is logged once a process.
#include "process_call.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "debug_log.h"
#include "log_lines.h"
#include "test_support.h"
#include "vendor_library.h"

namespace {

struct Seen {
  int calls = 0;
  uint64_t device = 0;
  int32_t code = 0;
  const void* record = nullptr;
  uint8_t record_bytes[92] = {};
  uint64_t position_in = 0;
};
Seen g_seen;
uint64_t g_position_out;
int32_t g_result;

int32_t FakeFirst(uint64_t* position) {
  ++g_seen.calls;
  g_seen.position_in = *position;
  *position = g_position_out;
  return g_result;
}
int32_t FakeNext(uint64_t* position) { return FakeFirst(position); }
int32_t FakeControl(uint64_t device, int32_t code, void* record) {
  ++g_seen.calls;
  g_seen.device = device;
  g_seen.code = code;
  g_seen.record = record;
  memcpy(g_seen.record_bytes, record, 32);
  return g_result;
}
int32_t FakeInfo(uint64_t device, void* record) {
  ++g_seen.calls;
  g_seen.device = device;
  g_seen.record = record;
  memcpy(g_seen.record_bytes, record, 92);
  uint8_t* info = static_cast<uint8_t*>(record) + 4;
  for (int i = 0; i < 64; ++i) info[i] = static_cast<uint8_t>(0xA0 + i);
  memset(static_cast<uint8_t*>(record) + 68, 0xEE, 24);  // must not come back
  return g_result;
}

class ProcessCall : public ::testing::Test {
 protected:
  void SetUp() override {
    g_vendor = {nullptr, FakeFirst, FakeNext, FakeControl, FakeInfo};
    g_seen = Seen{};
    g_result = 0;
    g_device_handle = 0;
    memset(&g_host_block, 0, sizeof g_host_block);
    for (int i = 0; i < kPayloadSize; ++i) g_host_block.payload[i] = static_cast<uint8_t>(i);
  }
  void Request(int32_t code) {
    g_host_block.opcode = code;
    g_host_block.pending_opcode = code;
  }
  void SetPayloadWord(int offset, int32_t value) { memcpy(g_host_block.payload + offset, &value, 4); }
  uint64_t PositionWord() {
    uint64_t v;
    memcpy(&v, g_host_block.payload, 8);
    return v;
  }
  vt::ScopedTempDir dir_;
};

}  // namespace

TEST_F(ProcessCall, PositionRequestsWidenWithoutSignAndCarryTheLowWordBack) {
  Request(kRequestGetFirstDevicePosition);
  g_host_block.args[0] = -1;
  g_position_out = 0x123456789ABCDEF0ull;
  g_result = 7;
  process_call();
  EXPECT_EQ(g_seen.position_in, 0x00000000FFFFFFFFull);
  EXPECT_EQ(g_host_block.result, 7);
  EXPECT_EQ(g_host_block.args[0], static_cast<int32_t>(0x9ABCDEF0));
  EXPECT_EQ(PositionWord(), 0x123456789ABCDEF0ull);
  EXPECT_EQ(g_device_handle, 0u);  // the first position never sets the device
}

TEST_F(ProcessCall, DispatchFollowsThePendingCodeAndNextPositionKeepsTheWholeDevice) {
  g_host_block.opcode = kRequestGetFirstDevicePosition;
  g_host_block.pending_opcode = kRequestGetNextDevicePosition;
  g_position_out = 0x0000000500000010ull;
  process_call();
  EXPECT_EQ(g_device_handle, 0x0000000500000010ull);
  EXPECT_EQ(g_host_block.args[0], 0x10);

  // End of the list: low word all ones leaves the device as it was.
  g_position_out = 0x00000007FFFFFFFFull;
  process_call();
  EXPECT_EQ(g_host_block.args[0], -1);
  EXPECT_EQ(g_device_handle, 0x0000000500000010ull);

  Request(kRequestGetFirstDevicePosition);
  g_position_out = 0x99;
  process_call();
  EXPECT_EQ(g_device_handle, 0x0000000500000010ull);
}

TEST_F(ProcessCall, ControlWithAHeaderOf24GetsA32ByteRecordPointingIntoTheBlock) {
  Request(kRequestDeviceControl);
  g_host_block.args[0] = 0x1111;  // the proxy's device value never reaches the vendor
  g_host_block.args[1] = 5;
  SetPayloadWord(0, 24);
  SetPayloadWord(4, 0x44);
  SetPayloadWord(8, 0x88);
  SetPayloadWord(12, 144);
  g_result = -9;
  process_call();
  ASSERT_EQ(g_seen.calls, 1);
  EXPECT_EQ(g_seen.device, 0u);
  EXPECT_EQ(g_seen.code, 5);
  int32_t words[4];
  memcpy(words, g_seen.record_bytes, 16);
  EXPECT_EQ(words[0], 32);
  EXPECT_EQ(words[1], 0x44);
  EXPECT_EQ(words[2], 0x88);
  EXPECT_EQ(words[3], 144);
  uint64_t address;
  memcpy(&address, g_seen.record_bytes + 16, 8);
  EXPECT_EQ(address, reinterpret_cast<uintptr_t>(g_host_block.payload + 24));
  EXPECT_EQ(g_host_block.result, -9);
}

TEST_F(ProcessCall, ControlWithAnyOtherFirstWordPassesThePayloadItself) {
  Request(kRequestDeviceControl);
  for (int32_t first : {0, 23, 25, 31, 33, -24}) {
    SetPayloadWord(0, first);
    SetPayloadWord(12, 100000);  // not looked at without a header of 24
    g_seen = Seen{};
    process_call();
    EXPECT_EQ(g_seen.record, g_host_block.payload) << first;
  }
}

TEST_F(ProcessCall, AHeaderShapedLikeTheSixtyFourBitRecordIsRefused) {
  // A first word of 32 would make the vendor read bytes 16-23 as a data
  // address that the sending process chose.
  Request(kRequestDeviceControl);
  SetPayloadWord(0, 32);
  process_call();
  EXPECT_EQ(g_seen.calls, 0);
  EXPECT_EQ(g_host_block.result, kNotServed);
  auto lines = vt::HostLogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "process_call LD_DeviceControl refused: a header of 32 would pass an address from the block");
}

TEST_F(ProcessCall, ControlDataLengthsOutsideTheBlockAreRefused) {
  Request(kRequestDeviceControl);
  SetPayloadWord(0, 24);
  for (int32_t length : {-1, 145, 0x7fffffff, static_cast<int32_t>(0x80000000)}) {
    SetPayloadWord(12, length);
    g_host_block.result = 0;
    process_call();
    EXPECT_EQ(g_host_block.result, kNotServed) << length;
  }
  EXPECT_EQ(g_seen.calls, 0);
  auto lines = vt::HostLogLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "process_call LD_DeviceControl refused: data length -1 does not fit the block");
  SetPayloadWord(12, 0);
  process_call();
  EXPECT_EQ(g_seen.calls, 1);
}

TEST_F(ProcessCall, InformationMovesExactly64BytesAndLeavesTheRestAsSent) {
  Request(kRequestGetDeviceInfo);
  g_device_handle = 0xAB00000000000001ull;
  RequestBlock before = g_host_block;
  g_result = 3;
  process_call();
  EXPECT_EQ(g_seen.device, 0xAB00000000000001ull);
  int32_t size;
  memcpy(&size, g_seen.record_bytes, 4);
  EXPECT_EQ(size, 92);
  EXPECT_EQ(memcmp(g_seen.record_bytes + 4, before.payload + 4, 64), 0);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(g_host_block.payload[4 + i], 0xA0 + i);
  EXPECT_EQ(memcmp(g_host_block.payload, before.payload, 4), 0);
  EXPECT_EQ(memcmp(g_host_block.payload + 68, before.payload + 68, 100), 0);
  EXPECT_EQ(g_host_block.result, 3);
  EXPECT_EQ(memcmp(g_host_block.args, before.args, sizeof before.args), 0);
}

TEST_F(ProcessCall, AnUnknownCodeIsLoggedAndLeftAsSent) {
  Request(3);
  strcpy(g_host_block.function_name, "LD_Something");
  RequestBlock before = g_host_block;
  process_call();
  EXPECT_EQ(memcmp(&g_host_block, &before, sizeof before), 0);
  EXPECT_EQ(g_seen.calls, 0);
  auto lines = vt::HostLogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "***** process_call - Invalid Function ***** LD_Something");
}

TEST_F(ProcessCall, AnUnterminatedFunctionNameIsNeverReadPastItsField) {
  Request(99);
  memset(g_host_block.function_name, 'Z', sizeof g_host_block.function_name);
  g_host_block.result = 0x41414141;  // the bytes right behind the field
  process_call();
  auto lines = vt::HostLogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "***** process_call - Invalid Function ***** " + std::string(32, 'Z'));
}

TEST_F(ProcessCall, AMissingEntryPointIsNeverCalledAndAnswersMinusOne) {
  g_vendor = {};
  for (int round = 0; round < 3; ++round) {
    for (int32_t code : {kRequestDeviceControl, kRequestGetFirstDevicePosition, kRequestGetNextDevicePosition,
                         kRequestGetDeviceInfo}) {
      Request(code);
      g_host_block.result = 0;
      process_call();
      EXPECT_EQ(g_host_block.result, kNotServed) << code;
    }
  }
  EXPECT_EQ(g_device_handle, 0u);
  // One line per missing function, however often it is asked for.
  auto lines = vt::HostLogLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "process_call LD_DeviceControl is not bound; its requests are answered with -1");
  EXPECT_EQ(lines[1], "process_call LD_GetFirstDevicePosition is not bound; its requests are answered with -1");
  EXPECT_EQ(lines[2], "process_call LD_GetNextDevicePosition is not bound; its requests are answered with -1");
  EXPECT_EQ(lines[3], "process_call LD_GetDeviceInfo is not bound; its requests are answered with -1");
}
