// The bridge's calls (the 64-bit one, and the 32-bit isolating one) when
// its helper stops answering, holds a call, keeps ending or goes away, on
// the virtual clock: the bridge's code is
// built into this program, which plays the display host, and a scripted
// helper (scripted_helper.cpp) stands in for the real one. Time passes on
// the virtual clock only while a helper is up: its start takes what it
// takes, its silence costs no real time. A held call is let go by the test,
// which then waits for its answer to be there, not for a time.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "bridge_identity.h"
#include "bridge_record.h"
#include "channel.h"
#include "helper_link.h"
#include "host_harness.h"
#include "test_support.h"
#include "unique_handle.h"
#include "wait_seam.h"

extern "C" {
const char* WINAPI DISPLAYDLL_Init(uint32_t size_x, uint32_t size_y, const char* parameters, uint8_t* ok);
void WINAPI DISPLAYDLL_Done();
void WINAPI DISPLAYDLL_SetBacklight(uint32_t on);
void WINAPI DISPLAYDLL_SetPosition(uint32_t x, uint32_t y);
void WINAPI DISPLAYDLL_Write(const char* text);
uint16_t WINAPI DISPLAYDLL_ReadKey();
uint8_t WINAPI DISPLAYDLL_CustomCharIndex(uint32_t index);
}

