#pragma once
// Runs the proxy core in the test process against a host that lives in the
// wait seam. Each case needs a fresh process (as vorn_gtest runs them): the
// launcher's flags, the host it watches and the block are module state.
// The fake host: every 1 ms sleep of the proxy is one poll of the fake host,
// which serves the section's request with the test's own function. The
// launcher sees a fake system in which the host program already runs. Time
// is the seam's virtual clock, which each sleep or wait moves on by its
// milliseconds.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "channel.h"
#include "fake_system.h"
#include "library_log.h"
#include "request_block.h"
#include "test_support.h"
#include "wait_seam.h"

struct FakeHost {
  using Serve = void (*)(RequestBlock& block);
  // Runs before each poll, with the number of 1 ms sleeps so far.
  using BeforePoll = void (*)(int poll);
  static Serve serve;  // null: the host never answers
  static BeforePoll before_poll;
  // Runs after each longer sleep (a launcher's wait, a wait for the turn),
  // with the number of them so far.
  static BeforePoll before_long_sleep;
  static std::vector<RequestBlock> served;  // as they arrived
  static int polls;                         // 1 ms sleeps
  static int signalled_requests;            // requests whose event the host found set
  static std::vector<uint32_t> long_sleeps;

  static void Sleep(uint32_t ms);
  // The proxy's wait: one poll of the fake host; it ends early when the
  // fake host answered in it (and signalled, as the host does), or when
  // another event (a turn's) was signalled meanwhile.
  static bool Wait(HANDLE event, uint32_t ms);
  static void Reset();
  static RequestBlock Section();
  static void PutInSection(const RequestBlock& block);
};

class ProxyTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Log lines written since the test began, without their time stamps.
  std::vector<std::string> LogLines() const;

  vt::ScopedTempDir dir_;
  FakeSystem system_;
};
