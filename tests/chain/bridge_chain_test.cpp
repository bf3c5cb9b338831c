// The 64-bit chain under Wine: the 64-bit stand-in display host drives the
// 64-bit QX20481.dll, which forwards to QX20481Bridge32.exe, which calls the
// 32-bit QX20481.dll, the patched stand-in layer, VornApx.dll,
// Vorn64BitInterface.exe and the emulated pad. Then the helper's life.
#include <gtest/gtest.h>

#include <algorithm>
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

bool HasLine(const std::string& output, const std::string& line) {
  const Lines lines = vt::Lines(output);
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

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
  // The display host finds exactly the plain names of the 32-bit plug-in
  // (CustomChar and CustomCharIndex it exports only decorated).
  EXPECT_TRUE(
      HasLine(run.output, "entry points: Init Done SetPosition Write PowerResume Usage DriverName DefaultParameters"))
      << run.output;

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

// The setup dialog's three texts are the 32-bit plug-in's own, asked for
// without an Init: the pad is never touched, and the helper that answered
// goes with the free.
TEST_F(BridgeChain, SetupDialogGetsThe32BitPluginsOwnTextsWithoutInit) {
  bool helper_seen = false;
  vt::ChildRun run = RunDisplayHost64("--setup-only --hold 1500", 30000, [&] {
    helper_seen = helper_seen || !vt::FindProcesses(pt::kHelperTail).empty();
  });
  ASSERT_EQ(run.exit_code, 0) << run.output;
  EXPECT_TRUE(HasLine(run.output, "usage: 32 bit systems only!")) << run.output;
  EXPECT_TRUE(HasLine(run.output, "driver: MediaPad Display v1.2.201.1126")) << run.output;
  EXPECT_TRUE(Contains(run.output, "default parameters: ' '")) << run.output;
  EXPECT_TRUE(helper_seen);
  EXPECT_TRUE(vt::FindProcesses(pt::kHelperTail).empty());
  EXPECT_FALSE(vt::FileExists("mediapad.state"));
  EXPECT_FALSE(vt::FileExists("logs\\QX20481.log"));
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
        // Once the screen is shown, the helper is ended from outside, once.
        observed.LookAndEndOnceShown("   top stays    |", pt::kHelperTail, &ended);
      });
  ASSERT_EQ(run.exit_code, 0) << run.output;
  ASSERT_EQ(ended.size(), 1u);
  // After the end the ticks go on, and the top line is the screen's, not
  // the start-up text that the new helper's Init showed.
  EXPECT_TRUE(observed.MovesOnAfter("<helper ended>", "   top stays    |")) << testing::PrintToString(observed.screens);
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
  ASSERT_TRUE(DeleteFileA("QX20481Bridge32.exe"));
  vt::ChildRun run = RunDisplayHost64("--params Log", 30000);
  EXPECT_EQ(run.exit_code, 1) << run.output;
  EXPECT_TRUE(Contains(run.output,
                       "Init failed: QX20481Bridge32.exe is missing: the 64-bit plug-in needs it beside the display "
                       "host's program"))
      << run.output;
  EXPECT_LT(run.elapsed_ms, 5000u);
  const std::string log = vt::ReadFileBytes("logs\\QX20481.bridge.log");
  EXPECT_TRUE(Contains(log, dir_.path() + "\\QX20481Bridge32.exe is missing")) << log;
  EXPECT_FALSE(vt::FileExists("mediapad.state"));
}

// The 64-bit plug-in, loaded, driven through a session and freed again and
// again by one process, keeps no handle, view or helper. The program lies
// in the display host's folder, beside the helper. Each cycle starts a
// helper process (about 0.1 s natively, and several times that where
// 32-bit programs run under emulation), so 200 cycles, not a thousand: a
// leak of one handle a cycle is still far past the allowance.
TEST_F(BridgeChain, LoadingDrivingAndFreeingThePluginGivesEverythingBack) {
  ASSERT_TRUE(CopyFileA((vt::Win64BinDirectory() + "unload_cycles.exe").c_str(), "unload_cycles.exe", FALSE));
  vt::ChildRun cycles = RunChild(dir_.path() + "\\unload_cycles.exe displays\\QX20481.dll plugin 200", 600000);
  printf("%s", cycles.output.c_str());
  ASSERT_EQ(cycles.exit_code, 0) << cycles.output;
  const vt::FootprintReport f = vt::ReadFootprint(cycles.output);
  ASSERT_TRUE(f.read) << cycles.output;
  EXPECT_FOOTPRINT_KEPT(f, cycles.output);
  EXPECT_EQ(vt::FindProcesses(pt::kHelperTail).size(), 0u) << "a helper outlived its plug-in";
}

