// The 64-bit chain under Wine: the 64-bit stand-in display host drives the
// 64-bit QX20481.dll, which forwards to QX20481Bridge32.exe, which calls the
// 32-bit QX20481.dll, the patched stand-in layer, VornApx.dll,
// Vorn64BitInterface.exe and the emulated pad. Then the helper's life.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge_fixture.h"
#include "footprint.h"
#include "host_harness.h"
#include "log_lines.h"

using Lines = std::vector<std::string>;

namespace {

constexpr char kInitOk[] = "Init: MediaPad Display v1.2.201.1126";

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// `expected` appear in `lines` in this order (other lines may come between).
bool InOrder(const Lines& lines, const Lines& expected) {
  size_t at = 0;
  for (const std::string& line : lines)
    if (at < expected.size() && line == expected[at]) ++at;
  return at == expected.size();
}

class BridgeChain : public pt::BridgeChainTest {};

}  // namespace

TEST_F(BridgeChain, DisplayHost64DrivesThePadFromStartToShutdown) {
  pt::PadObserver observed;
  vt::ChildRun run = RunDisplayHost64(
      "--params Log --hold 1000 --show \"  first screen  |$Tick\" --screen-ms 1500 --shutdown \"bye|\" --linger 1500",
      60000, [&] { observed.Look(); });
  observed.Look();
  ASSERT_EQ(run.exit_code, 0) << run.output;
  // Init's text, given only with the OK byte set.
  EXPECT_TRUE(Contains(run.output, kInitOk)) << run.output;
  EXPECT_FALSE(Contains(run.output, "32 bit systems only!")) << run.output;

  // The start-up text, the screen shown, the shutdown message with the LED off and mode 3.
  const size_t startup = observed.Find(0, "   LCDSmartie   | MediaPad plugin led=1 mode=1");
  ASSERT_LT(startup, observed.screens.size()) << testing::PrintToString(observed.screens);
  ASSERT_LT(observed.Find(startup, "  first screen  |"), observed.screens.size())
      << testing::PrintToString(observed.screens);
  auto state = pt::PadState();
  EXPECT_EQ(pt::PadLine(state, 0), "bye             ");
  EXPECT_EQ(state["led"], "0");
  EXPECT_EQ(state["mode"], "3");

  // Every write reached the pad as four commands: Init's sequence makes
  // twelve, Done two.
  EXPECT_EQ(state["beeps"], "1");
  EXPECT_EQ(state["icons"], "0 0 0 0");
  const size_t at = run.output.find("writes: ");
  ASSERT_NE(at, std::string::npos) << run.output;
  const int writes = std::stoi(run.output.substr(at + 8));
  EXPECT_GT(writes, 4);
  EXPECT_EQ(std::stoi(state["commands"]), 12 + 4 * writes + 2);

  // The 32-bit plug-in's log, under the display host's current directory.
  const Lines plugin_log = vt::LibraryLogLines("logs\\QX20481.log");
  EXPECT_TRUE(InOrder(plugin_log, {"Log File opened for  QX20481", "Init Called ", "Init MediaPadLayer.dll loaded",
                                   "Init getMediapadUID returned 0, UID=0x00000001", "PowerResume Entered",
                                   "Init Complete", "Done Bye", "Log File closed for  QX20481"}))
      << testing::PrintToString(plugin_log);
  EXPECT_EQ(vt::ReadFileBytes("logs\\VornApx.log"), "");
  // Done has run and the plug-in is freed: the helper has gone while the
  // display host still lingers.
  EXPECT_TRUE(vt::FindProcesses(pt::kHelperTail).empty());
}

// A text longer than the bridge's record holds goes in pieces, each at the
// cursor the one before it left: the pad ends as one write of it would
// leave it, every piece sending both lines.
TEST_F(BridgeChain, AWriteLongerThanTheRecordReachesThePadWhole) {
  ASSERT_TRUE(CopyFileA((vt::Win64BinDirectory() + "long_write_driver.exe").c_str(), "long_write_driver.exe", FALSE));
  constexpr int kLength = 5000;  // two pieces: 4095 and 905 characters
  vt::ChildRun run = RunChild(dir_.path() + "\\long_write_driver.exe " + std::to_string(kLength), 60000);
  ASSERT_EQ(run.exit_code, 0) << run.output;
  // Position p of the screen holds the last character i with i % 32 == p.
  std::string screen(32, ' ');
  for (int i = 0; i < kLength; ++i) screen[i % 32] = static_cast<char>('A' + i % 26);
  auto state = pt::PadState();
  EXPECT_EQ(pt::PadLine(state, 0), screen.substr(0, 16));
  EXPECT_EQ(pt::PadLine(state, 1), screen.substr(16));
  EXPECT_EQ(std::stoi(state["commands"]), 12 + 4 * 2 + 2);
}

