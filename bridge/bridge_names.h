#pragma once
// The names that follow from a bridged plug-in's name <Name>, the file
// name of the bridge DLL (64-bit or isolating) without ".dll": its 32-bit
// plug-in displays\<Name>-32bit\<Name>.dll, the section "<Name>Bridge.<pid>" and
// the two logs. For the MediaPad <Name> is QX20481, and these are the names
// its release has always used. One helper program, beside the display
// host's program, serves every bridged plug-in.

#include <string>

// The helper program, beside the display host's program, serves any
// bridged plug-in; it signals the event "<section>.Ready" once it has
// loaded its plug-in (or failed to).
constexpr char kHelperProgram[] = "QX20481Bridge32.exe";
constexpr char kHelperReadySuffix[] = ".Ready";
constexpr char kBridgeFolderTail[] = "-32bit";
// The 32-bit build's isolating bridge, beside the 32-bit display host's
// program; a copy of it under a plug-in's name runs that plug-in in the
// helper. Its version resource keeps this name as the original file name.
constexpr char kIsolatingBridge[] = "VornIsolation.dll";

// Longest <Name> taken: the section, the logs and the helper's command
// line all carry it.
constexpr size_t kBridgeNameMax = 100;

// <Name> from a DLL's path: its file name without the ".dll" (any case);
// empty when that is not a name a bridge can carry (too long, or holding
// characters that a section name or a file name cannot hold).
std::string BridgeNameFromPath(const char* dll_path);
// True when `name` is a <Name> that BridgeNameFromPath can give.
bool IsBridgeName(const std::string& name);

inline std::string BridgeFolderName(const std::string& name) { return name + kBridgeFolderTail; }
inline std::string Plugin32FileName(const std::string& name) { return name + ".dll"; }
// "<Name>Bridge.<process id>": the section of the display host process `pid`.
std::string BridgeSectionName(const std::string& name, unsigned long pid);
// The logs under logs\: the bridge DLL's "<Name>.bridge", the helper's "<Name>Bridge32".
inline std::string BridgeDllLogName(const std::string& name) { return name + ".bridge"; }
inline std::string HelperLogName(const std::string& name) { return name + "Bridge32"; }
