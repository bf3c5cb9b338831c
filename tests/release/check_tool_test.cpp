// The check tool in a folder laid out like an installed chain
// (check_tool_fixture.h); and the version resources of the release's
// programs.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "check_tool_fixture.h"
#include "pad_protocol.h"

namespace {

using vt::CheckTool;
using vt::ReleaseFolder;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

const char* const kLinks[] = {"display host",   "plug-in", "layer", "proxy",   "host program",
                              "vendor library", "host",    "pad",   "versions"};

}  // namespace

TEST_F(CheckTool, EveryLinkIsOkAndThePadsUidIsRead) {
  EXPECT_EQ(Run(), 0) << Output();
  for (const char* link : kLinks) EXPECT_EQ(Verdict(link), "OK") << link << "\n" << Output();
  char uid[32];
  snprintf(uid, sizeof uid, "UID 0x%016llX", static_cast<unsigned long long>(kPadUidBase));
  EXPECT_NE(Text("pad").find(uid), std::string::npos) << Text("pad");
  EXPECT_EQ(Text("versions"),
            std::string("the plug-in, the proxy and the host program are all version ") + VORN_VERSION_FULL);
  EXPECT_EQ(Text("display host"), "LCDSmartie.exe, 32-bit");
  EXPECT_EQ(lines_.back(), "every link is OK.");
}

// The 64-bit display host takes the 64-bit plug-in and its helper; the
// rest of the chain is the same.
TEST_F(CheckTool, The64BitBuildIsCheckedWithItsHelper) {
  Place64BitBuild();
  EXPECT_EQ(Run(), 0) << Output();
  for (const char* link : kLinks) EXPECT_EQ(Verdict(link), "OK") << link << "\n" << Output();
  EXPECT_EQ(Text("display host"),
            "LCDSmartie.exe, 64-bit: it takes the 64-bit QX20481.dll, with its helper QX20481Bridge32.exe beside it "
            "and the 32-bit one in displays\\QX20481-32bit");
  EXPECT_EQ(Text("plug-in").rfind("displays\\QX20481.dll, 64-bit, version ", 0), 0u) << Text("plug-in");
  int helper_lines = 0;
  for (const std::string& line : lines_)
    helper_lines += line.rfind("OK     helper          QX20481Bridge32.exe, 32-bit", 0) == 0 ||
                    line.rfind("OK     helper          displays\\QX20481-32bit\\QX20481.dll, 32-bit", 0) == 0;
  EXPECT_EQ(helper_lines, 2) << Output();
}

// A 32-bit plug-in that the helper cannot load (its own start-up fails) is
// a fault of its own, with the loader's error; the check tool asks the
// helper, which loads it as for a session.
TEST_F(CheckTool, ABridgedPluginThatCannotBeLoadedIsAFaultWithTheLoadersError) {
  Place64BitBuild();
  ASSERT_TRUE(CopyFileA((vt::ProgramDirectory() + "RecordingDisplay.dll").c_str(),
                        (folder_ + "displays\\QX20481-32bit\\QX20481.dll").c_str(), FALSE));
  ASSERT_TRUE(vt::WriteFileBytes(folder_ + "displays\\QX20481-32bit\\QX20481.fail-start", ""));
  EXPECT_EQ(Run(), 1) << Output();
  bool said = false;
  for (const std::string& line : lines_)
    said = said || line ==
                       "FAULT  helper          displays\\QX20481-32bit\\QX20481.dll could not be loaded (error "
                       "1114). Take it from the zip's folder LCDSmartie-64bit, or run the setup program.";
  EXPECT_TRUE(said) << Output();
}

