// The real Vorn64BitInterface.exe under Wine, against the stand-in device
// library at the fixed vendor path, fed through the fixed section.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

#include "channel.h"
#include "echo_rules.h"
#include "host_process.h"
#include "host_program_names.h"
#include "pad_protocol.h"
#include "unique_handle.h"

namespace {

// Whether the host program of that process has said that it is ready.
bool SaysReady(DWORD pid) {
  char name[MAX_PATH];
  if (!HostReadyEventName(kSectionName, pid, name, sizeof name)) return false;
  HANDLE ready = OpenEventA(SYNCHRONIZE, FALSE, name);
  const bool set = ready && WaitForSingleObject(ready, 0) == WAIT_OBJECT_0;
  if (ready) CloseHandle(ready);
  return set;
}

void ControlHeader(RequestBlock& b, int32_t arg1, int32_t arg2, const char* data) {
  const int32_t words[4] = {24, arg1, arg2, static_cast<int32_t>(strlen(data))};
  memcpy(b.payload, words, sizeof words);
  memcpy(b.payload + 24, data, strlen(data));
}

}  // namespace

TEST(HostEndToEnd, ServesEnumerationInformationAndControlFromTheEmulatedPad) {
  vt::ScopedTempDir dir;
  HostProcess host("KHALAPI.dll");
  ASSERT_TRUE(host.running());

  RequestBlock first = NewRequest(kRequestGetFirstDevicePosition, "LD_GetFirstDevicePosition");
  first.args[0] = 77;
  ASSERT_TRUE(host.Call(first));
  EXPECT_EQ(first.result, 0);
  EXPECT_EQ(first.args[0], 0);

  RequestBlock next = NewRequest(kRequestGetNextDevicePosition, "LD_GetNextDevicePosition");
  ASSERT_TRUE(host.Call(next));
  EXPECT_EQ(next.result, 0);
  EXPECT_EQ(static_cast<uint32_t>(next.args[0]), static_cast<uint32_t>(kPadDeviceBase));

  RequestBlock info = NewRequest(kRequestGetDeviceInfo, "LD_GetDeviceInfo");
  info.payload[0] = 64;
  ASSERT_TRUE(host.Call(info));
  EXPECT_EQ(info.result, 0);
  uint64_t uid;
  memcpy(&uid, info.payload + 4, 8);
  EXPECT_EQ(uid, kPadUidBase);
  EXPECT_EQ(info.payload[0], 64);
  EXPECT_STREQ(reinterpret_cast<char*>(info.payload + 20), "MediaPad");

  RequestBlock line = NewRequest(kRequestDeviceControl, "LD_DeviceControl");
  line.args[1] = kPadCmdSetLine;
  ControlHeader(line, 0, 2, "Hello from test!");
  ASSERT_TRUE(host.Call(line));
  EXPECT_EQ(line.result, kPadOk);
  std::string state = vt::ReadFileBytes(kPadStateFile);
  EXPECT_NE(state.find("line0=|Hello from test!|"), std::string::npos) << state;
}

TEST(HostEndToEnd, TheLogOpensWithTheRuleTheOpeningTimeTheChannelAndTheBinding) {
  vt::ScopedTempDir dir;
  HostProcess host("KHALAPI.dll");
  ASSERT_TRUE(host.WaitForLogLine("Init KhalApi.dll loaded"));
  auto lines = HostProcess::LogLines();
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[0], std::string(67, '='));
  const std::string stamp = R"(\d\d:\d\d:\d\d\.\d\d\d )";
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(stamp + R"(Log file Opened at \d\d/\d\d/\d\d \d\d:\d\d:\d\d)")))
      << lines[1];
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(stamp + "CommsStart entry 0 address 0x[0-9a-f]{8}"))) << lines[2];
  const char* names[] = {"LD_GetFirstDevicePosition", "LD_GetNextDevicePosition", "LD_DeviceControl",
                         "LD_GetDeviceInfo"};
  for (int i = 0; i < 4; ++i)
    EXPECT_TRUE(std::regex_match(lines[3 + i], std::regex(stamp + "GETFN " + names[i] + " at address 0x[0-9A-F]{16}")))
        << lines[3 + i];
  EXPECT_TRUE(std::regex_match(lines[7], std::regex(stamp + "Init KhalApi.dll loaded")));
  // Then it says it is ready, for as long as it runs.
  for (int i = 0; i < 100 && !SaysReady(host.pid()); ++i) Sleep(10);
  EXPECT_TRUE(SaysReady(host.pid()));
}

