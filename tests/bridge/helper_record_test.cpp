// QX20481Bridge32.exe against records that lie about their lengths, calls
// it does not know, and the end of its display host, with this test
// process in the place of the 64-bit plug-in. The helper runs the real
// 32-bit plug-in (beside it in the build), without a layer in the folder.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "bridge_channel.h"
#include "bridge_log.h"
#include "bridge_names.h"
#include "channel.h"
#include "test_support.h"

extern const char kBridgeLogName[] = "helper_record_test";

namespace {

constexpr char kLoadFailed[] = "Failed to load MediaPadLayer.dll";

class HelperRecord : public ::testing::Test {
 protected:
  void SetUp() override {
    section_ = BridgeSectionName("QX20481", GetCurrentProcessId());
    ASSERT_TRUE(BridgeOpen(section_.c_str()));
  }
  void TearDown() override {
    if (helper_.process) {
      TerminateProcess(helper_.process, 1);
      vt::WaitChild(helper_, 5000);
    }
  }
  void StartHelper(DWORD parent) {
    helper_ =
        vt::StartChildWithOutputFile("\"" + vt::ProgramDirectory() + "QX20481Bridge32.exe\" " + std::to_string(parent) +
                                         " " + section_ + " QX20481 \"" + vt::ProgramDirectory() + "QX20481.dll\"",
                                     "", dir_.path() + "\\helper.txt");
    ASSERT_NE(helper_.process, nullptr);
  }
  // Sends `record` and waits up to 10 s for the helper's answer to it.
  bool RoundTrip(BridgeRecord& record) {
    record.done = 0;
    record.request_id = ++number_;
    CommsSend(kBridgeSlot, &record, kBridgeRecordSize);
    CommsSignal(kBridgeSlot, kRequestEvent);
    for (DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(1)) {
      CommsRecv(kBridgeSlot, &answer_, kBridgeRecordSize);
      if (answer_.done && answer_.request_id == record.request_id) return true;
    }
    return false;
  }
  bool HelperRuns() { return WaitForSingleObject(helper_.process, 0) == WAIT_TIMEOUT; }

  vt::ScopedTempDir dir_;
  std::string section_;
  vt::ChildProcess helper_;
  int32_t number_ = 0;
  BridgeRecord answer_ = {};
};

BridgeRecord Request(BridgeCall call, int32_t text_length, char fill) {
  static BridgeRecord record;
  memset(&record, 0, sizeof record);
  record.opcode = call;
  record.text_length = text_length;
  memset(record.text, fill, sizeof record.text);  // no terminator anywhere
  return record;
}

}  // namespace

// A length from the other process is never taken as it stands: too long,
// negative, or with no terminator in the text, the helper reads only the
// record, answers, and serves on.
TEST_F(HelperRecord, LengthsThatReachOutsideTheRecordAreBoundedAndServedOn) {
  StartHelper(GetCurrentProcessId());
  for (int32_t length : {0x7fffffff, kBridgeTextSize, -5}) {
    BridgeRecord init = Request(kBridgeInit, length, 'g');
    ASSERT_TRUE(RoundTrip(init)) << length;
    EXPECT_EQ(answer_.ok, 0);
    EXPECT_EQ(answer_.text_length, static_cast<int32_t>(strlen(kLoadFailed)));
    EXPECT_STREQ(answer_.text, kLoadFailed);
    BridgeRecord write = Request(kBridgeWrite, length, 'w');
    ASSERT_TRUE(RoundTrip(write)) << length;
    EXPECT_EQ(answer_.text_length, 0);
  }
  EXPECT_TRUE(HelperRuns());
}

TEST_F(HelperRecord, AnUnknownCallIsAnsweredAndQuitEndsTheHelper) {
  StartHelper(GetCurrentProcessId());
  BridgeRecord unknown = Request(static_cast<BridgeCall>(99), 0, 0);
  ASSERT_TRUE(RoundTrip(unknown));
  EXPECT_TRUE(HelperRuns());
  BridgeRecord quit = Request(kBridgeQuit, 0, 0);
  ASSERT_TRUE(RoundTrip(quit));
  EXPECT_EQ(vt::WaitChild(helper_, 5000), 0);
  helper_ = {};
}

// Without a job object (as where one cannot be had) the helper still ends
// with its display host, which it watches.
TEST_F(HelperRecord, HelperEndsWhenTheProcessItServesEnds) {
  // The display host's stand-in: another helper, which lives until it is
  // ended (it serves this test process on a section of its own).
  vt::ChildProcess display_host =
      vt::StartChild("\"" + vt::ProgramDirectory() + "QX20481Bridge32.exe\" " + std::to_string(GetCurrentProcessId()) +
                     " " + section_ + ".other QX20481 QX20481.dll");
  ASSERT_NE(display_host.process, nullptr);
  StartHelper(display_host.pid);
  BridgeRecord unknown = Request(static_cast<BridgeCall>(99), 0, 0);
  ASSERT_TRUE(RoundTrip(unknown));
  TerminateProcess(display_host.process, 1);
  vt::WaitChild(display_host, 5000);
  EXPECT_EQ(vt::WaitChild(helper_, 5000), 0);
  helper_ = {};
}

TEST_F(HelperRecord, AWrongCommandLineOrAnEndedDisplayHostEndsTheHelperWithStatus2) {
  vt::ChildProcess no_arguments = vt::StartChild("\"" + vt::ProgramDirectory() + "QX20481Bridge32.exe\"");
  EXPECT_EQ(vt::WaitChild(no_arguments, 5000), 2);
  StartHelper(0xFFFFFFF0u);  // no such process
  EXPECT_EQ(vt::WaitChild(helper_, 5000), 2);
  helper_ = {};
  // A name that would reach outside the helper's folder.
  vt::ChildProcess outside =
      vt::StartChild("\"" + vt::ProgramDirectory() + "QX20481Bridge32.exe\" " + std::to_string(GetCurrentProcessId()) +
                     " " + section_ + " ..\\QX20481 QX20481.dll");
  EXPECT_EQ(vt::WaitChild(outside, 5000), 2);
}
