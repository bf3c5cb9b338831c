#pragma once
// The setting of a test that runs the whole chain: a fresh directory that
// holds the patched stand-in layer as MediaPadLayer.dll and a copy of
// Vorn64BitInterface.exe (the proxy starts it from the current directory),
// the emulated pad at the vendor's fixed path, and no host program running
// before or after the test.

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host_harness.h"
#include "test_support.h"

namespace pt {

using vt::kHostTail;

// What the emulated pad shows: "line0", "line1", "led", "mode", ... as the
// pad writes them to mediapad.state; empty when there is no such file.
std::map<std::string, std::string> PadState();
std::string PadLine(const std::map<std::string, std::string>& state, int line);

// The distinct states the pad went through, as "top|bottom led=L mode=M".
struct PadObserver {
  std::vector<std::string> screens;
  void Look();
  // Index of the first state from `from` on that starts with `prefix`;
  // screens.size() when there is none.
  size_t Find(size_t from, const std::string& prefix) const;
  // Looks, and once a state that starts with `prefix` is shown, ends the
  // processes whose image path ends in `tail` from outside, once: their
  // ids go to `ended`, and the state "<helper ended>" marks the moment.
  void LookAndEndOnceShown(const std::string& prefix, const char* tail, std::vector<DWORD>* ended);
  // True when, after the state `mark` (pushed by the test), a state that
  // starts with `prefix` and differs from the one before the mark follows.
  bool MovesOnAfter(const std::string& mark, const std::string& prefix) const;
};

class ChainTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Runs a program in the test's directory, its output going to a file;
  // `during` is called every 10 ms while it runs.
  vt::ChildRun RunChild(const std::string& command_line, DWORD timeout_ms,
                        const std::function<void()>& during = nullptr);

  vt::ScopedTempDir dir_;
};

}  // namespace pt
