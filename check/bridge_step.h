#pragma once
// vorn-check.exe --bridge displays\<Name>.dll: lets the 64-bit display host
// use the 32-bit display plug-in <Name>.dll. The plug-in moves to
// displays\<Name>-32bit\<Name>.dll, and every file named after it
// (displays\<Name>.ini, ...) moves along, so that the plug-in finds its
// files beside its own as before; a copy of the 64-bit bridge (the 64-bit
// build's displays\QX20481.dll) takes its place. Its calls go through the
// helper beside the display host's program. `tool_folder` is the check
// tool's own folder, the display host's, where the bridge and the helper
// are. vorn-check.exe --unbridge displays\<Name>.dll puts it all back.
//
// vorn-check.exe --isolate displays\<Name>.dll does the same in the 32-bit
// display host's folder with the isolating bridge (VornIsolation.dll
// there), so that the plug-in runs in the helper, and --unisolate puts it
// back; the MediaPad's own QX20481.dll may be isolated and put back too.
//
// Each prints what it did, or why it refused, in one line; the result is
// the exit status, 0 or 1. A step that fails part-way puts back what it
// moved; when a file cannot be put back, its line says where it is.

#include <string>

#include "file_moves.h"

int BridgeStep(const std::string& plugin, const std::string& tool_folder, const MoveFileFn& move = RenameFile);
int UnbridgeStep(const std::string& plugin, const MoveFileFn& move = RenameFile);
int IsolateStep(const std::string& plugin, const std::string& tool_folder, const MoveFileFn& move = RenameFile);
int UnisolateStep(const std::string& plugin, const MoveFileFn& move = RenameFile);