// Each build of the display host cannot load the other's plug-in, and says
// nothing: the tool names the folder of the zip to take.
TEST_F(CheckTool, APluginThatDoesNotMatchTheDisplayHostIsAFaultNamingTheFolderToTake) {
  PlaceDisplayHost(vt::Win64BinDirectory() + "display_host.exe");
  EXPECT_EQ(Run(), 1) << Output();
  EXPECT_EQ(Verdict("plug-in"), "FAULT");
  EXPECT_EQ(Text("plug-in"),
            "displays\\QX20481.dll is 32-bit, but LCDSmartie.exe is the 64-bit build, which cannot load it. Copy the "
            "files of the zip's folder LCDSmartie-64bit, or run the setup program.");
  for (const char* link : {"layer", "host", "pad"}) EXPECT_EQ(Verdict(link), "OK") << link;

  Place64BitBuild();
  PlaceDisplayHost(vt::ProgramDirectory() + "display_host.exe");
  EXPECT_EQ(Run(), 1) << Output();
  EXPECT_EQ(Text("plug-in"),
            "displays\\QX20481.dll is 64-bit, but LCDSmartie.exe is the 32-bit build, which cannot load it. Copy the "
            "files of the zip's folder LCDSmartie-32bit, or run the setup program.");
}

TEST_F(CheckTool, AMissingHelperOfThe64BitPluginIsAFault) {
  Place64BitBuild();
  ASSERT_TRUE(DeleteFileA((folder_ + "QX20481Bridge32.exe").c_str()));
  EXPECT_EQ(Run(), 1) << Output();
  EXPECT_EQ(Verdict("helper"), "FAULT");
  EXPECT_EQ(Text("helper"),
            "QX20481Bridge32.exe is missing. Copy it from the zip's folder LCDSmartie-64bit beside LCDSmartie.exe, or "
            "run the setup program.");
}

TEST_F(CheckTool, WithoutADisplayHostProgramThatLinkIsNotChecked) {
  ASSERT_TRUE(DeleteFileA((folder_ + "LCDSmartie.exe").c_str()));
  EXPECT_EQ(Run(), 0) << Output();
  EXPECT_EQ(Verdict("display host"), "--");
  EXPECT_EQ(Text("display host"), "not checked: no LCDSmartie.exe in this folder");
}

TEST_F(CheckTool, AMissingLayerIsItsOwnFault) {
  ASSERT_TRUE(DeleteFileA((folder_ + "MediaPadLayer.dll").c_str()));
  EXPECT_EQ(Run(), 1) << Output();
  EXPECT_EQ(Verdict("layer"), "FAULT");
  EXPECT_EQ(Text("layer").rfind("MediaPadLayer.dll cannot be loaded", 0), 0u) << Text("layer");
  EXPECT_EQ(Verdict("pad"), "--");
  EXPECT_EQ(Verdict("host"), "OK");
}

TEST_F(CheckTool, AnUnpatchedLayerIsItsOwnFault) {
  PlaceLayer("MediaPadLayer_unpatched");
  EXPECT_EQ(Run(), 1) << Output();
  EXPECT_EQ(Verdict("layer"), "FAULT");
  EXPECT_NE(Text("layer").find("is not patched (it loads KHALAPI.dll, not VornApx.dll)"), std::string::npos)
      << Text("layer");
  EXPECT_EQ(Verdict("pad"), "--");
}

TEST_F(CheckTool, AMissingHostProgramIsItsOwnFault) {
  ASSERT_TRUE(DeleteFileA((folder_ + "Vorn64BitInterface.exe").c_str()));
  EXPECT_EQ(Run(), 1) << Output();
  EXPECT_EQ(Verdict("host program"), "FAULT");
  EXPECT_EQ(Text("host program").rfind("Vorn64BitInterface.exe is missing.", 0), 0u) << Text("host program");
  EXPECT_EQ(Verdict("host"), "FAULT");
  EXPECT_EQ(Verdict("proxy"), "OK");
  EXPECT_EQ(Verdict("versions"), "WARN");  // the host program has no version to compare
}

TEST_F(CheckTool, AMissingVendorLibraryIsItsOwnFault) {
  vt::RemoveVendorLibrary();
  EXPECT_EQ(Run(), 1) << Output();
  EXPECT_EQ(Verdict("vendor library"), "FAULT");
  EXPECT_NE(Text("vendor library").find("KHALAPI.dll is missing"), std::string::npos) << Text("vendor library");
  EXPECT_EQ(Verdict("host"), "FAULT") << Output();
  EXPECT_NE(Text("host").find("Failed to load khalapi.dll library"), std::string::npos) << Text("host");
}