TEST(HostEndToEnd, AnUnknownCodeIsAnsweredUnchangedAndLogged) {
  vt::ScopedTempDir dir;
  HostProcess host("KHALAPI.dll");
  RequestBlock bogus = NewRequest(3, "LD_Bogus");
  for (int i = 0; i < kPayloadSize; ++i) bogus.payload[i] = static_cast<uint8_t>(i ^ 0x3c);
  bogus.args[0] = 11;
  bogus.args[1] = 22;
  RequestBlock sent = bogus;
  ASSERT_TRUE(host.Call(bogus));
  sent.done = 1;
  sent.request_id = bogus.request_id;
  EXPECT_EQ(memcmp(&bogus, &sent, sizeof sent), 0);
  EXPECT_TRUE(host.WaitForLogLine("***** process_call - Invalid Function ***** LD_Bogus"));
}

TEST(HostEndToEnd, AnAnsweredBlockLeftInTheSectionIsNotServedAgain) {
  vt::ScopedTempDir dir;
  HostProcess host("KHALAPI_recording.dll");
  ASSERT_TRUE(host.WaitForLogLine("Init KhalApi.dll loaded"));
  RequestBlock answered = NewRequest(kRequestGetFirstDevicePosition, "LD_GetFirstDevicePosition");
  answered.done = 1;
  answered.result = 4321;
  CommsSend(kRequestSlot, &answered, kBlockSize);
  Sleep(300);
  EXPECT_FALSE(vt::FileExists("khalapi.calls"));
  RequestBlock seen;
  CommsRecv(kRequestSlot, &seen, kBlockSize);
  EXPECT_EQ(memcmp(&seen, &answered, sizeof seen), 0);

  RequestBlock fresh = NewRequest(kRequestGetFirstDevicePosition, "LD_GetFirstDevicePosition");
  ASSERT_TRUE(host.Call(fresh));
  Sleep(300);
  EXPECT_EQ(vt::FileLines("khalapi.calls").size(), 1u);
}

TEST(HostEndToEnd, WithoutDeviceControlTheHostStillAnswers) {
  vt::ScopedTempDir dir;
  HostProcess host("KHALAPI_nocontrol.dll");
  ASSERT_TRUE(host.WaitForLogLine("Failed at GetProcAddress for khalapi.dll/ LD_DeviceControl"));
  RequestBlock control = NewRequest(kRequestDeviceControl, "LD_DeviceControl");
  ControlHeader(control, 1, 0, "");
  ASSERT_TRUE(host.Call(control));
  EXPECT_EQ(control.result, -1);
  RequestBlock first = NewRequest(kRequestGetFirstDevicePosition, "LD_GetFirstDevicePosition");
  first.args[0] = 5;
  ASSERT_TRUE(host.Call(first));
  EXPECT_EQ(first.args[0], 0);

  auto lines = HostProcess::LogLines();
  ASSERT_GE(lines.size(), 6u);
  EXPECT_NE(lines[3].find(" GETFN LD_GetFirstDevicePosition at address 0x"), std::string::npos);
  EXPECT_NE(lines[4].find(" GETFN LD_GetNextDevicePosition at address 0x"), std::string::npos);
  EXPECT_NE(lines[5].find(" Failed at GetProcAddress for khalapi.dll/ LD_DeviceControl"), std::string::npos);
  for (const std::string& l : lines) {
    EXPECT_EQ(l.find(" Init "), std::string::npos) << l;
    EXPECT_EQ(l.find("LD_GetDeviceInfo at"), std::string::npos) << l;
  }
}

