#pragma once
// vorn-check.exe --bridge displays\<Name>.dll: lets the 64-bit display host
// use the 32-bit display plug-in <Name>.dll. The plug-in moves to
// displays\<Name>-32bit\<Name>.dll, a copy of the helper goes beside it, and
// a copy of the 64-bit bridge (the 64-bit build's displays\QX20481.dll)
// takes its place. `tool_folder` is the check tool's own folder, the
// display host's, where the bridge and the helper are taken from.
// vorn-check.exe --unbridge displays\<Name>.dll puts it all back.
//
// Each prints what it did, or why it refused, in one line; the result is
// the exit status, 0 or 1 (refused or failed, the files as they were).

#include <string>

int BridgeStep(const std::string& plugin, const std::string& tool_folder);
int UnbridgeStep(const std::string& plugin);
