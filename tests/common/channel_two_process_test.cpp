// A 32-bit and a 64-bit process share one section, whichever opens it first.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "channel.h"
#include "test_support.h"

namespace {

bool WaitForPayload(uint8_t byte, DWORD timeout_ms) {
  RequestBlock block;
  for (DWORD start = GetTickCount(); GetTickCount() - start < timeout_ms; Sleep(1)) {
    CommsRecv(0, &block, kBlockSize);
    bool all = true;
    for (uint8_t b : block.payload) all = all && b == byte;
    if (all && block.opcode == byte) return true;
  }
  return false;
}

void SendPayload(uint8_t byte) {
  RequestBlock block = {};
  memset(block.payload, byte, sizeof block.payload);
  ASSERT_NE(CommsSend(0, &block, kBlockSize), nullptr);
}

std::string PeerCommand(const std::string& section) {
  return "\"" + vt::Win64BinDirectory() + "channel_peer.exe\" " + section + " 17 99";
}

}  // namespace

TEST(ChannelTwoProcesses, ThirtyTwoBitSideCreatesSixtyFourBitSideOpens) {
  vt::ScopedTempDir dir;  // both sides write their logs here
  const std::string section = vt::UniqueName("VornTwoProc");
  CommsStart(0, kMapAllAccess, section.c_str(), kSectionSize);
  ASSERT_NE(g_channel[0].view, nullptr);
  SendPayload(17);
  vt::ChildProcess peer = vt::StartChild(PeerCommand(section));
  ASSERT_NE(peer.process, nullptr);
  EXPECT_TRUE(WaitForPayload(99, 20000));
  EXPECT_EQ(vt::WaitChild(peer, 20000), 0);
}

TEST(ChannelTwoProcesses, SixtyFourBitSideCreatesThirtyTwoBitSideOpens) {
  vt::ScopedTempDir dir;
  const std::string section = vt::UniqueName("VornTwoProc");
  vt::ChildProcess peer = vt::StartChild(PeerCommand(section));
  ASSERT_NE(peer.process, nullptr);
  // The section exists only once the peer has created it.
  HANDLE existing = nullptr;
  for (DWORD start = GetTickCount(); !existing && GetTickCount() - start < 20000; Sleep(1))
    existing = OpenFileMappingA(FILE_MAP_READ, FALSE, section.c_str());
  ASSERT_NE(existing, nullptr);
  CommsStart(0, kMapAllAccess, section.c_str(), kSectionSize);
  ASSERT_NE(g_channel[0].view, nullptr);
  SendPayload(17);
  EXPECT_TRUE(WaitForPayload(99, 20000));
  EXPECT_EQ(vt::WaitChild(peer, 20000), 0);
  CloseHandle(existing);
}
