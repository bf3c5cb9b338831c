#pragma once
// The setting of a test that runs the real proxy and the real host program:
// a fresh current directory holding a copy of Vorn64BitInterface.exe (so
// that the launcher finds it there), a stand-in vendor library at its fixed
// path, and no host program running before or after the test.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_harness.h"
#include "test_support.h"

using vt::kHostTail;

class ProxyEndToEnd : public ::testing::Test {
 protected:
  // `standin`: a stand-in from the 64-bit bin folder, e.g. "KHALAPI.dll",
  // with the host program beside it in the test's directory; null: neither
  // (and no host program beside VornApx.dll either: the 64-bit program is
  // not in the 32-bit bin folder).
  void Prepare(const char* standin);
  void TearDown() override;
  // Runs proxy_caller with a scenario in the test's directory.
  // `during`, when given, is called every 10 ms while it runs.
  vt::ChildRun RunCaller(const char* scenario, const char* output_name, DWORD timeout_ms,
                         const std::function<void()>& during = nullptr);
  std::string ProxyPath() const { return vt::ProgramDirectory() + "VornApx.dll"; }

  vt::ScopedTempDir dir_;
};
