// The 64-bit bridge's calls when its helper stops answering or goes away,
// on the virtual clock: the bridge's code is built into this program, which
// plays the display host, and a scripted helper (scripted_helper.cpp)
// stands in for the real one. Time passes on the virtual clock only while
// a helper is up: its start takes what it takes, its silence costs no
// real time.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "bridge_identity.h"
#include "bridge_record.h"
#include "channel.h"
#include "helper_link.h"
#include "host_harness.h"
#include "test_support.h"
#include "wait_seam.h"

extern "C" {
const char* WINAPI DISPLAYDLL_Init(uint32_t size_x, uint32_t size_y, const char* parameters, uint8_t* ok);
void WINAPI DISPLAYDLL_SetBacklight(uint32_t on);
}

namespace {

constexpr char kHelperTail[] = "\\scripted_helper.exe";
constexpr int64_t kReleaseAtUs = 100 * 1000000LL;  // a held first call is answered this far into the call

struct Clock {
  std::string section;  // the bridge's, for its helper's events
  int64_t call_start_us = 0;
  bool hold = false;  // the helper holds its first call until it is released
  bool released = false;
};
Clock g_clock;

bool EventSet(const std::string& suffix) {
  HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, (g_clock.section + suffix).c_str());
  if (!event) return false;
  const bool set = WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
  CloseHandle(event);
  return set;
}

void SetNamedEvent(const std::string& suffix) {
  HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, (g_clock.section + suffix).c_str());
  if (event) SetEvent(event);
  if (event) CloseHandle(event);
}

// Whether the record in the bridge's section has been answered.
bool AnswerInSection() {
  static BridgeRecord record;
  return CommsRecv(kBridgeSlot, &record, kBridgeRecordSize, Deadline::In(0)) && record.opcode != kBridgeNone &&
         record.done == 1;
}

// The sleep behind every wait of the bridge: until the helper has said that
// it is ready no virtual time passes (the wait's share is taken back), and
// a helper that holds its first call is released 100 s into the call; its
// answer is then in the section before the bridge looks again, however
// long the helper takes to write it (no virtual time passes meanwhile).
void VirtualSleep(uint32_t milliseconds) {
  if (!EventSet(".Ready")) {
    Sleep(1);
    AdvanceVirtualClock(-1000LL * milliseconds);
    return;
  }
  if (g_clock.hold && !g_clock.released && VornNowUs() - g_clock.call_start_us >= kReleaseAtUs) {
    g_clock.released = true;
    SetNamedEvent(".Release");
    for (int i = 0; i < 60000 && !AnswerInSection(); ++i) Sleep(1);
  }
  Sleep(0);
}

class BridgeLink : public ::testing::Test {
 protected:
  void SetUp() override {
    vt::KillProcesses(kHelperTail);
    BridgeIdentity identity;
    identity.name = "Scripted";
    identity.folder = dir_.path() + "\\Scripted-32bit\\";
    identity.helper_path = vt::ProgramDirectory() + "scripted_helper.exe";
    identity.plugin32_path = identity.folder + "Scripted.dll";
    UseBridgeIdentity(identity);
    g_clock = Clock{};
    g_clock.section = "ScriptedBridge." + std::to_string(GetCurrentProcessId());
    SetSleepFunction(VirtualSleep);
    SetVirtualClock(true);
  }
  void TearDown() override {
    HelperRelease();
    SetVirtualClock(false);
    SetSleepFunction(nullptr);
    vt::KillProcesses(kHelperTail);
  }
  // Runs one display host call; the virtual milliseconds it took.
  template <typename Call>
  int64_t TimedMs(Call call) {
    g_clock.call_start_us = VornNowUs();
    call();
    return (VornNowUs() - g_clock.call_start_us) / 1000;
  }
  static void Helper(const char* mode) { SetEnvironmentVariableA("VORN_SCRIPTED_HELPER", mode); }

  vt::ScopedTempDir dir_;
};

// A helper that does not answer costs its call the call's bound, and no
// more; it is marked stuck, and the next call ends it and starts another.
TEST_F(BridgeLink, AHelperThatStopsAnsweringCostsOneCallItsBoundAndTheNextCallReplacesIt) {
  Helper("silent");
  uint8_t ok = 1;
  const char* text = nullptr;
  const int64_t took = TimedMs([&] { text = DISPLAYDLL_Init(16, 2, "p", &ok); });
  EXPECT_EQ(ok, 0);
  EXPECT_STREQ(text, "QX20481Bridge32.exe did not answer; see logs\\Scripted.bridge.log");
  EXPECT_GE(took, kHelperCallBudgetMs);
  EXPECT_LE(took, kBridgedCallBoundMs);
  const std::vector<DWORD> stuck = vt::FindProcesses(kHelperTail);
  ASSERT_EQ(stuck.size(), 1u);

  Helper("answer");
  const int64_t next = TimedMs([&] { text = DISPLAYDLL_Init(16, 2, "p", &ok); });
  EXPECT_EQ(ok, 1);
  EXPECT_STREQ(text, "scripted");
  EXPECT_LT(next, 10000);
  const std::vector<DWORD> now = vt::FindProcesses(kHelperTail);
  ASSERT_EQ(now.size(), 1u);
  EXPECT_NE(now[0], stuck[0]);
  const std::string log = vt::ReadFileBytes("logs\\QX20481.bridge.log");
  EXPECT_NE(log.find("the helper did not answer in time; it is replaced"), std::string::npos) << log;
}

// The session given back to a new helper and the call that found the old
// one gone draw on one deadline: a replay that took 100 s leaves the call
// 20 s, not a budget of its own.
TEST_F(BridgeLink, ACallThatFindsTheHelperGoneGivesTheSessionBackWithinItsOneDeadline) {
  Helper("answer");
  uint8_t ok = 0;
  const char* text = DISPLAYDLL_Init(16, 2, "p", &ok);
  ASSERT_EQ(ok, 1) << text;
  ASSERT_EQ(vt::KillProcesses(kHelperTail), 1);
  ASSERT_TRUE(vt::WaitNoProcess(kHelperTail, 5000));

  Helper("hold");
  g_clock.hold = true;
  const int64_t took = TimedMs([] { DISPLAYDLL_SetBacklight(1); });
  EXPECT_TRUE(g_clock.released) << "the new helper's Init was not held";
  EXPECT_GE(took, kHelperCallBudgetMs);
  EXPECT_LE(took, kBridgedCallBoundMs);
  // The held Init was answered; the call itself then ran out of what the
  // one deadline had left.
  const std::string log = vt::ReadFileBytes("logs\\QX20481.bridge.log");
  EXPECT_EQ(log.find("no answer to call 1 within"), std::string::npos) << log;
  EXPECT_NE(log.find("no answer to call 10 within"), std::string::npos) << log;
}

}  // namespace
