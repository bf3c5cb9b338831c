// The whole chain under Wine: QX20481.dll, the patched stand-in layer,
// VornApx.dll, Vorn64BitInterface.exe and the emulated pad.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "chain_fixture.h"
#include "footprint.h"
#include "host_harness.h"
#include "log_lines.h"
#include "plugin_fixture.h"
#include "typed_export.h"

using Lines = std::vector<std::string>;

namespace {

using InitFn = const char*(WINAPI*)(uint32_t, uint32_t, const char*, uint8_t*);
using VoidFn = void(WINAPI*)();
using WriteFn = void(WINAPI*)(const char*);
using PositionFn = void(WINAPI*)(uint32_t, uint32_t);

// The plug-in as the display host loads it: by path, plain names only.
struct LoadedPlugin {
  HMODULE module = LoadLibraryA((vt::ProgramDirectory() + "QX20481.dll").c_str());
  InitFn init = LookupExport<InitFn>(module, "DISPLAYDLL_Init");
  VoidFn done = LookupExport<VoidFn>(module, "DISPLAYDLL_Done");
  WriteFn write = LookupExport<WriteFn>(module, "DISPLAYDLL_Write");
  PositionFn set_position = LookupExport<PositionFn>(module, "DISPLAYDLL_SetPosition");
  ~LoadedPlugin() {
    if (module) FreeLibrary(module);
  }
};

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

class Chain : public pt::ChainTest {};

}  // namespace

TEST_F(Chain, PadShowsStartupTextThenWrittenTextThenGoesDark) {
  LoadedPlugin plugin;
  ASSERT_NE(plugin.module, nullptr);
  uint8_t ok = 0;
  ASSERT_STREQ(plugin.init(16, 2, "Log", &ok), "MediaPad Display v1.2.201.1126");
  ASSERT_EQ(ok, 1);
  const Lines load_lines = pt::LoadLines();  // while the layer is loaded, from its real addresses
  auto state = pt::PadState();
  EXPECT_EQ(pt::PadLine(state, 0), "   LCDSmartie   ");
  EXPECT_EQ(pt::PadLine(state, 1), " MediaPad plugin");
  EXPECT_EQ(state["led"], "1");
  EXPECT_EQ(state["mode"], "1");
  EXPECT_EQ(state["icons"], "0 0 0 0");
  EXPECT_EQ(state["beeps"], "1");

  plugin.set_position(1, 2);
  plugin.write("Hello from Wine!");
  plugin.set_position(4, 1);
  plugin.write("12:34");
  state = pt::PadState();
  EXPECT_EQ(pt::PadLine(state, 0), "   12:34artie   ");
  EXPECT_EQ(pt::PadLine(state, 1), "Hello from Wine!");

  plugin.done();
  state = pt::PadState();
  EXPECT_EQ(state["led"], "0");
  EXPECT_EQ(state["mode"], "3");
  EXPECT_EQ(pt::PadLine(state, 1), "Hello from Wine!");

  // The plug-in's log holds its lines and nothing else; the proxy's stays empty.
  const Lines plugin_log = vt::LibraryLogLines("logs\\QX20481.log");
  const std::string rule(35, '=');
  const Lines frame_open = {rule + " " + rule, "Log File opened for  QX20481", rule + " " + rule};
  const Lines frame_close = {rule + " " + rule, "Log File closed for  QX20481", rule + " " + rule};
  EXPECT_EQ(plugin_log, pt::Concat({frame_open,
                                    {"Init Called "},
                                    load_lines,
                                    {"Init getMediapadUID returned 0, UID=0x00000001", "PowerResume Entered",
                                     "Init Complete", "Done Bye"},
                                    frame_close}));
  ASSERT_TRUE(vt::FileExists("logs\\VornApx.log"));
  EXPECT_EQ(vt::ReadFileBytes("logs\\VornApx.log"), "");

  // The host program's log: its opening lines, the channel, the binding of
  // the four functions; a request that is served writes nothing.
  Lines host = vt::HostLogLines(0);
  ASSERT_EQ(host.size(), 8u);
  EXPECT_EQ(host[0], std::string(67, '='));
  EXPECT_TRUE(StartsWith(host[1], "Log file Opened at ")) << host[1];
  EXPECT_TRUE(StartsWith(host[2], "CommsStart entry 0 address 0x")) << host[2];
  const char* functions[] = {"LD_GetFirstDevicePosition", "LD_GetNextDevicePosition", "LD_DeviceControl",
                             "LD_GetDeviceInfo"};
  for (int i = 0; i < 4; ++i)
    EXPECT_TRUE(StartsWith(host[3 + i], std::string("GETFN ") + functions[i] + " at address 0x")) << host[3 + i];
  EXPECT_EQ(host[7], "Init KhalApi.dll loaded");
}

// Each write sends both lines, each after its own SetMode: four control
// commands reach the pad per write. (What a write costs is measured by
// tools/bench.sh, beside its floor.)
TEST_F(Chain, EveryWriteReachesThePadAsFourCommands) {
  LoadedPlugin plugin;
  uint8_t ok = 0;
  ASSERT_STREQ(plugin.init(16, 2, " ", &ok), "MediaPad Display v1.2.201.1126");
  ASSERT_EQ(ok, 1);
  const int before = std::stoi(pt::PadState()["commands"]);
  char text[17];
  constexpr int kWrites = 200;
  for (int i = 0; i < kWrites; ++i) {
    snprintf(text, sizeof text, "write %10d", i);
    plugin.set_position(1, 1 + (i & 1));
    plugin.write(text);
  }
  auto state = pt::PadState();
  EXPECT_EQ(pt::PadLine(state, 0), "write        198");
  EXPECT_EQ(pt::PadLine(state, 1), "write        199");
  EXPECT_EQ(std::stoi(state["commands"]) - before, 4 * kWrites);
  plugin.done();
}

