// Init, Write and Done against the recording layer: the calls the layer
// receives (with the UID bytes as they arrived), the log lines, the UID wait.
#include <float.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "display_plugin.h"
#include "library_log.h"
#include "plugin_fixture.h"
#include "wait_seam.h"

using pt::Concat;
using pt::LayerCalls;
using pt::LogFrame;
using pt::LogLines;
using Lines = std::vector<std::string>;

namespace {

const std::string kUid = pt::RecordedUid(pt::kDefaultUid);
const std::string kZero = pt::RecordedUid(0);

std::string Call(const std::string& function, const std::string& uid, const std::string& rest = "") {
  return function + " " + uid + rest;
}

Lines SetUpCalls(const std::string& uid, const std::string& top = "   LCDSmartie   ",
                 const std::string& bottom = " MediaPad plugin") {
  return {Call("makeBeep", uid),
          Call("controlLed", uid, " 1"),
          Call("SetMode", uid, " 1"),
          Call("clearScreen", uid),
          Call("SetIconState", uid, " 0 0"),
          Call("SetIconState", uid, " 1 0"),
          Call("SetIconState", uid, " 3 0"),
          Call("SetIconState", uid, " 2 0"),
          Call("SetMode", uid, " 1"),
          Call("setLine", uid, " 0 |" + top + "| 2"),
          Call("setLine", uid, " 1 |" + bottom + "| 2")};
}

Lines WriteCalls(const std::string& top, const std::string& bottom, const std::string& uid = kUid) {
  return {Call("SetMode", uid, " 1"), Call("setLine", uid, " 0 |" + top + "| 2"), Call("SetMode", uid, " 1"),
          Call("setLine", uid, " 1 |" + bottom + "| 2")};
}

Lines UidQuery(const std::string& uid) { return {"getMediapadUID", Call("controlLed", uid, " 1")}; }

class Session : public pt::PluginTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pt::PlaceLayer("MediaPadLayer_recording"));
    vt::SleepLog::Reset();
    SetSleepFunction(vt::SleepLog::Record);
  }
  void TearDown() override { SetSleepFunction(nullptr); }

  // Init that must succeed and return the driver name.
  void InitOk(const char* parameters = "Log") {
    uint8_t ok = 0xEE;
    EXPECT_STREQ(DISPLAYDLL_Init(16, 2, parameters, &ok), "MediaPad Display v1.2.201.1126");
    EXPECT_EQ(ok, 1);
  }
};

}  // namespace

TEST_F(Session, InitShowsTheStartupTextAndLogsEachStep) {
  InitOk();
  EXPECT_EQ(LayerCalls(), Concat({UidQuery(kUid), SetUpCalls(kUid)}));
  EXPECT_EQ(LogLines(),
            Concat({LogFrame("Log File opened for "),
                    {"Init Called "},
                    pt::LoadLines(),
                    {"Init getMediapadUID returned 0, UID=0x55667788", "PowerResume Entered", "Init Complete"}}));
  EXPECT_EQ(vt::SleepLog::calls, 0u);
}

TEST_F(Session, WriteSendsBothLinesEachAfterSetModeAlsoForEmptyText) {
  InitOk();
  DeleteFileA("layer_calls.txt");
  DISPLAYDLL_SetPosition(1, 1);
  DISPLAYDLL_Write("abc");
  DISPLAYDLL_Write("");
  DISPLAYDLL_SetPosition(16, 2);
  DISPLAYDLL_Write("xy");
  EXPECT_EQ(LayerCalls(), Concat({WriteCalls("abcLCDSmartie   ", " MediaPad plugin"),
                                  WriteCalls("abcLCDSmartie   ", " MediaPad plugin"),
                                  WriteCalls("ybcLCDSmartie   ", " MediaPad plugix")}));
}

TEST_F(Session, TheUidReachesTheLayerBitForBit) {
  // A signalling-NaN pattern: a copy through a floating-point register
  // would set its quiet bit. As a NaN it also counts as non-zero at once.
  pt::SetVariable("VORN_LAYER_UID", "7FF0000000000001");
  InitOk();
  DISPLAYDLL_Write("");
  const std::string snan = pt::RecordedUid(0x7FF0000000000001ull);
  EXPECT_EQ(snan, "010000000000f07f");
  EXPECT_EQ(LayerCalls(),
            Concat({UidQuery(snan), SetUpCalls(snan), WriteCalls("   LCDSmartie   ", " MediaPad plugin", snan)}));
}

