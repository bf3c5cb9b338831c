#pragma once
// What the check tool reads from a program file without running it.

#include <windows.h>

#include <string>

enum class Machine { kMissing, kUnknown, kX86, kX64 };

// The machine type in the file's PE header.
Machine FileMachine(const std::string& path);
const char* MachineText(Machine machine);  // "32-bit", "64-bit", ...
// "a.b.c.d" from the file's version resource; empty when it has none.
std::string FileVersion(const std::string& path);
bool FileExists(const std::string& path);
// True when the file is a copy of the isolating bridge (bridge_names.h),
// under whatever name: its version resource names it as its original.
bool IsIsolatingBridge(const std::string& path);
