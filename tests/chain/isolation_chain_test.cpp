// A display plug-in of the 32-bit display host run in a process of its own:
// the test's directory laid out as the 32-bit display host's folder, with
// the 32-bit stand-in display host, the isolating bridge and the helper
// beside it, and the plug-in isolated as a user does it, with
// vorn-check.exe --isolate. The rest of the chain (layer, proxy, host
// program, emulated pad) is the one of the direct chain tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "chain_fixture.h"
#include "display_entry_names.h"
#include "host_harness.h"
#include "pe_layout.h"
#include "typed_export.h"

using Lines = std::vector<std::string>;

namespace {

constexpr char kHelperTail[] = "\\QX20481Bridge32.exe";

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class IsolationChain : public pt::ChainTest {
 protected:
  void SetUp() override {
    pt::ChainTest::SetUp();
    vt::KillProcesses(kHelperTail);
    ASSERT_TRUE(CreateDirectoryA("displays", nullptr));
    for (const char* file :
         {"display_host.exe", "VornIsolation.dll", "QX20481Bridge32.exe", "VornApx.dll", "vorn-check.exe"})
      ASSERT_TRUE(CopyFileA((vt::ProgramDirectory() + file).c_str(), file, FALSE)) << file;
  }
  void TearDown() override {
    vt::KillProcesses(kHelperTail);
    pt::ChainTest::TearDown();
  }
  // The 32-bit `file` of this tree as displays\<name>.dll, loaded directly.
  void Place(const std::string& name, const char* file) {
    ASSERT_TRUE(CopyFileA((vt::ProgramDirectory() + file).c_str(), ("displays\\" + name + ".dll").c_str(), FALSE));
  }
  void Isolate(const std::string& name) {
    const vt::ChildRun step = RunChild(dir_.path() + "\\vorn-check.exe --isolate displays\\" + name + ".dll", 30000);
    ASSERT_EQ(step.exit_code, 0) << step.output;
    ASSERT_TRUE(Contains(step.output, "isolated: ")) << step.output;
  }
  vt::ChildRun RunDisplayHost(const std::string& name, const std::string& arguments,
                              const std::function<void()>& during = nullptr) {
    return RunChild(dir_.path() + "\\display_host.exe displays\\" + name + ".dll " + arguments, 60000, during);
  }
};

// The display host's lines without the count of its writes.
Lines HostLines(const std::string& output) {
  Lines lines;
  for (const std::string& line : vt::Lines(output))
    if (line.rfind("writes: ", 0) != 0) lines.push_back(line);
  return lines;
}

int Writes(const std::string& output) {
  const size_t at = output.find("writes: ");
  return at == std::string::npos ? -1 : std::stoi(output.substr(at + 8));
}

}  // namespace

// The MediaPad's plug-in, loaded directly and then isolated, through the
// same session: the display host sees the same, and the pad ends the same,
// every write having reached it as four commands.
TEST_F(IsolationChain, TheMediaPadIsolatedShowsWhatItShowsLoadedDirectly) {
  Place("QX20481", "QX20481.dll");
  const std::string session =
      "--params Log --hold 500 --show \"  first screen  |second line\" --screen-ms 800 "
      "--exercise --shutdown \"bye|\"";
  const vt::ChildRun direct = RunDisplayHost("QX20481", session);
  ASSERT_EQ(direct.exit_code, 0) << direct.output;
  const auto direct_pad = pt::PadState();
  Isolate("QX20481");
  bool helper_seen = false;
  const vt::ChildRun isolated =
      RunDisplayHost("QX20481", session, [&] { helper_seen = helper_seen || !vt::FindProcesses(kHelperTail).empty(); });
  ASSERT_EQ(isolated.exit_code, 0) << isolated.output;
  EXPECT_TRUE(helper_seen);
  EXPECT_EQ(HostLines(isolated.output), HostLines(direct.output));
  // The display host finds the plug-in's plain names only (it exports
  // CustomChar and CustomCharIndex decorated only).
  EXPECT_TRUE(Contains(isolated.output,
                       "entry points: Init Done SetPosition Write PowerResume Usage DriverName DefaultParameters"))
      << isolated.output;
  // The pad counts its commands and beeps over both sessions.
  auto pad = pt::PadState();
  for (const char* shown : {"line0", "line1", "led", "mode", "icons"}) EXPECT_EQ(pad[shown], direct_pad.at(shown));
  EXPECT_EQ(pt::PadLine(pad, 0), "bye             ");
  EXPECT_EQ(pad["led"], "0");
  EXPECT_EQ(std::stoi(pad["beeps"]), 2 * std::stoi(direct_pad.at("beeps")));
  const int writes = Writes(isolated.output);
  EXPECT_EQ(writes, Writes(direct.output));
  EXPECT_EQ(std::stoi(pad["commands"]), 2 * (12 + 4 * writes + 2));
  // Done has run and the plug-in is freed: its helper has gone with it.
  EXPECT_TRUE(vt::FindProcesses(kHelperTail).empty());
}