TEST_F(BridgeChain, SetupDialogLoadAndFreeWithoutInitStartsNoHelper) {
  bool helper_seen = false;
  vt::ChildRun run = RunDisplayHost64("--setup-only --hold 1500", 30000, [&] {
    helper_seen = helper_seen || !vt::FindProcesses(pt::kHelperTail).empty();
  });
  ASSERT_EQ(run.exit_code, 0) << run.output;
  EXPECT_TRUE(Contains(run.output, "usage: 64-bit LCDSmartie")) << run.output;
  EXPECT_TRUE(Contains(run.output, "driver: MediaPad Display v1.2.201.1126")) << run.output;
  EXPECT_TRUE(Contains(run.output, "default parameters: ' '")) << run.output;
  EXPECT_FALSE(helper_seen);
  EXPECT_FALSE(vt::FileExists("logs\\QX20481.bridge.log"));
  EXPECT_FALSE(vt::FileExists("mediapad.state"));
}

TEST_F(BridgeChain, HelperEndsWhenTheDisplayHostIsTerminated) {
  vt::ChildProcess display_host = vt::StartChildWithOutputFile(
      dir_.path() + "\\display_host64.exe displays\\QX20481.dll --hold 60000", "", dir_.path() + "\\out.txt");
  ASSERT_NE(display_host.process, nullptr);
  bool serving = false;
  for (DWORD start = GetTickCount(); !serving && GetTickCount() - start < 20000; Sleep(20))
    serving = Contains(vt::ReadFileBytes("out.txt"), kInitOk);
  ASSERT_TRUE(serving) << vt::ReadFileBytes("out.txt");
  ASSERT_EQ(vt::FindProcesses(pt::kHelperTail).size(), 1u);
  TerminateProcess(display_host.process, 1);
  EXPECT_EQ(vt::WaitChild(display_host, 5000), 1);
  EXPECT_TRUE(vt::WaitNoProcess(pt::kHelperTail, 5000));
}

TEST_F(BridgeChain, HelperEndedBetweenTwoWritesIsReplacedAndGivenTheScreenBack) {
  pt::PadObserver observed;
  std::vector<DWORD> ended;
  vt::ChildRun run =
      RunDisplayHost64("--params Log --show \"   top stays    |$Tick\" --screen-ms 4000 --interval 400", 60000, [&] {
        observed.Look();
        // Once the screen is shown, the helper is ended from outside, once.
        if (ended.empty() && observed.Find(0, "   top stays    |") < observed.screens.size()) {
          ended = vt::FindProcesses(pt::kHelperTail);
          vt::KillProcesses(pt::kHelperTail);
          observed.screens.push_back("<helper ended>");
        }
      });
  ASSERT_EQ(run.exit_code, 0) << run.output;
  ASSERT_EQ(ended.size(), 1u);
  const size_t end = observed.Find(0, "<helper ended>");
  ASSERT_LT(end, observed.screens.size());
  // After the end the ticks go on, and the top line is the screen's, not
  // the start-up text that the new helper's Init showed.
  size_t later = observed.Find(end + 1, "   top stays    |");
  while (later < observed.screens.size() && observed.screens[later] == observed.screens[end - 1])
    later = observed.Find(later + 1, "   top stays    |");
  EXPECT_LT(later, observed.screens.size()) << testing::PrintToString(observed.screens);
  // What the pad shows at the end, read once everything has ended.
  auto state = pt::PadState();
  EXPECT_EQ(pt::PadLine(state, 0), "    Goodbye!    ");
  EXPECT_EQ(state["led"], "0");
  EXPECT_EQ(state["mode"], "3");
  const Lines bridge_log = vt::FileLines("logs\\QX20481.bridge.log");
  bool replaced = false;
  for (const std::string& line : bridge_log) replaced = replaced || Contains(line, "a new one is started");
  EXPECT_TRUE(replaced) << testing::PrintToString(bridge_log);
}

TEST_F(BridgeChain, MissingHelperFailsInitAtOnceWithAClearText) {
  ASSERT_TRUE(DeleteFileA("displays\\QX20481-32bit\\QX20481Bridge32.exe"));
  vt::ChildRun run = RunDisplayHost64("--params Log", 30000);
  EXPECT_EQ(run.exit_code, 1) << run.output;
  EXPECT_TRUE(Contains(run.output, "Init failed: QX20481Bridge32.exe is missing")) << run.output;
  EXPECT_LT(run.elapsed_ms, 5000u);
  const std::string log = vt::ReadFileBytes("logs\\QX20481.bridge.log");
  EXPECT_TRUE(Contains(log, "QX20481-32bit\\QX20481Bridge32.exe is missing")) << log;
  EXPECT_FALSE(vt::FileExists("mediapad.state"));
}

// The 64-bit plug-in, loaded, driven through a session and freed again and
// again by one process, keeps no handle, view or helper. Each cycle starts
// a helper, and its first call waits the launcher's second.
TEST_F(BridgeChain, LoadingDrivingAndFreeingThePluginGivesEverythingBack) {
  vt::ChildRun cycles =
      RunChild("\"" + vt::Win64BinDirectory() + "unload_cycles.exe\" displays\\QX20481.dll plugin 30", 60000);
  printf("%s", cycles.output.c_str());
  ASSERT_EQ(cycles.exit_code, 0) << cycles.output;
  const vt::FootprintReport f = vt::ReadFootprint(cycles.output);
  ASSERT_TRUE(f.read) << cycles.output;
  EXPECT_FOOTPRINT_KEPT(f, cycles.output);
  EXPECT_EQ(vt::FindProcesses(pt::kHelperTail).size(), 0u) << "a helper outlived its plug-in";
}