// The host program ends (its idle exit, a crash, the Task Manager): the next
// write starts a new one, which is given the pad's device, and the text
// reaches the pad.
TEST_F(Chain, AfterTheHostProgramHasBeenEndedTheNextWriteReachesThePad) {
  LoadedPlugin plugin;
  uint8_t ok = 0;
  ASSERT_STREQ(plugin.init(16, 2, " ", &ok), "MediaPad Display v1.2.201.1126");
  ASSERT_EQ(ok, 1);
  ASSERT_EQ(vt::KillProcesses(pt::kHostTail), 1);
  const DWORD start = GetTickCount();
  plugin.set_position(1, 1);
  plugin.write("after a restart ");
  const DWORD elapsed = GetTickCount() - start;
  printf("the first write after the host's end took %lu ms\n", elapsed);
  EXPECT_LT(elapsed, 10000u);
  auto state = pt::PadState();
  EXPECT_EQ(pt::PadLine(state, 0), "after a restart ");
  EXPECT_EQ(pt::PadLine(state, 1), " MediaPad plugin");
  EXPECT_EQ(vt::FindProcesses(pt::kHostTail).size(), 1u);
  plugin.done();
  state = pt::PadState();
  EXPECT_EQ(state["led"], "0");
  EXPECT_EQ(state["mode"], "3");
}

TEST_F(Chain, StandInDisplayHostDrivesThePadFromStartToShutdown) {
  ASSERT_TRUE(CreateDirectoryA("displays", nullptr));
  ASSERT_TRUE(CopyFileA((vt::ProgramDirectory() + "QX20481.dll").c_str(), "displays\\QX20481.dll", FALSE));
  pt::PadObserver observed;
  vt::ChildRun run = RunChild("\"" + vt::ProgramDirectory() +
                                  "display_host.exe\" displays\\QX20481.dll --params Log --hold 1500 "
                                  "--show \"  first screen  |$Tick\" --screen-ms 1500 --shutdown \"bye|\"",
                              60000, [&] { observed.Look(); });
  observed.Look();
  EXPECT_EQ(run.exit_code, 0) << run.output;
  EXPECT_NE(run.output.find("Init: MediaPad Display v1.2.201.1126"), std::string::npos) << run.output;
  // In order: the start-up text (after the set-up sequence's cleared
  // screen), the screen shown, the shutdown message.
  const size_t startup = observed.Find(0, "   LCDSmartie   | MediaPad plugin led=1 mode=1");
  ASSERT_LT(startup, observed.screens.size()) << testing::PrintToString(observed.screens);
  ASSERT_LT(observed.Find(startup, "  first screen  |"), observed.screens.size())
      << testing::PrintToString(observed.screens);
  EXPECT_EQ(observed.screens.back().substr(0, 17), "bye             |");
  EXPECT_EQ(observed.screens.back().substr(33), " led=0 mode=3") << testing::PrintToString(observed.screens);
  EXPECT_TRUE(vt::FileExists("logs\\QX20481.log"));
  EXPECT_EQ(vt::ReadFileBytes("logs\\VornApx.log"), "");
}

TEST_F(Chain, StandInDisplayHostSurvivesAFailedInit) {
  DeleteFileA("MediaPadLayer.dll");
  vt::ChildRun run = RunChild(
      "\"" + vt::ProgramDirectory() + "display_host.exe\" \"" + vt::ProgramDirectory() + "QX20481.dll\" --params Log",
      30000);
  EXPECT_EQ(run.exit_code, 1) << run.output;
  EXPECT_NE(run.output.find("Init failed: Failed to load MediaPadLayer.dll"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Done"), std::string::npos) << run.output;
  EXPECT_TRUE(vt::FindProcesses(pt::kHostTail).empty());
}

// The display host loads and frees display plug-ins (its setup dialog
// does): the proxy and the plug-in, each loaded, called and freed again and
// again in one process, keep no handle and no view. The host program says
// that it is ready, so no cycle's first call waits the launcher's second:
// a thousand cycles each (about 35 s in all on a machine that runs 32-bit
// code natively).
TEST_F(Chain, LoadingCallingAndFreeingTheLibrariesGivesEverythingBack) {
  const std::string driver = "\"" + vt::ProgramDirectory() + "unload_cycles.exe\" \"" + vt::ProgramDirectory();
  for (const char* run : {"VornApx.dll\" proxy 1000", "QX20481.dll\" plugin 1000"}) {
    vt::ChildRun cycles = RunChild(driver + run, 600000);
    printf("%s: %s", run, cycles.output.c_str());
    ASSERT_EQ(cycles.exit_code, 0) << run << "\n" << cycles.output;
    const vt::FootprintReport f = vt::ReadFootprint(cycles.output);
    ASSERT_TRUE(f.read) << cycles.output;
    EXPECT_FOOTPRINT_KEPT(f, cycles.output);
  }
}
