// The setup program run silently under Wine, as IT staff would run it, into
// a folder laid out like LCD Smartie's install, with the stand-in for the
// vendor's original layer; then its uninstaller.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host_harness.h"
#include "layer_files.h"
#include "pad_protocol.h"
#include "test_support.h"

namespace {

// What the setup program places for the 32-bit display host, as the zip's
// folder LCDSmartie-32bit holds it, and for the 64-bit one, from
// LCDSmartie-64bit; INSTALL.txt for both.
const char* const kPlaced[] = {"displays\\QX20481.dll",  "VornApx.dll",    "Vorn64BitInterface.exe",
                               "Vorn32BitInterface.exe", "vorn-check.exe", "VornIsolation.dll",
                               "QX20481Bridge32.exe"};
const char* const kPlaced64[] = {"displays\\QX20481.dll",  "displays\\QX20481-32bit\\QX20481.dll",
                                 "QX20481Bridge32.exe",    "VornApx.dll",
                                 "Vorn64BitInterface.exe", "vorn-check.exe"};
constexpr char kUninstaller[] = "vorn-mediapad-uninstall.exe";
constexpr char kHelperTail[] = "\\QX20481Bridge32.exe";

// WindowsDirectory gives folders; the setup program is a file.
std::string SetupProgramPath() {
  const std::string path = vt::WindowsDirectory(VORN_SETUP_PROGRAM);
  return path.substr(0, path.size() - 1);
}
std::string ReleaseFile(const std::string& name) { return vt::WindowsDirectory(VORN_RELEASE_FOLDER) + name; }

// Every file and folder below `folder`, by its path there, with the file's
// bytes (a folder's path ends in a backslash).
using FolderContents = std::map<std::string, std::string>;
void AddContents(const std::string& folder, const std::string& below, FolderContents* contents) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\" + below + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      (*contents)[below + name + "\\"] = "";
      AddContents(folder, below + name + "\\", contents);
    } else {
      (*contents)[below + name] = vt::ReadFileBytes(folder + "\\" + below + name);
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
}
FolderContents ContentsOf(const std::string& folder) {
  FolderContents contents;
  AddContents(folder, "", &contents);
  return contents;
}
std::string Names(const FolderContents& contents) {
  std::string names;
  for (const auto& entry : contents) names += entry.first + "\n";
  return names;
}

bool HasLineStartingWith(const std::vector<std::string>& lines, const std::string& start) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.compare(0, start.size(), start) == 0; });
}

class SetupProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    vt::KillProcesses(vt::kHostTail);
    folder_ = dir_.path() + "\\LCDSmartie";
    vendor_ = dir_.path() + "\\vendor\\MediaPadLayer.dll";
    log_ = dir_.path() + "\\setup.log";
    ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(In("displays").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((dir_.path() + "\\vendor").c_str(), nullptr));
    ASSERT_TRUE(CopyFileA((vt::ProgramDirectory() + "display_host.exe").c_str(), In("LCDSmartie.exe").c_str(), FALSE));
    ASSERT_TRUE(vt::WriteFileBytes(In("config.ini"), "[General Settings]\r\nSize=6\r\n"));
    original_ = vt::ReadFileBytes(vt::StandInLayer("MediaPadLayer_original"));
    ASSERT_TRUE(vt::WriteFileBytes(vendor_, original_));
    ASSERT_TRUE(vt::InstallVendorLibrary(vt::Win64BinDirectory() + "KHALAPI.dll"));
  }
  void TearDown() override {
    vt::KillProcesses(vt::kHostTail);
    vt::KillProcesses(kHelperTail);
    vt::RemoveVendorLibrary();
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VornMediaPad");
  }
  std::string In(const std::string& name) const { return folder_ + "\\" + name; }
  // Runs the setup program silently into the folder; its exit status, its
  // log in `log_lines_`.
  int Install(const std::string& options) { return RunSetup(options + " /D=" + folder_); }
  int RunSetup(const std::string& arguments) {
    const vt::ChildRun run = vt::RunChild("\"" + SetupProgramPath() + "\" /S /LOG=" + log_ + " " + arguments,
                                          dir_.path(), dir_.path() + "\\setup.txt", 120000);
    log_lines_ = vt::FileLines(log_);
    return run.exit_code;
  }
  std::string Log() const { return testing::PrintToString(log_lines_); }
  // The plug-in as a direct install has it, or in a process of its own.
  void ExpectLoadedDirectly() {
    EXPECT_EQ(vt::ReadFileBytes(In("displays\\QX20481.dll")),
              vt::ReadFileBytes(ReleaseFile("LCDSmartie-32bit\\displays\\QX20481.dll")));
    EXPECT_FALSE(vt::FileExists(In("displays\\QX20481-32bit")));
    EXPECT_FALSE(HasLineStartingWith(log_lines_, "  OK     isolation")) << Log();
  }
  void ExpectIsolated() {
    EXPECT_EQ(vt::ReadFileBytes(In("displays\\QX20481.dll")),
              vt::ReadFileBytes(ReleaseFile("LCDSmartie-32bit\\VornIsolation.dll")));
    EXPECT_EQ(vt::ReadFileBytes(In("displays\\QX20481-32bit\\QX20481.dll")),
              vt::ReadFileBytes(ReleaseFile("LCDSmartie-32bit\\displays\\QX20481.dll")));
    EXPECT_TRUE(
        HasLineStartingWith(log_lines_, "isolated: " + In("displays\\QX20481.dll") + " is now the isolating bridge"))
        << Log();
    EXPECT_TRUE(HasLineStartingWith(log_lines_,
                                    "  OK     isolation       displays\\QX20481.dll runs "
                                    "displays\\QX20481-32bit\\QX20481.dll in a process of its own"))
        << Log();
  }
  // The uninstaller runs on from a copy of itself; it removes its own file last.
  void Uninstall() {
    const vt::ChildRun run =
        vt::RunChild("\"" + In(kUninstaller) + "\" /S", dir_.path(), dir_.path() + "\\un.txt", 60000);
    ASSERT_EQ(run.exit_code, 0);
    for (int i = 0; i < 600 && vt::FileExists(In(kUninstaller)); ++i) Sleep(50);
    ASSERT_FALSE(vt::FileExists(In(kUninstaller)));
    Sleep(500);  // its process may still be ending
  }

  vt::ScopedTempDir dir_;
  std::string folder_, vendor_, log_, original_;
  std::vector<std::string> log_lines_;
};

}  // namespace

TEST_F(SetupProgram, SilentInstallPlacesEveryFilePatchesTheLayerKeepsTheOldOneAndChecks) {
  const std::string previous = vt::ReadFileBytes(vt::StandInLayer("MediaPadLayer_recording"));
  ASSERT_TRUE(vt::WriteFileBytes(In("MediaPadLayer.dll"), previous));
  ASSERT_EQ(Install("/LAYER=" + vendor_), 0) << Log();
  for (const char* file : kPlaced)
    EXPECT_EQ(vt::ReadFileBytes(In(file)), vt::ReadFileBytes(ReleaseFile(std::string("LCDSmartie-32bit\\") + file)))
        << file;
  EXPECT_EQ(vt::ReadFileBytes(In("INSTALL.txt")), vt::ReadFileBytes(ReleaseFile("INSTALL.txt")));
  EXPECT_FALSE(vt::FileExists(In("displays\\QX20481-32bit")));
  EXPECT_TRUE(vt::PassesPatchCheck(In("MediaPadLayer.dll")));
  EXPECT_EQ(vt::ReadFileBytes(In("MediaPadLayer.dll.orig")), previous);
  EXPECT_EQ(vt::ReadFileBytes(vendor_), original_);
  EXPECT_TRUE(vt::FileExists(In(kUninstaller)));
  ASSERT_GE(log_lines_.size(), 3u) << Log();
  EXPECT_EQ(log_lines_.end()[-2], "  every link is OK.") << Log();
  EXPECT_EQ(log_lines_.back(), "installed; the check's exit status: 0") << Log();

  // The check tool, run again in the folder, agrees.
  vt::KillProcesses(vt::kHostTail);
  const vt::ChildRun check =
      vt::RunChild("\"" + In("vorn-check.exe") + "\"", folder_, dir_.path() + "\\check.txt", 60000);
  EXPECT_EQ(check.exit_code, 0) << check.output;
  EXPECT_NE(check.output.find("OK     pad             the pad answered through the layer"), std::string::npos)
      << check.output;
}

