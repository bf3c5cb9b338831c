// The real VornApx.dll, loaded by a 32-bit program, starts the real host
// program and reaches the emulated pad behind it.
#include <cstdio>

#include "end_to_end_env.h"
#include "pad_protocol.h"

namespace {

std::string Hex(uint64_t value, int bytes) {
  std::string s;
  char b[4];
  for (int i = 0; i < bytes; ++i, value >>= 8) {
    snprintf(b, sizeof b, " %02x", static_cast<unsigned>(value & 0xFF));
    s += b;
  }
  return s;
}

std::string HexText(const char* text) {
  std::string s;
  char b[4];
  for (; *text; ++text) {
    snprintf(b, sizeof b, " %02x", static_cast<unsigned char>(*text));
    s += b;
  }
  return s;
}

// What the pad answers, from its protocol: one pad at the start position.
std::vector<std::string> ExpectedPadLines() {
  char next[64], end[64], info_head[64];
  snprintf(next, sizeof next, "next %d 0x%08x", kPadOk, static_cast<unsigned>(kPadDeviceBase & 0xFFFFFFFFu));
  snprintf(end, sizeof end, "next %d 0x%08x", kPadEndOfListResult, kPadEndOfList);
  snprintf(info_head, sizeof info_head, "info %d 64", kPadOk);
  return {"first 0 " + std::to_string(kPadStartPosition), next,
          info_head + Hex(kPadUidBase, 8) + Hex(kPadProductId, 4) + Hex(kPadFirmware, 4) + HexText("MediaPad"),
          "control 0", end};
}

}  // namespace

TEST_F(ProxyEndToEnd, TheFirstCallStartsTheHostAndASecondProcessUsesIt) {
  Prepare("KHALAPI.dll");
  vt::ChildRun first = RunCaller("pad", "first.txt", 30000);
  ASSERT_EQ(first.exit_code, 0) << first.output;
  std::vector<std::string> lines = vt::Lines(first.output);
  const std::vector<std::string> expected = ExpectedPadLines();
  ASSERT_EQ(lines.size(), expected.size()) << first.output;
  for (size_t i = 0; i < expected.size(); ++i) {
    // The information line is compared up to the pad's name.
    EXPECT_EQ(lines[i].substr(0, expected[i].size()), expected[i]);
  }
  EXPECT_NE(vt::ReadFileBytes("mediapad.state").find("line0=|Hello proxy     |"), std::string::npos)
      << vt::ReadFileBytes("mediapad.state");
  // The launcher started the copy in the caller's current directory.
  const std::vector<DWORD> hosts = vt::FindProcesses((dir_.path() + kHostTail).c_str());
  ASSERT_EQ(hosts.size(), 1u) << dir_.path();
  EXPECT_EQ(vt::FindProcesses(kHostTail), hosts);
  EXPECT_TRUE(vt::FileExists("logs\\VornApx.log"));
  EXPECT_EQ(vt::ReadFileBytes("logs\\VornApx.log"), "");

  vt::ChildRun second = RunCaller("pad", "second.txt", 30000);
  ASSERT_EQ(second.exit_code, 0) << second.output;
  EXPECT_EQ(vt::Lines(second.output), lines);
  EXPECT_EQ(vt::FindProcesses(kHostTail), hosts) << "the running host is used, none started";
}