// The helper ended from outside while the clock runs: the next write
// starts a new one, which is given the screen back, and the pad follows
// the clock again.
TEST_F(IsolationChain, AfterTheHelperIsEndedThePadFollowsTheClockAgain) {
  Place("QX20481", "QX20481.dll");
  Isolate("QX20481");
  pt::PadObserver observed;
  std::vector<DWORD> ended;
  const vt::ChildRun run =
      RunDisplayHost("QX20481", "--params Log --show \"   top stays    |$Tick\" --screen-ms 4000 --interval 400", [&] {
        // Once the screen is shown, the helper is ended from outside, once.
        observed.LookAndEndOnceShown("   top stays    |", kHelperTail, &ended);
      });
  ASSERT_EQ(run.exit_code, 0) << run.output;
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_TRUE(observed.MovesOnAfter("<helper ended>", "   top stays    |")) << testing::PrintToString(observed.screens);
  auto pad = pt::PadState();
  EXPECT_EQ(pt::PadLine(pad, 0), "    Goodbye!    ");
  EXPECT_EQ(pad["led"], "0");
}

// Any 32-bit plug-in, here the recording ones: the same calls with the
// same argument slots (the stand-in puts junk in the upper bytes of byte
// arguments, as a display host may) and the same results as loaded directly.
TEST_F(IsolationChain, ARecordingPluginIsolatedGetsTheSameCallsArgumentsAndResultsAsLoadedDirectly) {
  const std::string session =
      "--params \"p=1 two\" --exercise --show \"first \xb0 screen|second\" "
      "--show \"third|second\" --screen-ms 300 --interval 50 --shutdown \"bye|\"";
  for (const char* name : {"RecordingDisplay", "RecordingDisplayAll"}) {
    SCOPED_TRACE(name);
    const std::string calls_file = std::string(name) + ".calls";
    Place(name, (std::string(name) + ".dll").c_str());
    const vt::ChildRun direct = RunDisplayHost(name, session);
    ASSERT_EQ(direct.exit_code, 0) << direct.output;
    const Lines direct_calls = vt::FileLines(calls_file);
    ASSERT_TRUE(DeleteFileA(calls_file.c_str()));
    Isolate(name);
    const vt::ChildRun isolated = RunDisplayHost(name, session);
    ASSERT_EQ(isolated.exit_code, 0) << isolated.output;
    const Lines isolated_calls = vt::FileLines(calls_file);
    EXPECT_EQ(isolated_calls, direct_calls);
    EXPECT_EQ(HostLines(isolated.output), HostLines(direct.output));
    EXPECT_TRUE(std::find(isolated_calls.begin(), isolated_calls.end(), "SetBacklight a5c3e101") !=
                isolated_calls.end())
        << testing::PrintToString(isolated_calls);
    EXPECT_EQ(isolated_calls.back(), "Done");
  }
}

// Loaded, the isolating bridge exports exactly the display entry points its
// plug-in's file exports, under the same names, plain and decorated.
TEST_F(IsolationChain, TheIsolatedPluginExportsExactlyThePluginsNamesPlainAndDecorated) {
  for (const char* name : {"QX20481", "RecordingDisplay", "RecordingDisplayAll"}) {
    SCOPED_TRACE(name);
    Place(name, (std::string(name) + ".dll").c_str());
    Isolate(name);
    const std::string plugin_path = "displays\\" + std::string(name) + "-32bit\\" + name + ".dll";
    PeLayout plugin;
    const std::string text = vt::ReadFileBytes(plugin_path);
    const std::vector<uint8_t> bytes(text.begin(), text.end());
    ASSERT_TRUE(plugin.Read(bytes));
    HMODULE bridge = LoadLibraryA((dir_.path() + "\\displays\\" + name + ".dll").c_str());
    ASSERT_NE(bridge, nullptr);
    int exported = 0;
    for (int i = 0; i < kDisplayEntryCount; ++i) {
      const DisplayEntry entry = static_cast<DisplayEntry>(i);
      const DecoratedEntryName decorated(entry);
      for (const char* export_name : {kDisplayEntryNames[i], static_cast<const char*>(decorated.text)}) {
        EXPECT_EQ(GetProcAddress(bridge, export_name) != nullptr, plugin.HasExport(export_name)) << export_name;
        exported += plugin.HasExport(export_name);
      }
    }
    EXPECT_GT(exported, 0);
    // A call through a name the plug-in has only decorated reaches that entry.
    if (std::string(name) == "QX20481") {
      using IndexFn = uint8_t(WINAPI*)(uint32_t);
      HMODULE plugin_module = LoadLibraryA(plugin_path.c_str());
      ASSERT_NE(plugin_module, nullptr);
      const auto direct = LookupExport<IndexFn>(plugin_module, "DISPLAYDLL_CustomCharIndex@4");
      const auto through = LookupExport<IndexFn>(bridge, "DISPLAYDLL_CustomCharIndex@4");
      ASSERT_TRUE(direct && through);
      for (uint32_t index : {1u, 8u}) EXPECT_EQ(through(index), direct(index)) << index;
      FreeLibrary(plugin_module);
    }
    FreeLibrary(bridge);
  }
}