// A 64-bit LCDSmartie.exe gets the zip's folder for it: the 64-bit plug-in,
// the 32-bit plug-in in displays\QX20481-32bit and the helper beside
// LCDSmartie.exe; the uninstaller takes all of it away again, but keeps the
// helper while another plug-in is bridged through it.
TEST_F(SetupProgram, The64BitBuildGetsThe64BitPluginAndItsHelper) {
  ASSERT_TRUE(CopyFileA((vt::Win64BinDirectory() + "display_host.exe").c_str(), In("LCDSmartie.exe").c_str(), FALSE));
  // The 64-bit build runs the plug-in in the helper anyway: /ISOLATE changes nothing.
  ASSERT_EQ(Install("/ISOLATE /LAYER=" + vendor_), 0) << Log();
  EXPECT_TRUE(HasLineStartingWith(log_lines_,
                                  "/ISOLATE: the 64-bit LCD Smartie runs the plug-in in a process of its own already"))
      << Log();
  EXPECT_FALSE(vt::FileExists(In("VornIsolation.dll")));
  for (const char* file : kPlaced64)
    EXPECT_EQ(vt::ReadFileBytes(In(file)), vt::ReadFileBytes(ReleaseFile(std::string("LCDSmartie-64bit\\") + file)))
        << file;
  EXPECT_FALSE(vt::FileExists(In("Vorn32BitInterface.exe")));
  EXPECT_EQ(log_lines_.end()[-2], "  every link is OK.") << Log();
  // Another plug-in, bridged (its files as vorn-check.exe --bridge leaves them).
  ASSERT_TRUE(CreateDirectoryA(In("displays\\Other-32bit").c_str(), nullptr));
  ASSERT_TRUE(CopyFileA(In("displays\\QX20481-32bit\\QX20481.dll").c_str(),
                        In("displays\\Other-32bit\\Other.dll").c_str(), FALSE));
  Uninstall();
  for (const char* file : kPlaced64) {
    if (std::string(file) != "QX20481Bridge32.exe") {
      EXPECT_FALSE(vt::FileExists(In(file))) << file;
    }
  }
  EXPECT_TRUE(vt::FileExists(In("QX20481Bridge32.exe")));
  EXPECT_FALSE(vt::FileExists(In("displays\\QX20481-32bit")));
  EXPECT_TRUE(vt::FileExists(In("displays")));

  // Without another bridged plug-in, the helper goes with the rest.
  ASSERT_TRUE(DeleteFileA(In("displays\\Other-32bit\\Other.dll").c_str()));
  ASSERT_EQ(Install("/LAYER=" + vendor_), 0) << Log();
  Uninstall();
  for (const char* file : kPlaced64) EXPECT_FALSE(vt::FileExists(In(file))) << file;
}