TEST_F(Session, InitAsksOnceASecondUntilTheUidIsNotZero) {
  // Nine answers of negative zero, which counts as zero; a query whose
  // floating-point result were left on the x87 stack would have broken the
  // comparison long before the tenth.
  pt::SetVariable("VORN_LAYER_UID_AFTER", "9");
  pt::SetVariable("VORN_LAYER_ZERO_UID", "8000000000000000");
  pt::SetVariable("VORN_LAYER_UID_RESULT", "-7");
  InitOk();
  const std::string negative_zero = pt::RecordedUid(0x8000000000000000ull);
  Lines expected;
  for (int i = 0; i < 9; ++i) expected = Concat({expected, UidQuery(negative_zero)});
  EXPECT_EQ(LayerCalls(), Concat({expected, UidQuery(kUid), SetUpCalls(kUid)}));
  EXPECT_EQ(vt::SleepLog::calls, 9u);
  EXPECT_EQ(vt::SleepLog::total_ms, 9000u);
  Lines lines = LogLines();
  int zero_lines = 0;
  for (const std::string& line : lines) zero_lines += line == "Init getMediapadUID returned -7, UID=0x00000000";
  EXPECT_EQ(zero_lines, 9);
}

// A pad that never answers: thirty attempts a second apart, each with its
// log line and its controlLed, then a failed Init that leaves no layer.
TEST_F(Session, InitGivesUpAfterThirtyAttemptsAndLeavesNoLayer) {
  pt::SetVariable("VORN_LAYER_UID_AFTER", "1000");
  uint8_t ok = 0xEE;
  EXPECT_EQ(std::string(DISPLAYDLL_Init(16, 2, "Log", &ok)),
            std::string("MediaPad did not answer; see logs\\") + ModuleName() + ".log");
  EXPECT_EQ(ok, 0);
  Lines expected;
  for (int i = 0; i < 30; ++i) expected = Concat({expected, UidQuery(kZero)});
  EXPECT_EQ(LayerCalls(), expected);
  EXPECT_EQ(vt::SleepLog::calls, 29u);
  EXPECT_EQ(vt::SleepLog::total_ms, 29000u);
  EXPECT_EQ(GetModuleHandleA("MediaPadLayer.dll"), nullptr);
  Lines lines = LogLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Init getMediapadUID returned 0, UID=0x00000000"), 30);
  EXPECT_EQ(lines.back(), "Init no UID from the pad after 30 attempts");
  // Done then behaves as after a failed load.
  DeleteFileA("layer_calls.txt");
  DISPLAYDLL_Write("x");
  DISPLAYDLL_Done();
  EXPECT_TRUE(LayerCalls().empty());
  lines = LogLines();
  EXPECT_EQ(Lines(lines.end() - 6, lines.end()),
            Concat({{"Write MediaPadLayer.dll not loaded", "Done MediaPadLayer.dll not loaded", "Done Bye"},
                    LogFrame("Log File closed for ")}));
}

TEST_F(Session, APadThatAnswersAtTheThirtiethAttemptIsTaken) {
  pt::SetVariable("VORN_LAYER_UID_AFTER", "29");
  InitOk();
  EXPECT_EQ(vt::SleepLog::calls, 29u);
  Lines calls = LayerCalls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "getMediapadUID"), 30);
}

// With invalid operations trapping, a signalling-NaN UID must not reach
// the floating-point unit: Init tests its bits.
TEST_F(Session, ASignallingNaNUidIsTestedWithoutTheFloatingPointUnit) {
  pt::SetVariable("VORN_LAYER_UID", "7FF0000000000001");
  const unsigned int saved = _controlfp(0, 0);
  _controlfp(saved & ~_EM_INVALID, _MCW_EM);
  uint8_t ok = 0;
  const std::string name = DISPLAYDLL_Init(16, 2, "Log", &ok);
  _clearfp();
  _controlfp(saved, _MCW_EM);
  EXPECT_EQ(name, "MediaPad Display v1.2.201.1126");
  EXPECT_EQ(ok, 1);
}

// A function the layer lacks is skipped, and said so once per loaded layer,
// however often the display host writes.
TEST_F(Session, AMissingLayerFunctionIsSkippedAndLoggedOncePerLoad) {
  ASSERT_TRUE(pt::PlaceLayer("MediaPadLayer_nosetline"));
  for (int session = 0; session < 2; ++session) {
    InitOk();
    for (int i = 0; i < 5; ++i) DISPLAYDLL_Write("text");
    Lines lines = LogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Skipped setLine is not in MediaPadLayer.dll"), 1);
    DISPLAYDLL_Done();
  }
  Lines calls = LayerCalls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), Call("SetMode", kUid, " 1")), 2 * (2 + 10));
}

