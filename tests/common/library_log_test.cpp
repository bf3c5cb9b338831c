// The library variant of the log, byte for byte against a fixed clock.
// Needs a fresh process per case (as vorn_gtest runs them): the open cycle,
// the debug level and the module name are module state.
#include "library_log.h"

#include <gtest/gtest.h>

#include <string>

#include "fixed_clock.h"
#include "stdout_capture.h"
#include "test_support.h"

namespace {

const std::string kRule(35, '=');
const char kLogPath[] = "logs\\library_log_test.log";

std::string Frame(const std::string& stamp, const char* middle) {
  return stamp + " " + kRule + " " + kRule + "\r\n" + stamp + " " + middle + " library_log_test\r\n" + stamp + " " +
         kRule + " " + kRule + "\r\n";
}

class LibraryLog : public ::testing::Test {
 protected:
  void SetUp() override { FixedClock::Set(2026, 12, 8, 10, 15, 30, 0); }
  vt::ScopedTempDir dir_;
};

}  // namespace

TEST_F(LibraryLog, ModuleNameIsTheProgramFileWithoutItsExtension) { EXPECT_STREQ(ModuleName(), "library_log_test"); }

TEST_F(LibraryLog, AtLevelOneACycleHasOpeningAndClosingLines) {
  LogSetLevel(1);
  LogWrite("PowerResume", "Entered");
  LogValue("SetMode failed", -1);
  LogValue("Line", 5);
  LogValue("zero", 0);
  LogValue("min", INT32_MIN);  // the longest value, 24 characters
  LogClose();
  const std::string stamp = "10:15:30 08/12/26";
  EXPECT_EQ(vt::ReadFileBytes(kLogPath), Frame(stamp, "Log File opened for ") + stamp + " PowerResume Entered\r\n" +
                                             stamp + " SetMode failed 0xffffffff (-1)\r\n" + stamp +
                                             " Line 0x00000005 (5)\r\n" + stamp + " zero 0x00000000 (0)\r\n" + stamp +
                                             " min 0x80000000 (-2147483648)\r\n" +
                                             Frame(stamp, "Log File closed for "));
}

TEST_F(LibraryLog, AtLevelZeroTheFileIsCreatedAndStaysEmpty) {
  LogWrite("Init", "Called ");
  ASSERT_TRUE(vt::FileExists(kLogPath));
  EXPECT_EQ(vt::ReadFileBytes(kLogPath), "");
  LogClose();
  EXPECT_TRUE(vt::FileExists(kLogPath));
  EXPECT_EQ(vt::ReadFileBytes(kLogPath), "");
}

TEST_F(LibraryLog, ANonZeroLevelOtherThanOneWritesLikeOne) {
  LogSetLevel(7);
  LogWrite("a", "b");
  auto lines = vt::FileLines(kLogPath);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3], "10:15:30 08/12/26 a b");
}

TEST_F(LibraryLog, ANewCycleEmptiesTheFile) {
  LogSetLevel(1);
  LogWrite("first", "cycle");
  LogClose();
  FixedClock::Set(2026, 12, 9, 1, 2, 3, 0);
  LogWrite("second", "cycle");
  const std::string stamp = "01:02:03 09/12/26";
  EXPECT_EQ(vt::ReadFileBytes(kLogPath), Frame(stamp, "Log File opened for ") + stamp + " second cycle\r\n");
}

TEST_F(LibraryLog, CloseWithoutAnyLineCreatesNothing) {
  LogSetLevel(1);
  LogClose();
  EXPECT_FALSE(vt::FileExists("logs"));
  EXPECT_FALSE(vt::FileExists(kLogPath));
}

TEST_F(LibraryLog, AFileThatCannotBeOpenedIsReportedOncePerCycle) {
  // A plain file named "logs" keeps the directory, and so the log, from being made.
  ASSERT_TRUE(vt::WriteFileBytes("logs", "x"));
  LogSetLevel(1);
  StdoutCapture out;
  LogWrite("one", "dropped");
  LogWrite("two", "dropped");
  LogClose();
  LogWrite("three", "dropped");
  EXPECT_EQ(out.Finish(), "Failed to open ini fileFailed to open ini file");
}

TEST(ModuleNameFromPath, TakesTheLastComponentWithoutItsExtension) {
  char name[256];
  ModuleNameFromPath("D:\\Tools\\QX20481.dll", name, sizeof name);
  EXPECT_STREQ(name, "QX20481");
  ModuleNameFromPath("QX20481.dll", name, sizeof name);
  EXPECT_STREQ(name, "QX20481");
  ModuleNameFromPath("C:\\a\\.dll", name, sizeof name);
  EXPECT_STREQ(name, ".dll");  // four characters or fewer stay whole
  ModuleNameFromPath("C:\\dir\\", name, sizeof name);
  EXPECT_STREQ(name, "module");
  ModuleNameFromPath("", name, sizeof name);
  EXPECT_STREQ(name, "module");
  ModuleNameFromPath(nullptr, name, sizeof name);
  EXPECT_STREQ(name, "module");
  char small[4];
  ModuleNameFromPath("C:\\VornApx.dll", small, sizeof small);
  EXPECT_STREQ(small, "Vor");
}