TEST_F(CheckTool, VornApxInTheDisplaysFolderIsWarnedAbout) {
  ASSERT_TRUE(CopyFileA((folder_ + "VornApx.dll").c_str(), (folder_ + "displays\\VornApx.dll").c_str(), FALSE));
  EXPECT_EQ(Run(), 2) << Output();
  int warned = 0;
  for (const std::string& line : lines_)
    warned += line.rfind("WARN   plug-in         displays\\VornApx.dll does not belong there", 0) == 0;
  EXPECT_EQ(warned, 1) << Output();
}

// A proxy that is there but does not load is not one without the export.
TEST_F(CheckTool, AProxyThatDoesNotLoadIsSaidSo) {
  const std::string proxy = vt::ReadFileBytes(folder_ + "VornApx.dll");
  ASSERT_GT(proxy.size(), 4096u);
  // Its headers say a 32-bit DLL; its sections are cut off.
  ASSERT_TRUE(vt::WriteFileBytes(folder_ + "VornApx.dll", proxy.substr(0, 1024)));
  EXPECT_EQ(Run(), 1) << Output();
  EXPECT_EQ(Verdict("host"), "FAULT") << Output();
  const std::string text = Text("host");
  EXPECT_EQ(text.rfind("VornApx.dll cannot be loaded (error ", 0), 0u) << text;
  const std::string advice = "). Take it from the release zip.";
  EXPECT_EQ(text.size() > advice.size() ? text.substr(text.size() - advice.size()) : text, advice) << text;
  EXPECT_EQ(Verdict("pad"), "--");
}

TEST_F(CheckTool, AnUnknownCommandLineShowsEveryUseAndFails) {
  for (const char* arguments : {"--help", "--end-host", "--patch-layer", "--end-host a b", "--check"}) {
    SCOPED_TRACE(arguments);
    EXPECT_EQ(RunWith(arguments), 1) << Output();
    ASSERT_FALSE(lines_.empty());
    EXPECT_EQ(lines_[0].rfind("usage: vorn-check.exe ", 0), 0u) << Output();
    for (const char* use :
         {"vorn-check.exe --patch-layer <the vendor's MediaPadLayer.dll>", "vorn-check.exe --end-host <folder>"}) {
      int named = 0;
      for (const std::string& line : lines_) named += line.find(use) != std::string::npos;
      EXPECT_EQ(named, 1) << use << "\n" << Output();
    }
  }
}

// The setup program and the uninstaller end the folder's host program with
// --end-host before they replace or remove its file.
TEST_F(CheckTool, EndHostEndsTheFoldersHostProgramAndNoOther) {
  const std::string folder = folder_.substr(0, folder_.size() - 1);  // as the setup program names it
  const std::string program = folder_ + "Vorn64BitInterface.exe";
  EXPECT_EQ(RunWith("--end-host \"" + folder + "\""), 0) << Output();
  EXPECT_EQ(lines_, (std::vector<std::string>{"no host program of " + program + " runs."}));

  const std::string other = dir_.path() + "\\other\\";
  ASSERT_TRUE(CreateDirectoryA(other.c_str(), nullptr));
  ASSERT_TRUE(CopyFileA(program.c_str(), (other + "Vorn64BitInterface.exe").c_str(), FALSE));
  {
    vt::ScopedChild elsewhere{vt::StartChild("\"" + other + "Vorn64BitInterface.exe\"", other)};
    ASSERT_TRUE(elsewhere.child.process);
    Sleep(300);
    EXPECT_EQ(RunWith("--end-host \"" + folder + "\""), 0) << Output();
    EXPECT_EQ(lines_, (std::vector<std::string>{"no host program of " + program + " runs."}));
    EXPECT_TRUE(elsewhere.Runs());
  }

  vt::ScopedChild here{vt::StartChild("\"" + program + "\"", folder_)};
  ASSERT_TRUE(here.child.process);
  Sleep(300);
  EXPECT_EQ(RunWith("--end-host \"" + folder + "\""), 0) << Output();
  EXPECT_EQ(lines_, (std::vector<std::string>{"ended " + program + " (1 process)."}));
  EXPECT_FALSE(here.Runs());
}

