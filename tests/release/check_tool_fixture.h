#pragma once
// The check tool in a folder laid out from the unpacked release zip (its
// folder for the 32-bit display host, or with Place64BitBuild the one for
// the 64-bit display host), with the stand-in layer and a stand-in
// LCDSmartie.exe beside it and the stand-in device library at the vendor's
// path.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_harness.h"
#include "test_support.h"

namespace vt {

inline std::string ReleaseFolder() { return vt::WindowsDirectory(VORN_RELEASE_FOLDER); }
// The zip's folder for one build of the display host, with a trailing backslash.
inline std::string ReleaseFolder(int bits) { return ReleaseFolder() + "LCDSmartie-" + std::to_string(bits) + "bit\\"; }

class CheckTool : public ::testing::Test {
 protected:
  void SetUp() override {
    vt::KillProcesses(vt::kHostTail);
    folder_ = dir_.path() + "\\LCDSmartie\\";
    ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((folder_ + "displays").c_str(), nullptr));
    for (const char* file : {"displays\\QX20481.dll", "VornApx.dll", "Vorn64BitInterface.exe", "vorn-check.exe"})
      ASSERT_TRUE(CopyFileA((ReleaseFolder(32) + file).c_str(), (folder_ + file).c_str(), FALSE)) << file;
    ASSERT_TRUE(CopyFileA((ReleaseFolder() + "INSTALL.txt").c_str(), (folder_ + "INSTALL.txt").c_str(), FALSE));
    PlaceLayer("MediaPadLayer");
    PlaceDisplayHost(vt::ProgramDirectory() + "display_host.exe");
    ASSERT_TRUE(vt::InstallVendorLibrary(vt::Win64BinDirectory() + "KHALAPI.dll"));
  }
  void TearDown() override {
    vt::KillProcesses(vt::kHostTail);
    vt::RemoveVendorLibrary();
  }
  // The files of the zip's folder for the 64-bit display host in place of
  // the 32-bit one's, and a 64-bit LCDSmartie.exe.
  void Place64BitBuild() {
    vt::KillProcesses(vt::kHostTail);  // a running one holds its file
    ASSERT_TRUE(CreateDirectoryA((folder_ + "displays\\QX20481-32bit").c_str(), nullptr));
    for (const char* file : {"displays\\QX20481.dll", "displays\\QX20481-32bit\\QX20481.dll", "QX20481Bridge32.exe",
                             "VornApx.dll", "Vorn64BitInterface.exe", "vorn-check.exe"})
      ASSERT_TRUE(CopyFileA((ReleaseFolder(64) + file).c_str(), (folder_ + file).c_str(), FALSE)) << file;
    PlaceDisplayHost(vt::Win64BinDirectory() + "display_host.exe");
  }
  void PlaceLayer(const char* variant) {
    ASSERT_TRUE(CopyFileA((vt::ProgramDirectory() + "layers\\" + variant + ".dll").c_str(),
                          (folder_ + "MediaPadLayer.dll").c_str(), FALSE));
  }
  void PlaceDisplayHost(const std::string& program) {
    ASSERT_TRUE(CopyFileA(program.c_str(), (folder_ + "LCDSmartie.exe").c_str(), FALSE));
  }
  // Runs the tool in the folder, with arguments or without; its exit status,
  // and its lines in `lines_`.
  int Run(DWORD timeout_ms = 60000) { return RunWith("", timeout_ms); }
  int RunWith(const std::string& arguments, DWORD timeout_ms = 60000) {
    const vt::ChildRun run = vt::RunChild("\"" + folder_ + "vorn-check.exe\" " + arguments, folder_,
                                          dir_.path() + "\\check.txt", timeout_ms);
    lines_ = vt::Lines(run.output);
    return run.exit_code;
  }
  // The verdict ("OK", "FAULT", ...) and the text of the line of one link.
  std::string Verdict(const std::string& link) const { return Field(link, 0, 6); }
  std::string Text(const std::string& link) const { return Field(link, 23, std::string::npos); }
  std::string Output() const { return testing::PrintToString(lines_); }

  vt::ScopedTempDir dir_;
  std::string folder_;
  std::vector<std::string> lines_;

 private:
  static std::string Trimmed(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  }
  std::string Field(const std::string& link, size_t from, size_t length) const {
    for (const std::string& line : lines_) {
      if (line.size() > 23 && Trimmed(line.substr(7, 15)) == link) return Trimmed(line.substr(from, length));
    }
    return "<no line for " + link + ">";
  }
};

}  // namespace vt