// Any 32-bit display plug-in, here our recording one, behind a copy of the
// bridge named after it: the 32-bit stand-in display host loads the 32-bit
// plug-in directly, the 64-bit one its bridged copy, with the same session.
// The plug-in records every call with its argument slots and its result.
class BridgedPlugin : public pt::BridgeChainTest {
 protected:
  void SetUp() override {
    pt::BridgeChainTest::SetUp();
    // Its settings where plug-ins look for theirs, a text for each way:
    // beside the process's program, in the current directory, and beside
    // the plug-in's own file, which the bridging step moves along with it.
    ASSERT_TRUE(vt::WriteFileBytes("displays\\RecordingDisplay.ini", "beside the plug-in\r\n"));
    Bridge("RecordingDisplay", "RecordingDisplay.dll");
    ASSERT_TRUE(vt::WriteFileBytes("RecordingDisplay.program.ini", "beside the program\r\n"));
    ASSERT_TRUE(vt::WriteFileBytes("RecordingDisplay.current.ini", "in the current directory\r\n"));
    ASSERT_TRUE(CreateDirectoryA("direct", nullptr));
    ASSERT_TRUE(CreateDirectoryA("direct\\displays", nullptr));
    ASSERT_TRUE(CopyFileA((vt::ProgramDirectory() + "display_host.exe").c_str(), "direct\\display_host32.exe", FALSE));
    ASSERT_TRUE(vt::WriteFileBytes("direct\\RecordingDisplay.program.ini", "beside the program\r\n"));
    ASSERT_TRUE(vt::WriteFileBytes("direct\\displays\\RecordingDisplay.ini", "beside the plug-in\r\n"));
    PlaceDirect("RecordingDisplay");
  }
  // The 32-bit plug-in of that name, for the 32-bit display host to load directly.
  void PlaceDirect(const std::string& name) {
    ASSERT_TRUE(CopyFileA((vt::ProgramDirectory() + name + ".dll").c_str(),
                          ("direct\\displays\\" + name + ".dll").c_str(), FALSE));
  }
  // The same session on both paths; each path's calls, and the display
  // host's lines without the timings of its writes.
  struct Seen {
    Lines calls, host;
    int exit_code;
  };
  Seen Run(const std::string& arguments, bool bridged, const std::string& name = "RecordingDisplay") {
    DeleteFileA((name + ".calls").c_str());
    vt::ChildRun run =
        RunChild((bridged ? "display_host64.exe displays\\" : "direct\\display_host32.exe direct\\displays\\") + name +
                     ".dll " + arguments,
                 60000);
    Seen seen{vt::FileLines(name + ".calls"), {}, run.exit_code};
    for (const std::string& line : vt::Lines(run.output))
      if (line.rfind("writes: ", 0) != 0) seen.host.push_back(line);
    return seen;
  }
};

constexpr char kSession[] =
    "--params \"p=1 two\" --exercise --show \"first \xb0 screen|second\" --show \"third|second\" --screen-ms 300 "
    "--interval 50 --shutdown \"bye|\"";