TEST_F(SetupProgram, SilentUninstallRemovesExactlyWhatTheSetupPutThereAndRestoresTheKeptLayer) {
  // Without /LAYER the unpatched layer beside LCDSmartie.exe is the vendor's.
  ASSERT_TRUE(vt::WriteFileBytes(In("MediaPadLayer.dll"), original_));
  ASSERT_TRUE(CreateDirectoryA(In("logs").c_str(), nullptr));
  ASSERT_TRUE(vt::WriteFileBytes(In("logs\\LCDSmartie.log"), "the display host's own log"));
  ASSERT_EQ(Install(""), 0) << Log();
  EXPECT_EQ(vt::ReadFileBytes(In("MediaPadLayer.dll.orig")), original_);
  EXPECT_TRUE(vt::PassesPatchCheck(In("MediaPadLayer.dll")));
  EXPECT_TRUE(vt::FileExists(In("Vorn64BitInterface.log")));
  EXPECT_TRUE(vt::FileExists(In("logs\\VornApx.log")));
  // A host program of the folder runs (the setup's check started it); the
  // uninstaller must end it.
  vt::KillProcesses(vt::kHostTail);
  vt::ChildProcess host = vt::StartChild("\"" + In("Vorn64BitInterface.exe") + "\"", folder_);
  ASSERT_TRUE(host.process);

  Uninstall();
  EXPECT_EQ(WaitForSingleObject(host.process, 5000), static_cast<DWORD>(WAIT_OBJECT_0)) << "the host program runs on";
  CloseHandle(host.process);
  for (const char* file : kPlaced) EXPECT_FALSE(vt::FileExists(In(file))) << file;
  for (const char* log : {"Vorn64BitInterface.log", "logs\\VornApx.log", "logs\\QX20481.log"})
    EXPECT_FALSE(vt::FileExists(In(log))) << log;
  EXPECT_EQ(vt::ReadFileBytes(In("MediaPadLayer.dll")), original_);
  EXPECT_FALSE(vt::FileExists(In("MediaPadLayer.dll.orig")));
  // Everything else is as it was.
  EXPECT_EQ(vt::ReadFileBytes(In("config.ini")), "[General Settings]\r\nSize=6\r\n");
  EXPECT_EQ(vt::ReadFileBytes(In("logs\\LCDSmartie.log")), "the display host's own log");
  EXPECT_EQ(vt::ReadFileBytes(In("LCDSmartie.exe")), vt::ReadFileBytes(vt::ProgramDirectory() + "display_host.exe"));
  EXPECT_TRUE(vt::FileExists(In("displays")));
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VornMediaPad",
                          0, KEY_READ, &key),
            ERROR_SUCCESS);
}

// /ISOLATE runs the 32-bit plug-in in the helper (vorn-check.exe
// --isolate), and the files named after it go along; a reinstall keeps or
// drops that as its own option says; the uninstaller leaves the folder as
// it was before the first install.
TEST_F(SetupProgram, IsolateRunsThePluginInTheHelperAReinstallWithoutItLoadsItDirectlyAndUninstallRestoresTheFolder) {
  ASSERT_TRUE(vt::WriteFileBytes(In("MediaPadLayer.dll"), original_));
  ASSERT_TRUE(vt::WriteFileBytes(In("displays\\QX20481.ini"), "the user's settings of the plug-in"));
  ASSERT_TRUE(CreateDirectoryA(In("logs").c_str(), nullptr));
  ASSERT_TRUE(vt::WriteFileBytes(In("logs\\LCDSmartie.log"), "the display host's own log"));
  const FolderContents before = ContentsOf(folder_);

  ASSERT_EQ(Install("/ISOLATE"), 0) << Log();
  ExpectIsolated();
  EXPECT_EQ(vt::ReadFileBytes(In("displays\\QX20481-32bit\\QX20481.ini")), "the user's settings of the plug-in");
  EXPECT_FALSE(vt::FileExists(In("displays\\QX20481.ini")));
  EXPECT_EQ(log_lines_.end()[-2], "  every link is OK.") << Log();
  EXPECT_EQ(log_lines_.back(), "installed; the check's exit status: 0") << Log();

  // Over an isolated install, with and without the option.
  ASSERT_EQ(Install("/ISOLATE"), 0) << Log();
  EXPECT_TRUE(HasLineStartingWith(log_lines_, "unisolated: " + In("displays\\QX20481.dll"))) << Log();
  ExpectIsolated();
  ASSERT_EQ(Install(""), 0) << Log();
  ExpectLoadedDirectly();
  EXPECT_EQ(vt::ReadFileBytes(In("displays\\QX20481.ini")), "the user's settings of the plug-in");
  EXPECT_EQ(log_lines_.back(), "installed; the check's exit status: 0") << Log();

  ASSERT_EQ(Install("/ISOLATE"), 0) << Log();
  ExpectIsolated();
  // The display host drives the pad through the helper, which logs its start.
  const vt::ChildRun host = vt::RunChild("\"" + In("LCDSmartie.exe") +
                                             "\" displays\\QX20481.dll --params Log --show \"  first screen  |$Tick\" "
                                             "--screen-ms 500",
                                         folder_, dir_.path() + "\\host.txt", 60000);
  EXPECT_EQ(host.exit_code, 0) << host.output;
  EXPECT_NE(host.output.find("Init: MediaPad Display v1.2.201.1126"), std::string::npos) << host.output;
  EXPECT_TRUE(vt::FileExists(In("logs\\QX20481Bridge32.log")));
  EXPECT_TRUE(vt::FileExists(In("logs\\QX20481.log")));
  vt::KillProcesses(vt::kHostTail);
  Uninstall();
  FolderContents after = ContentsOf(folder_);
  after.erase(kPadStateFile);  // the emulated pad's, where the real vendor library keeps its own
  EXPECT_EQ(Names(after), Names(before));
  EXPECT_TRUE(after == before);
}