// A host program of the folder that cannot be ended, or one that may be
// the folder's since its path cannot be read, fails the step: the caller
// must not go on as if the file were free.
TEST_F(CheckTool, EndHostFailsForAHostItCannotEndOrCannotPlace) {
  const std::string folder = folder_.substr(0, folder_.size() - 1);
  const std::string program = folder_ + "Vorn64BitInterface.exe";
  {
    vt::ScopedChild guarded{vt::StartGuardedChild("\"" + program + "\"", folder_, vt::kCannotBeEnded)};
    ASSERT_TRUE(guarded.child.process);
    Sleep(300);
    EXPECT_EQ(RunWith("--end-host \"" + folder + "\""), 1) << Output();
    EXPECT_EQ(lines_, (std::vector<std::string>{"could not end " + program + " (process " +
                                                std::to_string(guarded.child.pid) + ", error 5)."}));
    EXPECT_TRUE(guarded.Runs());
  }

  vt::ScopedChild hidden{vt::StartGuardedChild("\"" + program + "\"", folder_, vt::kCannotBeAsked)};
  ASSERT_TRUE(hidden.child.process);
  Sleep(300);
  EXPECT_EQ(RunWith("--end-host \"" + folder + "\""), 1) << Output();
  EXPECT_EQ(lines_, (std::vector<std::string>{"cannot tell whether Vorn64BitInterface.exe (process " +
                                              std::to_string(hidden.child.pid) + ") runs from " + folder_ +
                                              ": its path cannot be read (error 5)."}));
  EXPECT_TRUE(hidden.Runs());
  // A folder without a host program file cannot be where it runs from.
  const std::string empty = dir_.path() + "\\empty";
  ASSERT_TRUE(CreateDirectoryA(empty.c_str(), nullptr));
  EXPECT_EQ(RunWith("--end-host \"" + empty + "\""), 0) << Output();
  EXPECT_EQ(lines_, (std::vector<std::string>{"no host program of " + empty + "\\Vorn64BitInterface.exe runs."}));
}

namespace {

std::string VersionString(const std::vector<char>& info, const char* name) {
  char* value = nullptr;
  UINT length = 0;
  const std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
  if (!VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) || !value) return "";
  return std::string(value);
}

}  // namespace