// The 32-bit display host passes byte arguments zero-extended; the 64-bit
// one leaves the upper bytes of the register undefined (the stand-in puts
// junk there). Through the bridge the 32-bit plug-in gets them as the
// 32-bit display host gives them.
TEST_F(BridgedPlugin, EveryCallArrivesAsWhenThe32BitDisplayHostLoadsThePlugin) {
  const Seen direct = Run(std::string(kSession) + " --zero-extend", false);
  const Seen bridged = Run(kSession, true);
  ASSERT_EQ(direct.exit_code, 0) << testing::PrintToString(direct.host);
  ASSERT_EQ(bridged.exit_code, 0) << testing::PrintToString(bridged.host);
  // Same calls, same argument slots, same results, in the same order.
  EXPECT_EQ(bridged.calls, direct.calls);
  EXPECT_EQ(bridged.host, direct.host);
  // The session did reach every call the plug-in has, and the display host
  // found exactly the plug-in's entry points on both paths: none of
  // SetContrast, SetBrightness, SetFan, PowerResume, DefaultParameters.
  const Lines expected_host_start = {
      "usage: RecordingDisplay: records every call in RecordingDisplay.calls",
      "driver: RecordingDisplay 1.0 (recording stand-in)",
      "default parameters: ''",
      "entry points: Init Done SetPosition Write CustomChar ReadKey SetBacklight SetGPO CustomCharIndex SetColor "
      "Usage DriverName",
      "Init: RecordingDisplay ready",
      "CustomCharIndex: 17 18 19 20 21 22 23 24",
      "ReadKey: 0041",
      "ReadKey: 0042",
      "ReadKey: ff00",
      "ReadKey: 0043"};
  ASSERT_GE(bridged.host.size(), expected_host_start.size());
  EXPECT_EQ(Lines(bridged.host.begin(), bridged.host.begin() + expected_host_start.size()), expected_host_start);
  const std::string calls = testing::PrintToString(bridged.calls);
  for (const char* call :
       {"Init 00000010 00000002 \"p=1 two\" -> ok=1 \"RecordingDisplay ready\"", "CustomCharIndex 00000001 -> 17",
        "CustomChar 00000002 39 40 47 4e 55 5c 63 6a", "SetGPO 00000002 00000000",
        "SetColor 00000012 00000034 00000056", "SetBacklight 00000001", "SetPosition 00000005 00000002",
        "Write \"custom:\\x11\\x12\\x13\\x14\\x15\\x16\\x17\\x18\"", "Write \"first \\x11 screen  \"",
        "Write \"third           \"", "SetBacklight 00000000", "Done",
        // The plug-in finds its settings where it finds them when loaded
        // directly: its process's program is in the display host's folder,
        // and its file named after it has moved along with it.
        "  setting beside the program: beside the program",
        "  setting in the current directory: in the current directory",
        "  setting beside the plug-in: beside the plug-in"})
    EXPECT_TRUE(std::find(bridged.calls.begin(), bridged.calls.end(), call) != bridged.calls.end())
        << call << " in " << calls;
  EXPECT_EQ(bridged.calls.back(), "Done") << calls;
  EXPECT_TRUE(vt::FileExists("displays\\RecordingDisplay-32bit\\RecordingDisplay.ini"));
}

// A plug-in with every entry point the display host looks up, whose
// DefaultParameters answers with a null pointer: the same calls on both
// paths, and the null stays null.
TEST_F(BridgedPlugin, APluginWithEveryEntryPointGetsTheSameCallsAndANullTextStaysNull) {
  Bridge("RecordingDisplayAll", "RecordingDisplayAll.dll");
  PlaceDirect("RecordingDisplayAll");
  const Seen direct = Run(std::string(kSession) + " --zero-extend", false, "RecordingDisplayAll");
  const Seen bridged = Run(kSession, true, "RecordingDisplayAll");
  ASSERT_EQ(direct.exit_code, 0) << testing::PrintToString(direct.host);
  EXPECT_EQ(bridged.calls, direct.calls);
  EXPECT_EQ(bridged.host, direct.host);
  const std::string calls = testing::PrintToString(bridged.calls);
  for (const char* call : {"SetContrast 00000080", "SetBrightness 00000080", "SetFan 0000000a 000000c8", "PowerResume",
                           "DefaultParameters -> null"})
    EXPECT_TRUE(std::find(bridged.calls.begin(), bridged.calls.end(), call) != bridged.calls.end())
        << call << " in " << calls;
  EXPECT_TRUE(std::find(bridged.host.begin(), bridged.host.end(), "default parameters: null") != bridged.host.end())
      << testing::PrintToString(bridged.host);
}

namespace {

// What a new helper's plug-in is given back, as the recording plug-in
// records it: the session's Init, the custom characters, the settings last
// made, each line written so far, and the cursor.
struct GivenBack {
  Lines custom = {"CustomChar 00000003 01 02 03 04 05 06 07 08"};
  std::string contrast = "SetContrast 00000007", brightness = "SetBrightness 00000009",
              backlight = "SetBacklight 00000001", gpo1 = "SetGPO 00000001 00000001", gpo2 = "SetGPO 00000002 00000001",
              fan = "SetFan 0000000a 00000014", color = "SetColor 00000001 00000002 00000003";
  std::string lines[2] = {"first line      ", ""};  // empty: not written
  std::string cursor = "SetPosition 0000000b 00000001";