// A plug-in of another maker, isolated too, keeps the helper and the
// isolating bridge when the MediaPad's chain is uninstalled.
TEST_F(SetupProgram, UninstallKeepsTheHelperWhileAnotherPluginIsIsolated) {
  ASSERT_EQ(Install("/ISOLATE /LAYER=" + vendor_), 0) << Log();
  ASSERT_TRUE(CreateDirectoryA(In("displays\\Other-32bit").c_str(), nullptr));
  ASSERT_TRUE(CopyFileA(In("displays\\QX20481-32bit\\QX20481.dll").c_str(),
                        In("displays\\Other-32bit\\Other.dll").c_str(), FALSE));
  ASSERT_TRUE(CopyFileA(In("displays\\QX20481.dll").c_str(), In("displays\\Other.dll").c_str(), FALSE));
  Uninstall();
  EXPECT_TRUE(vt::FileExists(In("QX20481Bridge32.exe")));
  EXPECT_TRUE(vt::FileExists(In("VornIsolation.dll")));
  for (const char* file : {"displays\\QX20481.dll", "displays\\QX20481-32bit", "vorn-check.exe", "VornApx.dll"})
    EXPECT_FALSE(vt::FileExists(In(file))) << file;
  EXPECT_TRUE(vt::FileExists(In("displays\\Other.dll")));
}

// A refused --isolate ends the silent setup with its reason; what is
// installed loads the plug-in directly and can be uninstalled.
TEST_F(SetupProgram, AnIsolationThatIsRefusedIsReportedAndLeavesADirectInstall) {
  // A file named after the plug-in in both places: isolating would overwrite one.
  ASSERT_TRUE(vt::WriteFileBytes(In("displays\\QX20481.ini"), "the user's settings"));
  ASSERT_TRUE(CreateDirectoryA(In("displays\\QX20481-32bit").c_str(), nullptr));
  ASSERT_TRUE(vt::WriteFileBytes(In("displays\\QX20481-32bit\\QX20481.ini"), "older settings"));
  EXPECT_EQ(Install("/ISOLATE /LAYER=" + vendor_), 2) << Log();
  ASSERT_FALSE(log_lines_.empty());
  EXPECT_EQ(log_lines_.back(),
            "refused: the display plug-in could not be run in a process of its own; LCD Smartie "
            "loads it directly: " +
                In("displays\\QX20481-32bit\\QX20481.ini") + " is there already; move it away first")
      << Log();
  EXPECT_EQ(vt::ReadFileBytes(In("displays\\QX20481.dll")),
            vt::ReadFileBytes(ReleaseFile("LCDSmartie-32bit\\displays\\QX20481.dll")));
  EXPECT_EQ(vt::ReadFileBytes(In("displays\\QX20481.ini")), "the user's settings");
  EXPECT_EQ(vt::ReadFileBytes(In("displays\\QX20481-32bit\\QX20481.ini")), "older settings");
  Uninstall();
  for (const char* file : kPlaced) EXPECT_FALSE(vt::FileExists(In(file))) << file;
  EXPECT_EQ(vt::ReadFileBytes(In("displays\\QX20481-32bit\\QX20481.ini")), "older settings");
}

