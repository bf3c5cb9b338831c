// The host variant of the log, byte for byte against a fixed clock. Needs a
// fresh process per case (as vorn_gtest runs them): the log opens once a process.
#include "host_log.h"

#include <gtest/gtest.h>

#include <string>

#include "debug_log.h"
#include "fixed_clock.h"
#include "test_support.h"

namespace {
const std::string kRule(67, '=');
}

TEST(HostLog, FirstLineOpensTheFileWithTheRuleAndTheOpeningTime) {
  vt::ScopedTempDir dir;
  FixedClock::Set(2026, 12, 8, 10, 15, 30, 42);
  LogWrite("Got", "Bored");
  EXPECT_EQ(vt::ReadFileBytes(kHostLogFile),
            kRule + "\r\n" + "10:15:30.042 Log file Opened at 08/12/26 10:15:30\r\n" + "10:15:30.042 Got Bored\r\n");
}

TEST(HostLog, MillisecondsHaveLeadingZerosAndMessagesKeepTheirOwnLineEnds) {
  vt::ScopedTempDir dir;
  FixedClock::Set(2026, 1, 2, 9, 5, 3, 7);
  LogWrite("CommsStart", "Could not map view of file 0 error:5\n");
  FixedClock::Set(2026, 1, 2, 23, 59, 59, 999);
  LogWrite("Init", "KhalApi.dll loaded");
  auto lines = vt::FileLines(kHostLogFile);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1], "09:05:03.007 Log file Opened at 02/01/26 09:05:03");
  EXPECT_EQ(lines[2], "09:05:03.007 CommsStart Could not map view of file 0 error:5");
  EXPECT_EQ(lines[3], "");
  EXPECT_EQ(lines[4], "23:59:59.999 Init KhalApi.dll loaded");
}

TEST(HostLog, AFileThatCannotBeCreatedIsRetriedAtEveryLine) {
  vt::ScopedTempDir dir;
  FixedClock::Set(2026, 12, 8, 10, 0, 0, 0);
  // A directory of that name keeps the file from being created.
  ASSERT_TRUE(CreateDirectoryA(kHostLogFile, nullptr));
  LogWrite("first", "lost");
  LogWrite("second", "lost");
  ASSERT_TRUE(RemoveDirectoryA(kHostLogFile));
  FixedClock::Set(2026, 12, 8, 10, 0, 1, 5);
  LogWrite("third", "kept");
  EXPECT_EQ(vt::ReadFileBytes(kHostLogFile),
            kRule + "\r\n10:00:01.005 Log file Opened at 08/12/26 10:00:01\r\n10:00:01.005 third kept\r\n");
}

TEST(HostLog, AnOverlongTagIsCutAndKeepsItsSeparator) {
  vt::ScopedTempDir dir;
  FixedClock::Set(2026, 12, 8, 10, 0, 0, 0);
  std::string tag(300, 't');
  LogWrite(tag.c_str(), "message");
  auto lines = vt::FileLines(kHostLogFile);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], "10:00:00.000 " + std::string(241, 't') + " message");
}

TEST(HostLog, LongMessagesAreWrittenWhole) {
  vt::ScopedTempDir dir;
  FixedClock::Set(2026, 12, 8, 10, 0, 0, 0);
  std::string message(5000, 'm');
  LogWrite("tag", message.c_str());
  auto lines = vt::FileLines(kHostLogFile);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], "10:00:00.000 tag " + message);
}
