// What the entry points do when the layer cannot be used: never loaded,
// missing, freed, or lacking the function that gives the UID. None of them
// may call into an absent layer, and none may report success without one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display_plugin.h"
#include "plugin_fixture.h"
#include "wait_seam.h"

using pt::Concat;
using pt::LogFrame;
using pt::LogLines;
using Lines = std::vector<std::string>;

namespace {

constexpr char kLoadFailed[] = "Failed to load MediaPadLayer.dll";

class UnusableLayer : public pt::PluginTest {
 protected:
  void SetUp() override {
    vt::SleepLog::Reset();
    SetSleepFunction(vt::SleepLog::Record);
  }
  void TearDown() override { SetSleepFunction(nullptr); }
};

}  // namespace

TEST_F(UnusableLayer, WithoutALayerInitFailsAfterOneLogLineAndCallsNothing) {
  uint8_t ok = 0xEE;
  EXPECT_STREQ(DISPLAYDLL_Init(16, 2, "Log", &ok), kLoadFailed);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(LogLines(), Concat({LogFrame("Log File opened for "), {"Init Called ", "Load Failed to load library"}}));
  EXPECT_FALSE(vt::FileExists("layer_calls.txt"));
  EXPECT_EQ(vt::SleepLog::calls, 0u);
}

TEST_F(UnusableLayer, AfterAFailedInitWriteAndDoneCallNothingAndDoneClosesTheLog) {
  uint8_t ok = 0;
  ASSERT_STREQ(DISPLAYDLL_Init(16, 2, "Log", &ok), kLoadFailed);
  DISPLAYDLL_SetPosition(1, 2);
  DISPLAYDLL_Write("kept");
  DISPLAYDLL_Done();  // the real host calls Done after a failed Init
  EXPECT_EQ(LogLines(), Concat({LogFrame("Log File opened for "),
                                {"Init Called ", "Load Failed to load library", "Write MediaPadLayer.dll not loaded",
                                 "Done MediaPadLayer.dll not loaded", "Done Bye"},
                                LogFrame("Log File closed for ")}));
  // A second Done has nothing to close and must not start a new log cycle,
  // which would empty the file.
  const std::string closed = vt::ReadFileBytes(pt::LogPath());
  DISPLAYDLL_Done();
  DISPLAYDLL_Write("after");
  EXPECT_EQ(vt::ReadFileBytes(pt::LogPath()), closed);
}

TEST_F(UnusableLayer, InitAfterAFailedLoadTriesTheLoadAgain) {
  uint8_t ok = 0;
  ASSERT_STREQ(DISPLAYDLL_Init(16, 2, "Log", &ok), kLoadFailed);
  ASSERT_STREQ(DISPLAYDLL_Init(16, 2, "Log", &ok), kLoadFailed);  // still no layer: no success either
  EXPECT_EQ(ok, 0);
  ASSERT_TRUE(pt::PlaceLayer("MediaPadLayer_recording"));
  EXPECT_STREQ(DISPLAYDLL_Init(16, 2, "Log", &ok), "MediaPad Display v1.2.201.1126");
  EXPECT_EQ(ok, 1);
  Lines calls = pt::LayerCalls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front(), "getMediapadUID");
  Lines lines = LogLines();
  const Lines failed_twice = {"Init Called ", "Load Failed to load library", "Init Called ",
                              "Load Failed to load library", "Init Called "};
  EXPECT_EQ(Lines(lines.begin() + 3, lines.begin() + 8), failed_twice);
}

TEST_F(UnusableLayer, BeforeAnyInitWriteAndDoneTouchNeitherLayerNorLog) {
  ASSERT_TRUE(pt::PlaceLayer("MediaPadLayer_recording"));
  DISPLAYDLL_Write("early");
  DISPLAYDLL_Done();
  DISPLAYDLL_Done();
  EXPECT_FALSE(vt::FileExists("layer_calls.txt"));
  EXPECT_FALSE(vt::FileExists("logs"));
  EXPECT_EQ(GetModuleHandleA("MediaPadLayer.dll"), nullptr);
}

TEST_F(UnusableLayer, ASecondDoneCallsNothingAndKeepsTheLastLog) {
  ASSERT_TRUE(pt::PlaceLayer("MediaPadLayer_recording"));
  uint8_t ok = 0;
  DISPLAYDLL_Init(16, 2, "Log", &ok);
  ASSERT_EQ(ok, 1);
  DISPLAYDLL_Done();
  const std::string calls = vt::ReadFileBytes("layer_calls.txt");
  const std::string log = vt::ReadFileBytes(pt::LogPath());
  DISPLAYDLL_Done();
  DISPLAYDLL_Write("after done");
  EXPECT_EQ(vt::ReadFileBytes("layer_calls.txt"), calls);
  EXPECT_EQ(vt::ReadFileBytes(pt::LogPath()), log);
}

TEST_F(UnusableLayer, ALayerWithoutGetMediapadUidFailsInsteadOfWaitingForever) {
  // Any DLL of ours that exports none of the layer's names will do.
  ASSERT_TRUE(pt::PlaceAsLayer("QX20481.dll"));
  uint8_t ok = 0xEE;
  EXPECT_STREQ(DISPLAYDLL_Init(16, 2, "Log", &ok), kLoadFailed);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(vt::SleepLog::calls, 0u);
  Lines lines = LogLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[4], "Failed at GetProcAddress for MediaPadLayer.dll getMediapadUID");
  EXPECT_EQ(lines[lines.size() - 2], "Init MediaPadLayer.dll loaded");
  EXPECT_EQ(lines.back(), "Init getMediapadUID is not in MediaPadLayer.dll");
  DISPLAYDLL_Write("x");
  DISPLAYDLL_Done();
  lines = LogLines();
  EXPECT_EQ(Lines(lines.end() - 6, lines.end()),
            Concat({{"Write MediaPadLayer.dll not loaded", "Done MediaPadLayer.dll not loaded", "Done Bye"},
                    LogFrame("Log File closed for ")}));
}

TEST_F(UnusableLayer, ALayerWithoutTheThreeUnusedFunctionsIsUsedAsUsual) {
  ASSERT_TRUE(pt::PlaceLayer("MediaPadLayer_nooptional"));
  uint8_t ok = 0;
  EXPECT_STREQ(DISPLAYDLL_Init(16, 2, "Log", &ok), "MediaPad Display v1.2.201.1126");
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(LogLines(),
            Concat({LogFrame("Log File opened for "),
                    {"Init Called "},
                    pt::LoadLines(false),
                    {"Init getMediapadUID returned 0, UID=0x55667788", "PowerResume Entered", "Init Complete"}}));
  EXPECT_EQ(pt::LayerCalls().size(), 13u);
}
