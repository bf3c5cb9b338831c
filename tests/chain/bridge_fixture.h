#pragma once
// The setting of a test that runs the 64-bit chain: the chain test's
// directory, laid out as the 64-bit display host's folder, with the 64-bit
// stand-in display host with the helper beside it, displays\QX20481.dll
// (64-bit) and, in displays\QX20481-32bit, the 32-bit plug-in. The rest of
// the chain (layer, proxy, host program, emulated pad) is the 32-bit one's.

#include <string>

#include "chain_fixture.h"

namespace pt {

constexpr char kHelperTail[] = "\\QX20481Bridge32.exe";

class BridgeChainTest : public ChainTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Runs the 64-bit stand-in display host on displays\QX20481.dll with
  // `arguments`; `during` is called every 10 ms while it runs.
  vt::ChildRun RunDisplayHost64(const std::string& arguments, DWORD timeout_ms,
                                const std::function<void()>& during = nullptr);
  // Bridges the 32-bit `plugin32` (a file of the 32-bit tree) under `name`
  // as a user does, with vorn-check.exe --bridge displays\<name>.dll:
  // displays\<name>.dll is then a copy of the 64-bit bridge, and
  // displays\<name>-32bit holds the 32-bit plug-in as <name>.dll, with the
  // files named after it that were in displays.
  void Bridge(const std::string& name, const char* plugin32);
};

}  // namespace pt
