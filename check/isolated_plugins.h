#pragma once
// The display plug-ins of the 32-bit display host's folder that run in a
// process of their own (vorn-check.exe --isolate), for the check tool's
// report: which they are and whether a helper serves each now.

#include <windows.h>

#include <string>
#include <vector>

struct IsolatedPlugin {
  std::string name;            // <Name>: displays\<Name>.dll is the isolating bridge
  bool plugin_present;         // displays\<Name>-32bit\<Name>.dll is there
  DWORD helper_pid = 0;        // the helper serving it now, or 0
  DWORD display_host_pid = 0;  // the display host that helper serves
};

// Those of `folder` (with its backslash): each copy of the isolating bridge
// in its displays folder. A helper of the folder's serves one when it was
// started by a process that has that plug-in's section open.
std::vector<IsolatedPlugin> FindIsolatedPlugins(const std::string& folder);