// While LCD Smartie has the isolating bridge loaded, or the helper runs,
// the plug-in's files are not moved: a loaded file could be renamed, and
// the running chain would lose its plug-in. Silently that is a refusal,
// and the isolated install stays whole.
TEST_F(SetupProgram, AnIsolatedPluginInUseStopsTheReinstallAndTheUninstallBeforeAnythingMoves) {
  ASSERT_EQ(Install("/ISOLATE /LAYER=" + vendor_), 0) << Log();
  const FolderContents installed = ContentsOf(folder_);
  char system[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryA(system, MAX_PATH), 0u);
  const std::string helper = vt::ReadFileBytes(In("QX20481Bridge32.exe"));
  struct Case {
    const char* what;
    const char* held;  // the file that is in use
  };
  for (const Case& c : {Case{"the display host has the bridge loaded", "displays\\QX20481.dll"},
                        Case{"the helper runs", "QX20481Bridge32.exe"}}) {
    SCOPED_TRACE(c.what);
    HMODULE bridge = nullptr;
    vt::ChildProcess running;
    if (std::string(c.held) == "QX20481Bridge32.exe") {
      // Any program that keeps running holds its file as the helper does: Windows' ping, renamed.
      ASSERT_TRUE(CopyFileA((std::string(system) + "\\ping.exe").c_str(), In(c.held).c_str(), FALSE));
      running = vt::StartChild("\"" + In(c.held) + "\" -n 60 127.0.0.1", folder_);
      ASSERT_TRUE(running.process);
      Sleep(500);
    } else {
      bridge = LoadLibraryA(In(c.held).c_str());
      ASSERT_TRUE(bridge);
    }
    EXPECT_EQ(Install("/LAYER=" + vendor_), 2) << Log();
    ASSERT_FALSE(log_lines_.empty());
    EXPECT_EQ(log_lines_.back(), "refused: " + In(c.held) + " is in use. Close LCD Smartie and try again.") << Log();
    // Run in place (_?=), so that its exit status is its own.
    const vt::ChildRun un =
        vt::RunChild("\"" + In(kUninstaller) + "\" /S _?=" + folder_, dir_.path(), dir_.path() + "\\un.txt", 60000);
    EXPECT_EQ(un.exit_code, 2);
    if (bridge) FreeLibrary(bridge);
    if (running.process) {
      TerminateProcess(running.process, 0);
      vt::WaitChild(running, 5000);
      ASSERT_TRUE(vt::WriteFileBytes(In(c.held), helper));
    }
    const FolderContents now = ContentsOf(folder_);
    EXPECT_EQ(Names(now), Names(installed));
    EXPECT_TRUE(now == installed);
  }
  // Once free, the reinstall loads it directly.
  ASSERT_EQ(Install("/LAYER=" + vendor_), 0) << Log();
  ExpectLoadedDirectly();
}