TEST(ReleaseVersions, EveryProgramOfTheZipCarriesTheProjectVersion) {
  unsigned parts[4] = {};
  ASSERT_EQ(sscanf(VORN_VERSION_FULL, "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]), 4);
  for (const char* file : {"LCDSmartie-32bit\\displays\\QX20481.dll", "LCDSmartie-32bit\\VornApx.dll",
                           "LCDSmartie-32bit\\Vorn64BitInterface.exe", "LCDSmartie-32bit\\Vorn32BitInterface.exe",
                           "LCDSmartie-32bit\\vorn-check.exe", "LCDSmartie-32bit\\VornIsolation.dll",
                           "LCDSmartie-32bit\\QX20481Bridge32.exe", "LCDSmartie-64bit\\displays\\QX20481.dll",
                           "LCDSmartie-64bit\\QX20481Bridge32.exe"}) {
    SCOPED_TRACE(file);
    const std::string path = ReleaseFolder() + file;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, (parts[0] << 16) | parts[1]);
    EXPECT_EQ(fixed->dwFileVersionLS, (parts[2] << 16) | parts[3]);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    EXPECT_EQ(VersionString(info, "FileVersion"), VORN_VERSION_FULL);
    EXPECT_EQ(VersionString(info, "ProductVersion"), VORN_VERSION_FULL);
    EXPECT_EQ(VersionString(info, "ProductName"), VORN_PRODUCT_NAME);
    const std::string name = std::string(file).substr(std::string(file).find_last_of('\\') + 1);
    EXPECT_EQ(VersionString(info, "OriginalFilename"), name);
    EXPECT_EQ(VersionString(info, "InternalName"), name.substr(0, name.find_last_of('.')));
    EXPECT_FALSE(VersionString(info, "FileDescription").empty());
  }
}

TEST(ReleaseVersions, TheSetupProgramCarriesTheReleaseVersion) {
  std::string path = vt::WindowsDirectory(VORN_SETUP_PROGRAM);
  path.pop_back();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
  EXPECT_EQ(VersionString(info, "FileVersion"), VORN_VERSION_FULL);
  EXPECT_EQ(VersionString(info, "ProductVersion"), VORN_VERSION_FULL);
  EXPECT_EQ(VersionString(info, "ProductName"), VORN_PRODUCT_NAME);
  EXPECT_EQ(VersionString(info, "CompanyName"), "Vorn");
  EXPECT_EQ(VersionString(info, "OriginalFilename"), path.substr(path.find_last_of('\\') + 1));
}

// One-step bridging of another 32-bit display plug-in in the 64-bit build's
// folder, and its undo.
class BridgeStep : public vt::CheckTool {
 protected:
  void SetUp() override {
    vt::CheckTool::SetUp();
    Place64BitBuild();
  }
  int RunStep(const std::string& arguments) {
    const vt::ChildRun run =
        vt::RunChild("\"" + folder_ + "vorn-check.exe\" " + arguments, folder_, dir_.path() + "\\step.txt", 30000);
    lines_ = vt::Lines(run.output);
    return run.exit_code;
  }
  bool Exists(const std::string& file) const { return vt::FileExists(folder_ + file); }
  std::string Bytes(const std::string& file) const { return vt::ReadFileBytes(folder_ + file); }
};

// The files named after the plug-in move with it, and back again.
TEST_F(BridgeStep, BridgesA32BitPluginWithTheFilesNamedAfterItAndUndoesIt) {
  const std::string plugin32 = vt::ReadFileBytes(vt::ProgramDirectory() + "RecordingDisplay.dll");
  ASSERT_TRUE(vt::WriteFileBytes(folder_ + "displays\\RecordingDisplay.dll", plugin32));
  ASSERT_TRUE(vt::WriteFileBytes(folder_ + "displays\\RecordingDisplay.ini", "its settings"));
  ASSERT_TRUE(vt::WriteFileBytes(folder_ + "displays\\RecordingDisplay.cfg", "more of them"));
  ASSERT_TRUE(vt::WriteFileBytes(folder_ + "displays\\RecordingDisplayOther.ini", "another plug-in's"));
  ASSERT_EQ(RunStep("--bridge displays\\RecordingDisplay.dll"), 0) << Output();
  ASSERT_EQ(lines_.size(), 1u) << Output();
  EXPECT_EQ(lines_[0].rfind("bridged: ", 0), 0u) << Output();
  EXPECT_TRUE(Contains(lines_[0], "(with RecordingDisplay.cfg, RecordingDisplay.ini)") ||
              Contains(lines_[0], "(with RecordingDisplay.ini, RecordingDisplay.cfg)"))
      << Output();
  EXPECT_EQ(Bytes("displays\\RecordingDisplay.dll"), Bytes("displays\\QX20481.dll"));
  EXPECT_EQ(Bytes("displays\\RecordingDisplay-32bit\\RecordingDisplay.dll"), plugin32);
  EXPECT_EQ(Bytes("displays\\RecordingDisplay-32bit\\RecordingDisplay.ini"), "its settings");
  EXPECT_EQ(Bytes("displays\\RecordingDisplay-32bit\\RecordingDisplay.cfg"), "more of them");
  EXPECT_FALSE(Exists("displays\\RecordingDisplay.ini"));
  EXPECT_EQ(Bytes("displays\\RecordingDisplayOther.ini"), "another plug-in's");
  // One helper, beside the display host's program, serves every bridged plug-in.
  EXPECT_FALSE(Exists("displays\\RecordingDisplay-32bit\\QX20481Bridge32.exe"));
  // Once bridged it is refused, and nothing changes.
  EXPECT_EQ(RunStep("--bridge displays\\RecordingDisplay.dll"), 1);
  EXPECT_EQ(lines_[0].rfind("refused: ", 0), 0u) << Output();
  EXPECT_TRUE(Contains(lines_[0], "bridged already")) << Output();
  EXPECT_EQ(Bytes("displays\\RecordingDisplay-32bit\\RecordingDisplay.dll"), plugin32);

  ASSERT_EQ(RunStep("--unbridge displays\\RecordingDisplay.dll"), 0) << Output();
  EXPECT_EQ(lines_[0].rfind("unbridged: ", 0), 0u) << Output();
  EXPECT_EQ(Bytes("displays\\RecordingDisplay.dll"), plugin32);
  EXPECT_EQ(Bytes("displays\\RecordingDisplay.ini"), "its settings");
  EXPECT_EQ(Bytes("displays\\RecordingDisplay.cfg"), "more of them");
  EXPECT_FALSE(Exists("displays\\RecordingDisplay-32bit"));
  EXPECT_FALSE(Exists("displays\\RecordingDisplay.dll.bridge"));
  // The MediaPad's own files are as they were.
  EXPECT_EQ(Bytes("displays\\QX20481.dll"), vt::ReadFileBytes(vt::ReleaseFolder(64) + "displays\\QX20481.dll"));
}

TEST_F(BridgeStep, RefusesA64BitDllAndADllThatIsNoDisplayPlugin) {
  const std::string plugin64 = vt::ReadFileBytes(vt::Win64BinDirectory() + "RecordingDisplay.dll");
  ASSERT_TRUE(vt::WriteFileBytes(folder_ + "displays\\Native64.dll", plugin64));
  EXPECT_EQ(RunStep("--bridge displays\\Native64.dll"), 1);
  ASSERT_EQ(lines_.size(), 1u) << Output();
  EXPECT_TRUE(Contains(lines_[0], "refused: displays\\Native64.dll is a 64-bit DLL")) << Output();
  EXPECT_EQ(Bytes("displays\\Native64.dll"), plugin64);
  EXPECT_FALSE(Exists("displays\\Native64-32bit"));

  const std::string proxy = Bytes("VornApx.dll");  // a 32-bit DLL, but no display plug-in
  ASSERT_TRUE(vt::WriteFileBytes(folder_ + "displays\\Proxy.dll", proxy));
  EXPECT_EQ(RunStep("--bridge displays\\Proxy.dll"), 1);
  EXPECT_TRUE(Contains(lines_[0], "refused: displays\\Proxy.dll is not a display plug-in")) << Output();
  EXPECT_EQ(Bytes("displays\\Proxy.dll"), proxy);
  EXPECT_FALSE(Exists("displays\\Proxy-32bit"));

  ASSERT_TRUE(vt::WriteFileBytes(folder_ + "displays\\Text.dll", "not a program"));
  EXPECT_EQ(RunStep("--bridge displays\\Text.dll"), 1);
  EXPECT_TRUE(Contains(lines_[0], "is not a 32-bit DLL")) << Output();

  EXPECT_EQ(RunStep("--unbridge displays\\QX20481.dll"), 1);
  EXPECT_TRUE(Contains(lines_[0], "the MediaPad's own plug-in")) << Output();
  EXPECT_EQ(RunStep("--unbridge displays\\Native64.dll"), 1);
  EXPECT_TRUE(Contains(lines_[0], "is not a bridged plug-in")) << Output();
}

// Without the 64-bit build's bridge (the 32-bit build's folder) there is
// nothing to put in front of the plug-in.
TEST_F(CheckTool, BridgingNeedsThe64BitBuildsBridge) {
  const std::string plugin32 = vt::ReadFileBytes(vt::ProgramDirectory() + "RecordingDisplay.dll");
  ASSERT_TRUE(vt::WriteFileBytes(folder_ + "displays\\RecordingDisplay.dll", plugin32));
  const vt::ChildRun run = vt::RunChild("\"" + folder_ + "vorn-check.exe\" --bridge displays\\RecordingDisplay.dll",
                                        folder_, dir_.path() + "\\step.txt", 30000);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_TRUE(Contains(run.output, "refused: the 64-bit bridge")) << run.output;
  EXPECT_EQ(vt::ReadFileBytes(folder_ + "displays\\RecordingDisplay.dll"), plugin32);
}

// One-step isolation of a plug-in in the 32-bit build's folder, and its undo.
class IsolateStep : public vt::CheckTool {
 protected:
  void SetUp() override {
    vt::CheckTool::SetUp();
    for (const char* file : {"VornIsolation.dll", "QX20481Bridge32.exe"})
      ASSERT_TRUE(CopyFileA((vt::ReleaseFolder(32) + file).c_str(), (folder_ + file).c_str(), FALSE)) << file;
    plugin32_ = vt::ReadFileBytes(vt::ProgramDirectory() + "RecordingDisplay.dll");
    ASSERT_TRUE(vt::WriteFileBytes(folder_ + "displays\\RecordingDisplay.dll", plugin32_));
    ASSERT_TRUE(vt::WriteFileBytes(folder_ + "displays\\RecordingDisplay.ini", "its settings"));
  }
  bool Exists(const std::string& file) const { return vt::FileExists(folder_ + file); }
  std::string Bytes(const std::string& file) const { return vt::ReadFileBytes(folder_ + file); }
  std::string plugin32_;
};

TEST_F(IsolateStep, IsolatesAnyPluginAndTheMediaPadsOwnAndUndoesEach) {
  ASSERT_EQ(RunWith("--isolate displays\\RecordingDisplay.dll"), 0) << Output();
  ASSERT_EQ(lines_.size(), 1u) << Output();
  EXPECT_EQ(lines_[0].rfind("isolated: ", 0), 0u) << Output();
  EXPECT_TRUE(Contains(lines_[0], "(undo: vorn-check.exe --unisolate displays\\RecordingDisplay.dll)")) << Output();
  EXPECT_EQ(Bytes("displays\\RecordingDisplay.dll"), Bytes("VornIsolation.dll"));
  EXPECT_EQ(Bytes("displays\\RecordingDisplay-32bit\\RecordingDisplay.dll"), plugin32_);
  EXPECT_EQ(Bytes("displays\\RecordingDisplay-32bit\\RecordingDisplay.ini"), "its settings");
  // Once isolated it is refused, and nothing changes.
  EXPECT_EQ(RunWith("--isolate displays\\RecordingDisplay.dll"), 1);
  EXPECT_TRUE(Contains(lines_[0], "refused: displays\\RecordingDisplay.dll is isolated already")) << Output();
  EXPECT_EQ(Bytes("displays\\RecordingDisplay-32bit\\RecordingDisplay.dll"), plugin32_);

  // The MediaPad's own plug-in may be isolated and put back too; the check
  // tool names each isolated plug-in, and no helper runs without a display host.
  const std::string mediapad = Bytes("displays\\QX20481.dll");
  ASSERT_EQ(RunWith("--isolate displays\\QX20481.dll"), 0) << Output();
  Run();
  int isolation_lines = 0;
  for (const std::string& line : lines_) {
    if (line.rfind("OK     isolation", 0) != 0) continue;
    ++isolation_lines;
    EXPECT_TRUE(Contains(line, "no helper runs it now")) << line;
  }
  EXPECT_EQ(isolation_lines, 2) << Output();
  EXPECT_TRUE(Contains(Text("isolation"),
                       "displays\\QX20481.dll runs displays\\QX20481-32bit\\QX20481.dll in a "
                       "process of its own"))
      << Output();
  ASSERT_EQ(RunWith("--unisolate displays\\QX20481.dll"), 0) << Output();
  EXPECT_EQ(lines_[0].rfind("unisolated: ", 0), 0u) << Output();
  EXPECT_EQ(Bytes("displays\\QX20481.dll"), mediapad);
  EXPECT_FALSE(Exists("displays\\QX20481-32bit"));

  ASSERT_EQ(RunWith("--unisolate displays\\RecordingDisplay.dll"), 0) << Output();
  EXPECT_EQ(Bytes("displays\\RecordingDisplay.dll"), plugin32_);
  EXPECT_EQ(Bytes("displays\\RecordingDisplay.ini"), "its settings");
  EXPECT_FALSE(Exists("displays\\RecordingDisplay-32bit"));
  Run();
  EXPECT_EQ(Verdict("isolation"), "<no line for isolation>") << Output();
}

TEST_F(IsolateStep, RefusesWhatCannotBeIsolatedOrPutBack) {
  const std::string plugin64 = vt::ReadFileBytes(vt::Win64BinDirectory() + "RecordingDisplay.dll");
  ASSERT_TRUE(vt::WriteFileBytes(folder_ + "displays\\Native64.dll", plugin64));
  EXPECT_EQ(RunWith("--isolate displays\\Native64.dll"), 1);
  EXPECT_TRUE(Contains(lines_[0], "refused: displays\\Native64.dll is a 64-bit DLL")) << Output();
  EXPECT_FALSE(Exists("displays\\Native64-32bit"));
  // The isolating bridge itself, under a plug-in's name.
  ASSERT_TRUE(vt::WriteFileBytes(folder_ + "displays\\Copy.dll", Bytes("VornIsolation.dll")));
  EXPECT_EQ(RunWith("--isolate displays\\Copy.dll"), 1);
  EXPECT_TRUE(Contains(lines_[0], "refused: displays\\Copy.dll is a copy of VornIsolation.dll")) << Output();
  EXPECT_FALSE(Exists("displays\\Copy-32bit"));
  // Not isolated: nothing to put back.
  EXPECT_EQ(RunWith("--unisolate displays\\RecordingDisplay.dll"), 1);
  EXPECT_TRUE(Contains(lines_[0], "refused: displays\\RecordingDisplay.dll is not an isolated plug-in")) << Output();
  EXPECT_EQ(Bytes("displays\\RecordingDisplay.dll"), plugin32_);
  // A 64-bit bridged plug-in is no isolated one.
  ASSERT_EQ(RunWith("--isolate displays\\RecordingDisplay.dll"), 0) << Output();
  EXPECT_EQ(RunWith("--unbridge displays\\RecordingDisplay.dll"), 1);
  EXPECT_TRUE(Contains(lines_[0], "is not a bridged plug-in")) << Output();
  // Without the isolating bridge beside it (the 64-bit build's folder has none).
  ASSERT_TRUE(DeleteFileA((folder_ + "VornIsolation.dll").c_str()));
  ASSERT_TRUE(vt::WriteFileBytes(folder_ + "displays\\Other.dll", plugin32_));
  EXPECT_EQ(RunWith("--isolate displays\\Other.dll"), 1);
  EXPECT_TRUE(Contains(lines_[0], "refused: the isolating bridge")) << Output();
  EXPECT_EQ(Bytes("displays\\Other.dll"), plugin32_);
}

// While a display host has the isolated plug-in loaded, the check tool
// names the helper that runs it.
TEST_F(IsolateStep, TheCheckToolNamesTheHelperThatRunsAnIsolatedPlugin) {
  ASSERT_EQ(RunWith("--isolate displays\\RecordingDisplay.dll"), 0) << Output();
  vt::ChildProcess display_host =
      vt::StartChildWithOutputFile("\"" + folder_ + "LCDSmartie.exe\" displays\\RecordingDisplay.dll --hold 60000",
                                   folder_, dir_.path() + "\\host.txt");
  ASSERT_NE(display_host.process, nullptr);
  bool running = false;
  for (DWORD start = GetTickCount(); !running && GetTickCount() - start < 30000; Sleep(50))
    running = !vt::FindProcesses("\\QX20481Bridge32.exe").empty() &&
              Contains(vt::ReadFileBytes(dir_.path() + "\\host.txt"), "Init: RecordingDisplay ready");
  ASSERT_TRUE(running) << vt::ReadFileBytes(dir_.path() + "\\host.txt");
  const std::vector<DWORD> helpers = vt::FindProcesses("\\QX20481Bridge32.exe");
  Run();
  TerminateProcess(display_host.process, 1);
  vt::WaitChild(display_host, 5000);
  vt::WaitNoProcess("\\QX20481Bridge32.exe", 5000);
  ASSERT_EQ(helpers.size(), 1u);
  EXPECT_EQ(Verdict("isolation"), "OK") << Output();
  EXPECT_TRUE(Contains(Text("isolation"), "its helper QX20481Bridge32.exe runs (process " + std::to_string(helpers[0]) +
                                              ", for the display host's process"))
      << Output();
}