TEST_F(Session, FailingLayerCallsGiveValueLinesAndTheSequenceGoesOn) {
  pt::SetVariable("VORN_LAYER_RESULT_makeBeep", "1");
  pt::SetVariable("VORN_LAYER_RESULT_controlLed", "-1");
  pt::SetVariable("VORN_LAYER_RESULT_clearScreen", "0x102");
  pt::SetVariable("VORN_LAYER_RESULT_SetIconState", "2");
  pt::SetVariable("VORN_LAYER_RESULT_SetMode", "-2");
  pt::SetVariable("VORN_LAYER_RESULT_setLine", "5");
  InitOk();
  EXPECT_EQ(LayerCalls(), Concat({UidQuery(kUid), SetUpCalls(kUid)}));
  const Lines failures_of_init = {"controlLed failed 0xffffffff (-1)",   "makeBeep failed 0x00000001 (1)",
                                  "controlLed failed 0xffffffff (-1)",   "SetMode failed 0xfffffffe (-2)",
                                  "clearScreen failed 0x00000102 (258)", "SetIconState failed 0x00000002 (2)",
                                  "SetIconState failed 0x00000002 (2)",  "SetIconState failed 0x00000002 (2)",
                                  "SetIconState failed 0x00000002 (2)",  "SetMode failed 0xfffffffe (-2)",
                                  "setLine failed 0x00000005 (5)",       "Line 0x00000001 (1)",
                                  "setLine failed 0x00000005 (5)",       "Line 0x00000002 (2)"};
  Lines lines = LogLines();
  const size_t start = lines.size() - failures_of_init.size() - 2;
  ASSERT_GT(lines.size(), failures_of_init.size() + 2);
  EXPECT_EQ(lines[start - 1], "Init getMediapadUID returned 0, UID=0x55667788");
  EXPECT_EQ(Lines(lines.begin() + start, lines.end()),
            Concat({failures_of_init, {"PowerResume Entered", "Init Complete"}}));

  DISPLAYDLL_Write("");
  DISPLAYDLL_Done();
  lines = LogLines();
  EXPECT_EQ(Lines(lines.end() - 12, lines.end()),
            Concat({{"SetMode failed 0xfffffffe (-2)", "setLine failed 0x00000005 (5)", "Line 0x00000001 (1)",
                     "SetMode failed 0xfffffffe (-2)", "setLine failed 0x00000005 (5)", "Line 0x00000002 (2)",
                     "controlLed failed 0xffffffff (-1)", "SetMode failed 0xfffffffe (-2)", "Done Bye"},
                    LogFrame("Log File closed for ")}));
}

TEST_F(Session, ASecondInitIsAReCallThatShowsTheStartupTextAgain) {
  InitOk();
  DISPLAYDLL_SetPosition(3, 2);
  DISPLAYDLL_Write("zz");
  DeleteFileA("layer_calls.txt");
  InitOk("no log switch here");  // the level stays as the first Init set it
  EXPECT_EQ(LayerCalls(), SetUpCalls(kUid));
  DISPLAYDLL_Write("A");  // the cursor is back at the top left
  Lines calls = LayerCalls();
  EXPECT_EQ(calls.back(), Call("setLine", kUid, " 1 | MediaPad plugin| 2"));
  EXPECT_EQ(calls[calls.size() - 3], Call("setLine", kUid, " 0 |A  LCDSmartie   | 2"));
  Lines lines = LogLines();
  EXPECT_EQ(Lines(lines.end() - 3, lines.end()), Lines({"Init reCalled ", "PowerResume Entered", "Init Complete"}));
}

TEST_F(Session, DoneTurnsTheLedOffSetsModeThreeAndFreesTheLayer) {
  InitOk();
  DeleteFileA("layer_calls.txt");
  DISPLAYDLL_Done();
  EXPECT_EQ(LayerCalls(), Lines({Call("controlLed", kUid, " 0"), Call("SetMode", kUid, " 3")}));
  EXPECT_EQ(GetModuleHandleA("MediaPadLayer.dll"), nullptr);
  Lines lines = LogLines();
  EXPECT_EQ(Lines(lines.end() - 4, lines.end()), Concat({{"Done Bye"}, LogFrame("Log File closed for ")}));
}

TEST_F(Session, InitAfterDoneStartsAgainWithAnEmptiedLog) {
  InitOk();
  DISPLAYDLL_Done();
  DeleteFileA("layer_calls.txt");
  pt::SetVariable("VORN_LAYER_UID", "0000000000000002");
  InitOk();
  const std::string second = pt::RecordedUid(2);
  EXPECT_EQ(LayerCalls(), Concat({UidQuery(second), SetUpCalls(second)}));
  EXPECT_EQ(LogLines(),
            Concat({LogFrame("Log File opened for "),
                    {"Init Called "},
                    pt::LoadLines(),
                    {"Init getMediapadUID returned 0, UID=0x00000002", "PowerResume Entered", "Init Complete"}}));
}

TEST_F(Session, OnlyATextEndingInCapitalLogSwitchesTheLogOn) {
  struct Case {
    const char* parameters;
    bool on;
  } cases[] = {{"Log", true},  {"COM1 9600 Log", true}, {"xLog", true}, {"log", false},
               {"LOG", false}, {"Log ", false},         {"", false},    {" ", false},
               {"og", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.parameters);
    InitOk(c.parameters);
    DISPLAYDLL_Done();
    ASSERT_TRUE(vt::FileExists(pt::LogPath()));
    if (c.on) {
      Lines lines = LogLines();
      ASSERT_GE(lines.size(), 8u);
      EXPECT_EQ(Lines(lines.begin(), lines.begin() + 4), Concat({LogFrame("Log File opened for "), {"Init Called "}}));
      EXPECT_EQ(Lines(lines.end() - 3, lines.end()), LogFrame("Log File closed for "));
    } else {
      EXPECT_EQ(vt::ReadFileBytes(pt::LogPath()), "");
    }
  }
}