TEST_F(SetupProgram, TheUninstallEntryNamesTheProductVersionPublisherAndSize) {
  ASSERT_EQ(Install("/LAYER=" + vendor_), 0) << Log();
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VornMediaPad",
                          0, KEY_READ, &key),
            ERROR_SUCCESS);
  auto text = [&](const char* name) {
    char value[512] = {};
    DWORD size = sizeof value;
    return RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS
               ? std::string(value)
               : "<none>";
  };
  EXPECT_EQ(text("DisplayName"), "Vorn MediaPad display chain");
  EXPECT_EQ(text("DisplayVersion"), VORN_VERSION);
  EXPECT_EQ(text("Publisher"), "Vorn");
  EXPECT_EQ(text("InstallLocation"), folder_);
  EXPECT_EQ(text("UninstallString"), "\"" + In(kUninstaller) + "\"");
  DWORD size_kb = 0, size = sizeof size_kb;
  ASSERT_EQ(RegQueryValueExA(key, "EstimatedSize", nullptr, nullptr, reinterpret_cast<BYTE*>(&size_kb), &size),
            ERROR_SUCCESS);
  uint64_t bytes = 0;
  for (const char* file : kPlaced) bytes += vt::ReadFileBytes(In(file)).size();
  bytes += vt::ReadFileBytes(In("INSTALL.txt")).size() + original_.size();
  EXPECT_GE(size_kb, bytes / 1024);
  EXPECT_LE(size_kb, bytes / 1024 + 8);
  RegCloseKey(key);
}

// Each refusal: exit status 2, the reason as the log's last line, and
// nothing of the chain in the folder.
TEST_F(SetupProgram, SilentRefusalsExitNonZeroWithALineInTheLog) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
    std::string options;
    std::string line;
  };
  const std::string folder = folder_;
  const Case cases[] = {
      {"no LCDSmartie.exe", [&] { DeleteFileA(In("LCDSmartie.exe").c_str()); }, "/LAYER=" + vendor_,
       "refused: " + folder + " holds no LCDSmartie.exe. Choose the folder of LCD Smartie."},
      {"an LCDSmartie.exe that is no Windows program",
       [&] { vt::WriteFileBytes(In("LCDSmartie.exe"), std::string(4096, 'x')); }, "/LAYER=" + vendor_,
       "refused: " + folder + "\\LCDSmartie.exe cannot be read as a Windows program."},
      {"no vendor layer", [] {}, "",
       "refused: no vendor's MediaPadLayer.dll to patch: name it (silently: /LAYER=<file>)."},
      {"a layer the patch step refuses", [] {}, "/LAYER=" + vt::ProgramDirectory() + "VornApx.dll",
       "refused: " + vt::ProgramDirectory() + "VornApx.dll: it does not export getMediapadUID. Nothing was written."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CopyFileA((vt::ProgramDirectory() + "display_host.exe").c_str(), In("LCDSmartie.exe").c_str(), FALSE);
    c.arrange();
    EXPECT_EQ(Install(c.options), 2) << Log();
    ASSERT_FALSE(log_lines_.empty());
    EXPECT_EQ(log_lines_.back(), c.line) << Log();
    for (const char* file : kPlaced) EXPECT_FALSE(vt::FileExists(In(file))) << file;
    EXPECT_FALSE(vt::FileExists(In("MediaPadLayer.dll")));
    EXPECT_FALSE(vt::FileExists(In(kUninstaller)));
  }
}

