// vorn-check.exe --bridge and --unbridge when a rename fails part-way,
// driven through the step's seam in this process: what was moved goes
// back, and a file that cannot be put back is named with where it is.
#include "bridge_step.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "failing_renames.h"
#include "stdout_capture.h"
#include "test_support.h"

namespace {

class BridgeStepUndo : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = dir_.path() + "\\LCDSmartie\\";
    displays_ = folder_ + "displays\\";
    ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(displays_.c_str(), nullptr));
    ASSERT_TRUE(
        CopyFileA((vt::Win64BinDirectory() + "QX20481.dll").c_str(), (displays_ + "QX20481.dll").c_str(), FALSE));
    ASSERT_TRUE(vt::WriteFileBytes(folder_ + "QX20481Bridge32.exe", "the helper"));
    plugin_ = vt::ReadFileBytes(vt::ProgramDirectory() + "RecordingDisplay.dll");
    ASSERT_TRUE(vt::WriteFileBytes(displays_ + "Plug.dll", plugin_));
    ASSERT_TRUE(vt::WriteFileBytes(displays_ + "Plug.ini", "settings"));
  }
  vt::ScopedTempDir dir_;
  std::string folder_, displays_, plugin_;
};

}  // namespace

TEST_F(BridgeStepUndo, ABridgingThatFailsPartWayPutsBackWhatItMovedOrSaysWhereItIs) {
  const std::string plug = displays_ + "Plug.dll", ini = displays_ + "Plug.ini";
  const std::string moved = displays_ + "Plug-32bit\\Plug.dll", moved_ini = displays_ + "Plug-32bit\\Plug.ini";
  {
    // The settings file cannot move: the plug-in goes back, and the folder goes.
    StdoutCapture output;
    EXPECT_EQ(BridgeStep(plug, folder_, RenamesFailingAt({1})), 1);
    EXPECT_EQ(vt::Lines(output.Finish()),
              std::vector<std::string>{"failed: could not move " + ini +
                                       " (error 5); close the display host (LCDSmartie) and try again"});
    EXPECT_EQ(vt::ReadFileBytes(plug), plugin_);
    EXPECT_EQ(vt::ReadFileBytes(ini), "settings");
    EXPECT_FALSE(vt::FileExists(displays_ + "Plug-32bit"));
  }
  {
    // ... and the plug-in cannot go back either: the line says where it is.
    StdoutCapture output;
    EXPECT_EQ(BridgeStep(plug, folder_, RenamesFailingAt({1, 2})), 1);
    EXPECT_EQ(vt::Lines(output.Finish()),
              std::vector<std::string>{"failed: could not move " + ini +
                                       " (error 5), and not everything could be put back: " + plug + " is left as " +
                                       moved + " (error 5): move it back"});
    EXPECT_EQ(vt::ReadFileBytes(moved), plugin_);
    EXPECT_FALSE(vt::FileExists(plug));
    EXPECT_EQ(vt::ReadFileBytes(ini), "settings");
  }
  ASSERT_TRUE(MoveFileA(moved.c_str(), plug.c_str()));
  ASSERT_TRUE(RemoveDirectoryA((displays_ + "Plug-32bit").c_str()));

  // Bridged, then the unbridging cannot put the settings back: the plug-in
  // and the bridge go back where they were, bridged as before.
  {
    StdoutCapture output;
    ASSERT_EQ(BridgeStep(plug, folder_), 0);
  }
  const std::string bridge = vt::ReadFileBytes(plug);
  {
    StdoutCapture output;
    EXPECT_EQ(UnbridgeStep(plug, RenamesFailingAt({2})), 1);
    EXPECT_EQ(vt::Lines(output.Finish()),
              std::vector<std::string>{"failed: could not move " + moved_ini +
                                       " (error 5); close the display host (LCDSmartie) and try again"});
  }
  EXPECT_EQ(vt::ReadFileBytes(plug), bridge);
  EXPECT_EQ(vt::ReadFileBytes(moved), plugin_);
  EXPECT_EQ(vt::ReadFileBytes(moved_ini), "settings");
  EXPECT_FALSE(vt::FileExists(plug + ".bridge"));
}
