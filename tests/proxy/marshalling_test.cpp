// The bytes each export puts into the block, what it takes back, and the
// calls it refuses.
#include <algorithm>
#include <cstring>

#include "host_launcher.h"
#include "proxy_fixture.h"
#include "request_call.h"
#include "stdout_capture.h"
#include "vorn_apx.h"

namespace {

// A caller's control record: header, data, and a tail that must never be sent.
struct ControlRecord {
  int32_t header[6];
  uint8_t data[200];
};

ControlRecord MakeControl(int32_t header_size, int32_t data_length) {
  ControlRecord r;
  for (int i = 0; i < 6; ++i) r.header[i] = 0x11111111 * (i + 1);
  r.header[0] = header_size;
  r.header[3] = data_length;
  for (int i = 0; i < 200; ++i) r.data[i] = static_cast<uint8_t>(0x80 + i);
  return r;
}

struct InfoRecord {
  int32_t count;
  uint8_t bytes[200];
};

int PayloadBytesInUse(const RequestBlock& b) {
  int last = 0;
  for (int i = 0; i < kPayloadSize; ++i)
    if (b.payload[i]) last = i + 1;
  return last;
}

void AnswerWith77(RequestBlock& b) { b.result = 77; }

void ScribbleAndAnswer(RequestBlock& b) {
  memset(b.payload, 0xEE, sizeof b.payload);
  b.result = 5;
}

// Reverses the information bytes and answers with the count.
void ReverseInfo(RequestBlock& b) {
  const int n = b.payload[0] + 256 * b.payload[1];
  for (int i = 0; i < n / 2; ++i) std::swap(b.payload[4 + i], b.payload[4 + n - 1 - i]);
  b.result = n;
}

void PositionPlusOne(RequestBlock& b) {
  b.args[0] += 1;
  b.result = b.pending_opcode;
}

}  // namespace

TEST_F(ProxyTest, DeviceControlSendsTheHeaderAndOnlyTheDataItAnnounces) {
  FakeHost::serve = AnswerWith77;
  struct Case {
    int32_t header_size, data_length, bytes_sent;
  } cases[] = {{20, 999, 24}, {20, -5, 24}, {32, 10, 24}, {24, 0, 24}, {24, 7, 31}, {24, 144, 168}};
  for (const Case& c : cases) {
    ControlRecord record = MakeControl(c.header_size, c.data_length);
    const ControlRecord before = record;
    EXPECT_EQ(LD_DeviceControl(0x1234, 9, &record), 77) << c.header_size << " " << c.data_length;
    const RequestBlock& sent = FakeHost::served.back();
    EXPECT_EQ(PayloadBytesInUse(sent), c.bytes_sent);
    EXPECT_EQ(memcmp(sent.payload, &record, c.bytes_sent), 0);
    EXPECT_EQ(sent.opcode, kRequestDeviceControl);
    EXPECT_EQ(sent.pending_opcode, kRequestDeviceControl);
    EXPECT_STREQ(sent.function_name, "LD_DeviceControl");
    EXPECT_EQ(sent.args[0], 0x1234);
    EXPECT_EQ(sent.args[1], 9);
    EXPECT_EQ(memcmp(&record, &before, sizeof record), 0);
  }
  EXPECT_EQ(FakeHost::served.size(), 6u);
}

TEST_F(ProxyTest, DeviceControlLeavesTheCallersRecordAloneWhateverComesBack) {
  FakeHost::serve = ScribbleAndAnswer;
  ControlRecord record = MakeControl(24, 144);
  const ControlRecord before = record;
  EXPECT_EQ(LD_DeviceControl(1, 2, &record), 5);
  EXPECT_EQ(memcmp(&record, &before, sizeof record), 0);
}

TEST_F(ProxyTest, GetDeviceInfoSendsTheCountAndBytesAndTakesTheReplyBack) {
  FakeHost::serve = ReverseInfo;
  InfoRecord record;
  record.count = 130;
  for (int i = 0; i < 200; ++i) record.bytes[i] = static_cast<uint8_t>(i + 1);
  EXPECT_EQ(LD_GetDeviceInfo(0x55, &record), 130);
  const RequestBlock& sent = FakeHost::served.back();
  EXPECT_EQ(sent.opcode, kRequestGetDeviceInfo);
  EXPECT_STREQ(sent.function_name, "LD_GetDeviceInfo");
  EXPECT_EQ(sent.args[0], 0x55);
  EXPECT_EQ(sent.payload[0], 130);
  EXPECT_EQ(sent.payload[1], 0);
  EXPECT_EQ(sent.payload[2], 0);
  EXPECT_EQ(sent.payload[3], 0);
  EXPECT_EQ(PayloadBytesInUse(sent), 4 + 130);
  EXPECT_EQ(record.count, 130);
  for (int i = 0; i < 130; ++i) ASSERT_EQ(record.bytes[i], 130 - i) << i;
  for (int i = 130; i < 200; ++i) ASSERT_EQ(record.bytes[i], i + 1) << "beyond the count " << i;
}