namespace {

constexpr char kHelperTail[] = "\\scripted_helper.exe";

struct Clock {
  std::string section;  // the bridge's, for its helper's events
  int64_t call_start_us = 0;
  // Kept open here, so that they outlive a helper that ends while it holds a call.
  ScopedHandle holding, answered;
  bool starts_take_time = false;  // a helper's wait to get ready costs virtual time
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

// A request in the bridge's section that the helper has not answered.
bool RequestOut() {
  const auto* record = static_cast<const volatile BridgeRecord*>(g_channel[kBridgeSlot].view);
  return record && record->opcode != kBridgeNone && record->done == 0;
}

// The sleep behind every wait of the bridge. Until the helper has said that
// it is ready no virtual time passes (the wait's share is taken back). A
// request that the helper answers costs no virtual time either: the sleep
// waits, in real time, until it is answered or the helper says that it
// holds it; only then does the wait's time pass.
void VirtualSleep(uint32_t milliseconds) {
  if (!EventSet(".Ready") && g_clock.starts_take_time) {
    Sleep(0);
    return;
  }
  if (!EventSet(".Ready")) {
    Sleep(1);
    AdvanceVirtualClock(-1000LL * milliseconds);
    return;
  }
  const DWORD until = GetTickCount() + 10000;
  while (RequestOut() && !EventSet(".Holding") && static_cast<int32_t>(until - GetTickCount()) > 0) Sleep(1);
  if (!RequestOut() && !EventSet(".Holding")) AdvanceVirtualClock(-1000LL * milliseconds);
  Sleep(0);
}

// Lets the helper's held call go and waits until its answer is in the
// section: the bridge's next look finds it, whatever the timing.
bool ReleaseHeldCall() {
  HANDLE answered = OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, (g_clock.section + ".Answered").c_str());
  if (!answered) return false;
  ResetEvent(answered);
  SetNamedEvent(".Release");
  const bool done = WaitForSingleObject(answered, 10000) == WAIT_OBJECT_0;
  CloseHandle(answered);
  return done;
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
    g_clock.section = "ScriptedBridge." + std::to_string(GetCurrentProcessId());
    g_clock.holding.reset(CreateEventA(nullptr, TRUE, FALSE, (g_clock.section + ".Holding").c_str()));
    g_clock.answered.reset(CreateEventA(nullptr, TRUE, FALSE, (g_clock.section + ".Answered").c_str()));
    notes_ = dir_.path() + "\\scripted.log";
    SetEnvironmentVariableA("VORN_SCRIPTED_LOG", notes_.c_str());
    SetSleepFunction(VirtualSleep);
    SetVirtualClock(true);
  }
  void TearDown() override {
    HelperRelease();
    UseHelperJob(true);
    SetVirtualClock(false);
    SetSleepFunction(nullptr);
    SetEnvironmentVariableA("VORN_SCRIPTED_LOG", nullptr);
    vt::KillProcesses(kHelperTail);
  }
  // A session with the helper answering; the helpers after it as `mode` says.
  void StartSession(const char* mode) {
    Helper("answer");
    uint8_t ok = 0;
    const char* text = DISPLAYDLL_Init(16, 2, "p", &ok);
    ASSERT_EQ(ok, 1) << text;
    Helper(mode);
  }
  // The helper's notes since the last look: its starts and the calls it got.
  std::vector<std::string> NewNotes() {
    const std::vector<std::string> all = vt::FileLines(notes_);
    std::vector<std::string> fresh(all.begin() + std::min(seen_notes_, all.size()), all.end());
    seen_notes_ = all.size();
    return fresh;
  }
  static size_t Starts(const std::vector<std::string>& notes) {
    return static_cast<size_t>(std::count(notes.begin(), notes.end(), "start"));
  }
  static std::string BridgeLog() { return vt::ReadFileBytes("logs\\QX20481.bridge.log"); }
  static size_t Occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
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
  std::string notes_;
  size_t seen_notes_ = 0;
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

// A call that the plug-in holds costs the display host kQuickCallMs, and
// the calls after it none: they keep what they change. A ReadKey gives no
// key, a CustomCharIndex the display host's own code. Once the held call
// is answered, the plug-in is given the screen as it is now, not the calls
// it missed, and then the call that found it free again.
TEST_F(BridgeLink, ACallThePluginHoldsCostsTheDisplayHostItsQuickBoundAndThePluginThenGetsTheCurrentScreen) {
  StartSession("answer");
  ASSERT_EQ(vt::KillProcesses(kHelperTail), 1);
  ASSERT_TRUE(vt::WaitNoProcess(kHelperTail, 5000));
  Helper("hold:3");  // the new helper's Init, its first write, then the held one
  DISPLAYDLL_SetPosition(1, 1);
  DISPLAYDLL_Write("first line      ");
  NewNotes();
  DISPLAYDLL_SetPosition(1, 2);
  const int64_t held = TimedMs([] { DISPLAYDLL_Write("held"); });
  EXPECT_GE(held, kQuickCallMs);
  EXPECT_LE(held, kQuickCallMs + kWaitOvershootMs);
  int64_t longest = 0;
  for (const char* text : {"old 1", "old 2", "now on line 1   "}) {
    longest = std::max(longest, TimedMs([] { DISPLAYDLL_SetPosition(1, 1); }));
    longest = std::max(longest, TimedMs([&] { DISPLAYDLL_Write(text); }));
  }
  longest = std::max(longest, TimedMs([] { DISPLAYDLL_SetBacklight(0); }));
  longest = std::max(longest, TimedMs([] { DISPLAYDLL_SetBacklight(1); }));
  EXPECT_EQ(DISPLAYDLL_ReadKey(), 0xFF00);
  EXPECT_EQ(DISPLAYDLL_CustomCharIndex(3), 131);
  EXPECT_LE(longest, kWaitOvershootMs);
  DISPLAYDLL_SetPosition(5, 2);
  ASSERT_TRUE(ReleaseHeldCall());

  DISPLAYDLL_Write("x");
  const std::vector<std::string> given = NewNotes();
  const std::vector<std::string> expected = {"3 1,2 held", "10 - 1 0 0", "3 1,1 now on line 1   ", "3 5,2 x"};
  EXPECT_EQ(given, expected);
  EXPECT_EQ(vt::FindProcesses(kHelperTail).size(), 1u) << "a held call is no reason to replace its helper";
}

// A call left with a helper that never answers it is given up on after
// kHelperCallBudgetMs: the next call then replaces the helper, and the new
// one is given the session as it stands.
TEST_F(BridgeLink, AHelperThatHoldsACallPastTheLongDeadlineIsReplacedByTheNextCall) {
  StartSession("answer");
  ASSERT_EQ(vt::KillProcesses(kHelperTail), 1);
  ASSERT_TRUE(vt::WaitNoProcess(kHelperTail, 5000));
  Helper("hold:3");  // the new helper's Init, its first write, then the held one
  DISPLAYDLL_Write("a");
  const int64_t took = TimedMs([] { DISPLAYDLL_Write("held"); });
  EXPECT_LE(took, kQuickCallMs + kWaitOvershootMs);
  const std::vector<DWORD> held = vt::FindProcesses(kHelperTail);
  ASSERT_EQ(held.size(), 1u);
  AdvanceVirtualClock((kHelperCallBudgetMs - 1000) * 1000);
  DISPLAYDLL_SetBacklight(0);
  EXPECT_EQ(vt::FindProcesses(kHelperTail), held) << "replaced before the long deadline";
  AdvanceVirtualClock(2000 * 1000);
  Helper("answer");
  NewNotes();
  DISPLAYDLL_Write("w");
  const std::vector<DWORD> now = vt::FindProcesses(kHelperTail);
  ASSERT_EQ(now.size(), 1u);
  EXPECT_NE(now[0], held[0]) << BridgeLog();
  const std::vector<std::string> expected = {"start", "1 - 16 2 p", "10 - 0 0 0", "3 1,1 aheld           ", "3 6,1 w"};
  EXPECT_EQ(NewNotes(), expected);
}

// A plug-in that takes down every helper at its first call: the next helper
// starts at once, then after 1 s, 2 s, 4 s ... up to 30 s, and the calls in
// between return at once. The log says so once, and once when it is back.
TEST_F(BridgeLink, HelpersThatKeepEndingAreStartedAfterAGrowingPauseAndNoCallPaysMoreThanOneStart) {
  StartSession("die:1");
  ASSERT_EQ(vt::KillProcesses(kHelperTail), 1);
  ASSERT_TRUE(vt::WaitNoProcess(kHelperTail, 5000));
  NewNotes();
  std::vector<int64_t> start_times_ms;
  int64_t longest = 0;
  for (int64_t at_ms = 0; at_ms < 120000; at_ms += 250) {
    const int64_t took = TimedMs([] { DISPLAYDLL_Write("tick"); });
    longest = std::max(longest, took);
    if (Starts(NewNotes()) > 0) start_times_ms.push_back(at_ms);
    if (start_times_ms.size() > 9) break;  // a start at every call: seen already, at no more cost
    AdvanceVirtualClock((250 - took) * 1000);
  }
  // The pauses between starts: the first at once, then doubling, at most 30 s.
  ASSERT_GE(start_times_ms.size(), 7u);
  EXPECT_LE(start_times_ms.size(), 9u);
  const int64_t pauses[] = {0, 1000, 2000, 4000, 8000, 16000, 30000};
  for (size_t i = 1; i < 7; ++i) {
    const int64_t gap = start_times_ms[i] - start_times_ms[i - 1];
    EXPECT_GE(gap, pauses[i]) << i;
    EXPECT_LE(gap, pauses[i] + 500) << i;
  }
  EXPECT_LE(longest, kQuickCallMs + kWaitOvershootMs);
  EXPECT_EQ(Occurrences(BridgeLog(), "the plug-in keeps failing"), 1u) << BridgeLog();

  Helper("answer");
  AdvanceVirtualClock(kLongestBackOffMs * 1000);
  DISPLAYDLL_Write("back");
  DISPLAYDLL_Write("again");
  EXPECT_EQ(Starts(NewNotes()), 1u);
  EXPECT_EQ(Occurrences(BridgeLog(), "the plug-in answers again"), 1u) << BridgeLog();
}

// A new helper whose plug-in refuses the session given back (Init's OK 0)
// is not left in place: it is ended, and that counts as a failed start.
TEST_F(BridgeLink, AHelperWhosePluginRefusesTheSessionGivenBackIsEndedAsAFailedStart) {
  StartSession("refuse");
  ASSERT_EQ(vt::KillProcesses(kHelperTail), 1);
  ASSERT_TRUE(vt::WaitNoProcess(kHelperTail, 5000));
  NewNotes();
  DISPLAYDLL_SetBacklight(1);
  EXPECT_EQ(Starts(NewNotes()), 1u) << BridgeLog();
  EXPECT_TRUE(vt::WaitNoProcess(kHelperTail, 5000)) << "a helper that refused the session left in place";
  Helper("answer");
  DISPLAYDLL_SetBacklight(0);
  EXPECT_EQ(Starts(NewNotes()), 0u) << "started again before the pause";
  AdvanceVirtualClock((kFirstBackOffMs + 100) * 1000);
  DISPLAYDLL_Write("w");
  const std::vector<std::string> expected = {"start", "1 - 16 2 p", "10 - 0 0 0", "3 1,1 w"};
  EXPECT_EQ(NewNotes(), expected);
}

// A helper that never gets ready (its plug-in blocks while it is loaded)
// costs the call that started it kHelperStartWaitMs, and the calls after
// it, while it is still starting, nothing.
TEST_F(BridgeLink, OnlyTheCallThatStartsAHelperWaitsForItToGetReady) {
  StartSession("unready");
  ASSERT_EQ(vt::KillProcesses(kHelperTail), 1);
  ASSERT_TRUE(vt::WaitNoProcess(kHelperTail, 5000));
  g_clock.starts_take_time = true;
  const int64_t first = TimedMs([] { DISPLAYDLL_Write("first"); });
  EXPECT_GE(first, kHelperStartWaitMs);
  EXPECT_LE(first, kHelperStartWaitMs + kWaitOvershootMs);
  int64_t longest = 0;
  for (int i = 0; i < 5; ++i) longest = std::max(longest, TimedMs([] { DISPLAYDLL_Write("next"); }));
  EXPECT_LE(longest, kWaitOvershootMs);
  EXPECT_EQ(vt::FindProcesses(kHelperTail).size(), 1u) << "a helper still starting is no reason to start another";
}

// A helper stuck in its plug-in is ended when the plug-in is freed, even
// where no job object holds it.
TEST_F(BridgeLink, AHelperStuckInItsPluginAndOutsideTheJobIsEndedWhenThePluginIsFreed) {
  UseHelperJob(false);
  StartSession("hold:2");
  ASSERT_EQ(vt::KillProcesses(kHelperTail), 1);
  ASSERT_TRUE(vt::WaitNoProcess(kHelperTail, 5000));
  DISPLAYDLL_Write("held");
  ASSERT_EQ(vt::FindProcesses(kHelperTail).size(), 1u);
  HelperRelease();
  EXPECT_TRUE(vt::WaitNoProcess(kHelperTail, 5000));
}

}  // namespace