// A peer that knows nothing of the lock word or the events: it copies whole
// blocks in and out of the section with plain copies and polls every 1 ms.
TEST(HostEndToEnd, AnswersEveryRequestOfAPeerThatCopiesRawBlocksAndOnlyPolls) {
  vt::ScopedTempDir dir;
  HostProcess host("KHALAPI_echo.dll");
  ASSERT_TRUE(host.WaitForLogLine("Init KhalApi.dll loaded"));
  HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kSectionName);
  ASSERT_NE(mapping, nullptr);
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, kSectionSize);
  ASSERT_NE(view, nullptr);
  for (int32_t i = 0; i < 300; ++i) {
    const bool first = i % 2 == 0;
    RequestBlock request = first ? NewRequest(kRequestGetFirstDevicePosition, "LD_GetFirstDevicePosition")
                                 : NewRequest(kRequestGetNextDevicePosition, "LD_GetNextDevicePosition");
    request.args[0] = 1000 + i;
    request.request_id = i + 1;
    memcpy(view, &request, sizeof request);
    RequestBlock seen = {};
    for (DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(1)) {
      memcpy(&seen, view, sizeof seen);
      if (seen.done && seen.request_id == request.request_id) break;
    }
    ASSERT_EQ(seen.done, 1) << "request " << i;
    // A plain copy may meet the host's write half-way; the host does not
    // touch an answered block again, so a second look sees it whole.
    Sleep(1);
    memcpy(&seen, view, sizeof seen);
    EXPECT_EQ(seen.result, EchoPositionResult(1000 + i, first)) << "request " << i;
    EXPECT_EQ(static_cast<uint32_t>(seen.args[0]), static_cast<uint32_t>(EchoPosition(1000 + i, first)))
        << "request " << i;
  }
  UnmapViewOfFile(view);
  CloseHandle(mapping);
}

// Two hosts would serve one block twice: a host started while another runs
// says so in the log and ends at once, and the first one serves on.
TEST(HostEndToEnd, AHostStartedWhileAnotherRunsEndsAtOnceAndTheFirstServesOn) {
  vt::ScopedTempDir dir;
  HostProcess host("KHALAPI_echo.dll");
  ASSERT_TRUE(host.WaitForLogLine("Init KhalApi.dll loaded")) << vt::ReadFileBytes("Vorn64BitInterface.log");
  // Its ready event is made before it runs, so that it outlives the
  // process and shows whether that ever set it.
  HANDLE thread = nullptr;
  vt::ChildProcess second = vt::StartChildSuspended("Vorn64BitInterface.exe", &thread);
  ASSERT_NE(second.process, nullptr);
  char name[MAX_PATH];
  ASSERT_TRUE(HostReadyEventName(kSectionName, second.pid, name, sizeof name));
  ScopedHandle second_ready(CreateEventA(nullptr, TRUE, FALSE, name));
  ASSERT_TRUE(second_ready);
  ResumeThread(thread);
  CloseHandle(thread);
  EXPECT_EQ(vt::WaitChild(second, 10000), 0);
  // It never said it was ready: it serves nothing. (Its launcher tells this
  // end from a failed start by the first host's mutex.)
  EXPECT_EQ(WaitForSingleObject(second_ready.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(host.WaitForLogLine("Init another host program serves Vorn64BitInterface; this one ends"));
  // The second one bound no vendor library: one binding in the log.
  int bindings = 0;
  for (const std::string& line : HostProcess::LogLines()) bindings += line.find("Init KhalApi.dll loaded") != line.npos;
  EXPECT_EQ(bindings, 1);
  RequestBlock first = NewRequest(kRequestGetFirstDevicePosition, "LD_GetFirstDevicePosition");
  first.args[0] = 5;
  ASSERT_TRUE(host.Call(first));
  EXPECT_EQ(first.result, EchoPositionResult(5, true));
}
