#pragma once
// Who this bridge DLL is: <Name> from its own file name, where its
// 32-bit plug-in lies (the folder <Name>-32bit beside it), and where its
// helper lies: beside the display host's program, so that the helper's
// process has the display host's program folder.

#include <string>

struct BridgeIdentity {
  std::string name;           // empty when the DLL's file name cannot be a <Name>
  std::string folder;         // ...\displays\<Name>-32bit\ (with the backslash)
  std::string helper_path;    // the display host's program folder + the helper program
  std::string plugin32_path;  // folder + <Name>.dll
};

// Worked out once, from this module's path and the process's program.
const BridgeIdentity& ThisBridge();
// Tests that build the bridge into a program of their own: the identity
// it takes instead.
void UseBridgeIdentity(const BridgeIdentity& identity);