// A reply that says 164 bytes (only a host that changes the count sends
// one) is clipped to the room its caller gave: nothing past the record.
TEST_F(ProxyTest, GetDeviceInfoNeverWritesPastTheCountItsCallerGave) {
  FakeHost::serve = [](RequestBlock& b) {
    b.payload[0] = 164;  // the most the block holds
    memset(b.payload + 4, 0x3C, 164);
    b.result = 6;
  };
  for (int32_t count : {0, 8}) {
    InfoRecord record = {};
    record.count = count;
    memset(record.bytes, 0x01, sizeof record.bytes);
    EXPECT_EQ(LD_GetDeviceInfo(0, &record), 6);
    EXPECT_EQ(PayloadBytesInUse(FakeHost::served.back()), count == 0 ? 0 : 4 + count);
    EXPECT_EQ(record.count, count) << "the count says how many bytes were copied";
    for (int i = 0; i < count; ++i) ASSERT_EQ(record.bytes[i], 0x3C) << i;
    for (int i = count; i < 200; ++i) ASSERT_EQ(record.bytes[i], 0x01) << "past the record, count " << count;
  }
}

TEST_F(ProxyTest, PositionCallsSendTheWordAndStoreTheOneThatComesBack) {
  FakeHost::serve = PositionPlusOne;
  int32_t position = -1;
  EXPECT_EQ(LD_GetFirstDevicePosition(&position), kRequestGetFirstDevicePosition);
  EXPECT_EQ(position, 0);
  EXPECT_STREQ(FakeHost::served.back().function_name, "LD_GetFirstDevicePosition");
  EXPECT_EQ(FakeHost::served.back().args[0], -1);
  position = 0x7FFFFFFE;
  EXPECT_EQ(LD_GetNextDevicePosition(&position), kRequestGetNextDevicePosition);
  EXPECT_EQ(position, 0x7FFFFFFF);
  EXPECT_STREQ(FakeHost::served.back().function_name, "LD_GetNextDevicePosition");
  EXPECT_EQ(FakeHost::served.back().opcode, kRequestGetNextDevicePosition);
}

TEST_F(ProxyTest, EveryRequestCarriesItsOwnNumberAndOnlyTheLockWordZero) {
  FakeHost::serve = PositionPlusOne;
  int32_t position = 0;
  for (int i = 0; i < 5; ++i) LD_GetNextDevicePosition(&position);
  ASSERT_EQ(FakeHost::served.size(), 5u);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_NE(FakeHost::served[i].request_id, 0);
    EXPECT_EQ(FakeHost::served[i].lock, 0);
    for (size_t j = 0; j < i; ++j) EXPECT_NE(FakeHost::served[i].request_id, FakeHost::served[j].request_id);
  }
}

// Lengths the block cannot hold, and missing records: -1, and nothing is
// sent, read past the block or written.
TEST_F(ProxyTest, RecordsTheBlockCannotHoldAreRefusedBeforeAnythingIsSent) {
  FakeHost::serve = AnswerWith77;
  for (int32_t data_length : {-1, 145, 0x7FFFFFFF, static_cast<int32_t>(0x80000000)}) {
    ControlRecord record = MakeControl(24, data_length);
    EXPECT_EQ(LD_DeviceControl(0, 0, &record), -1) << data_length;
  }
  EXPECT_EQ(LD_DeviceControl(0, 0, nullptr), -1);
  for (int32_t count : {-1, 165, 65536}) {
    InfoRecord record = {};
    record.count = count;
    EXPECT_EQ(LD_GetDeviceInfo(0, &record), -1) << count;
    EXPECT_EQ(record.count, count);
  }
  EXPECT_EQ(LD_GetDeviceInfo(0, nullptr), -1);
  EXPECT_EQ(LD_GetFirstDevicePosition(nullptr), -1);
  EXPECT_EQ(LD_GetNextDevicePosition(nullptr), -1);
  EXPECT_TRUE(FakeHost::served.empty());
  EXPECT_EQ(FakeHost::Section().opcode, 0);
  EXPECT_EQ(FakeHost::polls, 0);
}

TEST_F(ProxyTest, AReplyCountTheBlockCannotHoldLeavesTheRecordAsItWas) {
  FakeHost::serve = [](RequestBlock& b) {
    b.payload[0] = 165;
    memset(b.payload + 4, 0x99, 164);
  };
  InfoRecord record = {};
  record.count = 3;
  memset(record.bytes, 0x01, sizeof record.bytes);
  EXPECT_EQ(LD_GetDeviceInfo(0, &record), -1);
  EXPECT_EQ(record.count, 3);
  for (uint8_t b : record.bytes) ASSERT_EQ(b, 0x01);
}

TEST_F(ProxyTest, NoAnswerTimesOutAfterTheFullBudgetWithOutputsAsSent) {
  StdoutCapture out;
  int32_t position = 4711;
  EXPECT_EQ(LD_GetFirstDevicePosition(&position), -1);
  EXPECT_EQ(position, 4711);
  // The call's one budget: the launcher's wait after it found the host, then
  // 1 ms waits, each followed by a read, for the rest of it.
  EXPECT_EQ(FakeHost::polls, kReplyBudgetMs - kLauncherWaitMs);
  std::string printed = out.Finish();
  printed.erase(std::remove(printed.begin(), printed.end(), '\r'), printed.end());
  EXPECT_EQ(printed, "**** Timeout ****\n");
  EXPECT_EQ(LogLines(), std::vector<std::string>{"callfn timed out"});

  InfoRecord record = {};
  record.count = 2;
  record.bytes[0] = 8;
  record.bytes[1] = 9;
  EXPECT_EQ(LD_GetDeviceInfo(0, &record), -1);
  EXPECT_EQ(record.count, 2);
  EXPECT_EQ(record.bytes[0], 8);
  EXPECT_EQ(record.bytes[1], 9);
}
