#pragma once
// Who this 64-bit bridge DLL is: <Name> from its own file name, and where
// its helper and 32-bit plug-in lie (the folder <Name>-32bit beside it).

#include <string>

struct BridgeIdentity {
  std::string name;           // empty when the DLL's file name cannot be a <Name>
  std::string folder;         // ...\displays\<Name>-32bit\ (with the backslash)
  std::string helper_path;    // folder + the helper program
  std::string plugin32_path;  // folder + <Name>.dll
};

// Worked out once, from this module's path.
const BridgeIdentity& ThisBridge();