// A file the display host has open cannot be replaced: silently, that is a
// refusal too, and the file stays as it was.
TEST_F(SetupProgram, AFileInUseStopsTheSilentSetup) {
  ASSERT_TRUE(vt::WriteFileBytes(In("displays\\QX20481.dll"), "an older plug-in"));
  HANDLE held = CreateFileA(In("displays\\QX20481.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Install("/LAYER=" + vendor_), 2) << Log();
  CloseHandle(held);
  ASSERT_FALSE(log_lines_.empty());
  EXPECT_EQ(log_lines_.back(), "refused: " + folder_ +
                                   "\\displays\\QX20481.dll cannot be replaced: it is in use. Close LCD Smartie and "
                                   "run the setup again.")
      << Log();
  EXPECT_EQ(vt::ReadFileBytes(In("displays\\QX20481.dll")), "an older plug-in");
  EXPECT_FALSE(vt::FileExists(In(kUninstaller)));
}

// Without /D the setup program looks for the folder itself, first that of
// a running LCDSmartie.exe. Any 32-bit program that keeps running will do
// as that: Windows' ping, renamed.
TEST_F(SetupProgram, ProposesTheFolderOfARunningLCDSmartie) {
  char system[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryA(system, MAX_PATH), 0u);
  ASSERT_TRUE(CopyFileA((std::string(system) + "\\ping.exe").c_str(), In("LCDSmartie.exe").c_str(), FALSE));
  vt::ChildProcess running = vt::StartChild("\"" + In("LCDSmartie.exe") + "\" -n 60 127.0.0.1", folder_);
  ASSERT_TRUE(running.process);
  Sleep(500);
  const int status = RunSetup("/LAYER=" + vendor_);
  TerminateProcess(running.process, 0);
  vt::WaitChild(running, 5000);
  ASSERT_EQ(status, 0) << Log();
  EXPECT_EQ(log_lines_.at(1), "folder: " + folder_);
  EXPECT_TRUE(vt::FileExists(In("displays\\QX20481.dll")));
}

// A host program of the folder that --end-host cannot end, or cannot tell
// from another folder's, holds its file: the setup says so and stops
// before it places anything, rather than blame LCD Smartie later.
TEST_F(SetupProgram, AHostProgramThatCannotBeEndedStopsTheSilentSetup) {
  const std::string host = In("Vorn64BitInterface.exe");
  ASSERT_TRUE(CopyFileA(ReleaseFile("LCDSmartie-32bit\\Vorn64BitInterface.exe").c_str(), host.c_str(), FALSE));
  for (const char* rules : {vt::kCannotBeEnded, vt::kCannotBeAsked}) {
    SCOPED_TRACE(rules);
    int status = 0;
    std::string tool_line;
    {
      vt::ScopedChild running{vt::StartGuardedChild("\"" + host + "\"", folder_, rules)};
      ASSERT_TRUE(running.child.process);
      Sleep(300);
      const std::string pid = std::to_string(running.child.pid);
      tool_line = rules == vt::kCannotBeEnded ? "could not end " + host + " (process " + pid + ", error 5)."
                                              : "cannot tell whether Vorn64BitInterface.exe (process " + pid +
                                                    ") runs from " + folder_ + "\\: its path cannot be read (error 5).";
      status = Install("/LAYER=" + vendor_);
      EXPECT_TRUE(running.Runs());
    }
    EXPECT_EQ(status, 2) << Log();
    ASSERT_GE(log_lines_.size(), 2u) << Log();
    EXPECT_EQ(log_lines_.end()[-2], tool_line) << Log();
    EXPECT_EQ(log_lines_.back(), "refused: " + tool_line + " End it in the Task Manager, then run the setup again.")
        << Log();
    for (const char* file : {"displays\\QX20481.dll", "VornApx.dll", "vorn-check.exe", "MediaPadLayer.dll"})
      EXPECT_FALSE(vt::FileExists(In(file))) << file;
    EXPECT_FALSE(vt::FileExists(In(kUninstaller)));
  }
}

// The uninstaller stops too, with the refusal's status, and removes nothing.
TEST_F(SetupProgram, AHostProgramThatCannotBeEndedStopsTheSilentUninstall) {
  ASSERT_EQ(Install("/LAYER=" + vendor_), 0) << Log();
  vt::KillProcesses(vt::kHostTail);
  vt::ScopedChild running{
      vt::StartGuardedChild("\"" + In("Vorn64BitInterface.exe") + "\"", folder_, vt::kCannotBeEnded)};
  ASSERT_TRUE(running.child.process);
  Sleep(300);
  // Run in place (_?=), so that its exit status is its own, not that of
  // the copy it would start of itself.
  const vt::ChildRun run =
      vt::RunChild("\"" + In(kUninstaller) + "\" /S _?=" + folder_, dir_.path(), dir_.path() + "\\un.txt", 60000);
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_TRUE(running.Runs());
  for (const char* file : kPlaced) EXPECT_TRUE(vt::FileExists(In(file))) << file;
  EXPECT_TRUE(vt::PassesPatchCheck(In("MediaPadLayer.dll")));
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VornMediaPad",
                          0, KEY_READ, &key),
            ERROR_SUCCESS);
  if (key) RegCloseKey(key);
}