  // The replay, then the call that found the helper gone.
  Lines Then(const Lines& call) const {
    Lines out = {"Init 00000010 00000002 \"p=1\" -> ok=1 \"RecordingDisplayAll ready\"",
                 "  setting beside the program: not found", "  setting in the current directory: not found",
                 "  setting beside the plug-in: not found"};
    out.insert(out.end(), custom.begin(), custom.end());
    out.insert(out.end(), {contrast, brightness, backlight, gpo1, gpo2, fan, color});
    for (int i = 0; i < 2; ++i) {
      if (lines[i].empty()) continue;
      out.push_back("SetPosition 00000001 0000000" + std::to_string(i + 1));
      out.push_back("Write \"" + lines[i] + "\"");
    }
    out.push_back(cursor);
    out.insert(out.end(), call.begin(), call.end());
    return out;
  }
};

// The calls from each "Init" up to the next.
std::vector<Lines> Sessions(const Lines& calls) {
  std::vector<Lines> sessions;
  for (const std::string& call : calls) {
    if (call.rfind("Init ", 0) == 0 || sessions.empty()) sessions.emplace_back();
    sessions.back().push_back(call);
  }
  return sessions;
}

}  // namespace

// The helper is ended before each call that has arguments, so that each is
// the call that finds it gone: the new helper is given the session back
// (the custom characters and the settings last made included), and then
// the call itself, with the arguments the display host gave.
TEST_F(BridgedPlugin, EachCallThatFindsTheHelperGoneArrivesAsTheDisplayHostGaveIt) {
  Bridge("RecordingDisplayAll", "RecordingDisplayAll.dll");
  ASSERT_TRUE(CopyFileA((vt::Win64BinDirectory() + "restart_driver.exe").c_str(), "restart_driver.exe", FALSE));
  const vt::ChildRun run = RunChild(dir_.path() + "\\restart_driver.exe displays\\RecordingDisplayAll.dll", 120000);
  ASSERT_EQ(run.exit_code, 0) << run.output;
  EXPECT_TRUE(HasLine(run.output, "CustomCharIndex(6): 22")) << run.output;
  const std::vector<Lines> sessions = Sessions(vt::FileLines("RecordingDisplayAll.calls"));
  ASSERT_EQ(sessions.size(), 12u) << testing::PrintToString(vt::FileLines("RecordingDisplayAll.calls"));

  GivenBack back;
  struct Step {
    Lines call;
    std::string* changes;  // the setting the call makes, or null
  };
  const std::string cursor_5_2 = "SetPosition 00000005 00000002";
  back.cursor = cursor_5_2;  // the SetPosition before the write, kept until the write carries it
  EXPECT_EQ(sessions[1], back.Then({"Write \"p\""}));
  back.lines[1] = "    p           ";
  back.cursor = "SetPosition 00000006 00000002";
  EXPECT_EQ(sessions[2], back.Then({"Write \"w\""}));
  back.lines[1] = "    pw          ";
  back.cursor = "SetPosition 00000007 00000002";
  const std::string custom_4 = "CustomChar 00000004 09 0a 0b 0c 0d 0e 0f 10";
  EXPECT_EQ(sessions[3], back.Then({custom_4}));
  back.custom.push_back(custom_4);
  EXPECT_EQ(sessions[4], back.Then({"CustomCharIndex 00000006 -> 22"}));
  const Step settings[] = {
      {{"SetBacklight 00000000"}, &back.backlight},   {{"SetContrast 00000021"}, &back.contrast},
      {{"SetBrightness 0000002c"}, &back.brightness}, {{"SetGPO 00000001 00000000"}, &back.gpo1},
      {{"SetFan 00000037 00000042"}, &back.fan},      {{"SetColor 00000012 00000034 00000056"}, &back.color}};
  size_t at = 5;
  for (const Step& step : settings) {
    EXPECT_EQ(sessions[at++], back.Then(step.call));
    *step.changes = step.call[0];
  }
  // A new session after the helper ended is a new session: nothing given back.
  EXPECT_EQ(sessions[11],
            Lines({"Init 00000014 00000004 \"again\" -> ok=1 \"RecordingDisplayAll ready\"",
                   "  setting beside the program: not found", "  setting in the current directory: not found",
                   "  setting beside the plug-in: not found", "Done"}));
}

// A plug-in whose own start-up fails cannot be loaded: the setup dialog's
// texts and Init's say so, with the file and the loader's error.
TEST_F(BridgedPlugin, APluginThatCannotBeLoadedSaysSoWithTheLoadersError) {
  ASSERT_TRUE(vt::WriteFileBytes("displays\\Refuses.fail-start", ""));
  Bridge("Refuses", "RecordingDisplay.dll");
  ASSERT_TRUE(vt::FileExists("displays\\Refuses-32bit\\Refuses.fail-start"));
  const vt::ChildRun run = RunChild("display_host64.exe displays\\Refuses.dll --params x", 30000);
  EXPECT_EQ(run.exit_code, 1) << run.output;
  const std::string why =
      "the 32-bit plug-in " + dir_.path() + "\\displays\\Refuses-32bit\\Refuses.dll could not be loaded (error 1114)";
  EXPECT_TRUE(HasLine(run.output, "usage: " + why)) << run.output;
  EXPECT_TRUE(HasLine(run.output, "Init failed: " + why)) << run.output;
  EXPECT_TRUE(HasLine(run.output, "driver: Refuses (64-bit bridge)")) << run.output;
  EXPECT_FALSE(vt::FileExists("Refuses.calls"));
}

// The failure path: Init's text and its OK byte left false, then Done, as
// with the plug-in loaded directly.
TEST_F(BridgedPlugin, AFailedInitGivesItsTextAndDoneAsDirectly) {
  const Seen direct = Run("--params fail --zero-extend", false);
  const Seen bridged = Run("--params fail", true);
  EXPECT_EQ(direct.exit_code, 1);
  EXPECT_EQ(bridged.exit_code, 1);
  EXPECT_EQ(bridged.calls, direct.calls);
  EXPECT_EQ(bridged.host, direct.host);
  EXPECT_TRUE(std::find(bridged.host.begin(), bridged.host.end(), "Init failed: RecordingDisplay told to fail") !=
              bridged.host.end())
      << testing::PrintToString(bridged.host);
  EXPECT_EQ(bridged.calls.back(), "Done");
}

// What the 32-bit plug-in loads by name is found as the 32-bit display
// host finds it, with the plug-in's own folder after the display host's
// program folder; a file it opens by a relative name is found in the
// display host's current directory.
TEST_F(BridgedPlugin, ThePluginFindsWhatItLoadsAsWithThe32BitDisplayHostAndInItsOwnFolder) {
  const std::string companion = vt::ProgramDirectory() + "RecordingDisplay.dll";
  ASSERT_TRUE(CopyFileA(companion.c_str(), "displays\\RecordingDisplay-32bit\\companion.dll", FALSE));
  ASSERT_TRUE(CopyFileA(companion.c_str(), "companion.dll", FALSE));
  ASSERT_TRUE(vt::WriteFileBytes("note.txt", "the display host's folder\r\n"));
  const std::string session = "--params \"load=companion.dll open=note.txt\" --screen-ms 0";
  const std::string folder = dir_.path();
  const auto loaded = [](const Lines& calls, const std::string& where) {
    return std::find(calls.begin(), calls.end(), "  load companion.dll: " + where) != calls.end();
  };
  Seen seen = Run(session, true);
  ASSERT_EQ(seen.exit_code, 0) << testing::PrintToString(seen.host);
  EXPECT_TRUE(loaded(seen.calls, folder + "\\companion.dll")) << testing::PrintToString(seen.calls);
  EXPECT_TRUE(std::find(seen.calls.begin(), seen.calls.end(), "  open note.txt: the display host's folder") !=
              seen.calls.end())
      << testing::PrintToString(seen.calls);

  ASSERT_TRUE(DeleteFileA("companion.dll"));
  seen = Run(session, true);
  ASSERT_EQ(seen.exit_code, 0) << testing::PrintToString(seen.host);
  EXPECT_TRUE(loaded(seen.calls, folder + "\\displays\\RecordingDisplay-32bit\\companion.dll"))
      << testing::PrintToString(seen.calls);

  // A display host whose program lies elsewhere than its current directory,
  // with the helper beside it: its program's folder comes first, and the
  // current directory is still searched, as by the 32-bit display host.
  ASSERT_TRUE(DeleteFileA("displays\\RecordingDisplay-32bit\\companion.dll"));
  ASSERT_TRUE(CreateDirectoryA("program", nullptr));
  ASSERT_TRUE(CopyFileA("display_host64.exe", "program\\display_host64.exe", FALSE));
  ASSERT_TRUE(CopyFileA("QX20481Bridge32.exe", "program\\QX20481Bridge32.exe", FALSE));
  ASSERT_TRUE(CopyFileA(companion.c_str(), "program\\companion.dll", FALSE));
  ASSERT_TRUE(CopyFileA(companion.c_str(), "companion.dll", FALSE));
  const std::string elsewhere = "program\\display_host64.exe displays\\RecordingDisplay.dll " + session;
  DeleteFileA("RecordingDisplay.calls");
  ASSERT_EQ(RunChild(elsewhere, 60000).exit_code, 0);
  EXPECT_TRUE(loaded(vt::FileLines("RecordingDisplay.calls"), folder + "\\program\\companion.dll"))
      << testing::PrintToString(vt::FileLines("RecordingDisplay.calls"));
  ASSERT_TRUE(DeleteFileA("program\\companion.dll"));
  DeleteFileA("RecordingDisplay.calls");
  ASSERT_EQ(RunChild(elsewhere, 60000).exit_code, 0);
  EXPECT_TRUE(loaded(vt::FileLines("RecordingDisplay.calls"), folder + "\\companion.dll"))
      << testing::PrintToString(vt::FileLines("RecordingDisplay.calls"));
}

// Two bridged plug-ins in one display host: the MediaPad's and the
// recording one, each with its own helper and section, neither seeing the
// other's calls.
TEST_F(BridgedPlugin, TwoBridgedPluginsInOneDisplayHostEachGetOnlyTheirOwnCalls) {
  ASSERT_TRUE(CopyFileA((vt::Win64BinDirectory() + "two_plugins_driver.exe").c_str(), "two_plugins_driver.exe", FALSE));
  size_t most_helpers = 0;
  vt::ChildRun run =
      RunChild(dir_.path() + "\\two_plugins_driver.exe displays\\QX20481.dll displays\\RecordingDisplay.dll", 60000,
               [&] { most_helpers = std::max(most_helpers, vt::FindProcesses(pt::kHelperTail).size()); });
  ASSERT_EQ(run.exit_code, 0) << run.output;
  EXPECT_TRUE(HasLine(run.output, "Init 1: MediaPad Display v1.2.201.1126")) << run.output;
  EXPECT_TRUE(HasLine(run.output, "Init 2: RecordingDisplay ready")) << run.output;
  EXPECT_EQ(most_helpers, 2u);
  EXPECT_TRUE(vt::FindProcesses(pt::kHelperTail).empty());
  auto state = pt::PadState();
  EXPECT_EQ(pt::PadLine(state, 0), "1: line 5       ");
  const Lines calls = vt::FileLines("RecordingDisplay.calls");
  Lines writes;
  for (const std::string& call : calls)
    if (call.rfind("Write ", 0) == 0) writes.push_back(call);
  ASSERT_EQ(writes.size(), 6u) << testing::PrintToString(calls);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(writes[i], "Write \"2: line " + std::to_string(i) + "       \"");
  EXPECT_EQ(calls.back(), "Done");
}

// A bridged copy whose 32-bit plug-in is no DLL it can read shows only
// Init, Done and the setup dialog's texts, which say why; its log carries
// its name, and no helper is started.
TEST_F(BridgedPlugin, AnUnreadable32BitPluginLeavesInitAndTheTextsWhichSayWhy) {
  Bridge("Broken", "RecordingDisplay.dll");
  ASSERT_TRUE(vt::WriteFileBytes("displays\\Broken-32bit\\Broken.dll", "not a program"));
  bool helper_seen = false;
  vt::ChildRun run = RunChild("display_host64.exe displays\\Broken.dll --params x", 30000,
                              [&] { helper_seen = helper_seen || !vt::FindProcesses(pt::kHelperTail).empty(); });
  EXPECT_EQ(run.exit_code, 1) << run.output;
  EXPECT_TRUE(HasLine(run.output, "entry points: Init Done Usage DriverName DefaultParameters")) << run.output;
  const std::string why =
      "the 32-bit plug-in displays\\Broken-32bit\\Broken.dll is not a 32-bit DLL (it is not a Windows program file): "
      "the 64-bit Broken.dll serves only it";
  EXPECT_TRUE(HasLine(run.output, "usage: " + why)) << run.output;
  EXPECT_TRUE(HasLine(run.output, "Init failed: " + why)) << run.output;
  EXPECT_FALSE(helper_seen);
  EXPECT_TRUE(Contains(vt::ReadFileBytes("logs\\Broken.bridge.log"), why));
}
