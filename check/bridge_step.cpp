#include "bridge_step.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "bridge_names.h"
#include "file_facts.h"
#include "pe_layout.h"

namespace {

constexpr DWORD kLargestDll = 64u << 20;

enum class Kind { kMissing, kUnreadable, kNotPe, kNotDll, kDll32, kDll64, kOther };

// The two bridges a plug-in can be put behind: the 64-bit build's, for the
// 64-bit display host, and the 32-bit build's isolating one, which runs a
// plug-in of the 32-bit display host in the helper. Both take the same
// steps; these are what differs.
struct Step {
  const char* undo_option;  // "--unbridge"
  const char* done_word;    // "bridged"
  const char* bridge_kind;  // "64-bit bridge", as in "the 64-bit bridge"
  const char* source;       // the bridge, in the display host's folder
  Kind source_kind;
  const char* zip_folder;  // of the release, where the bridge comes from
};
constexpr Step kBridge = {"--unbridge", "bridged",         "64-bit bridge", "displays\\QX20481.dll",
                          Kind::kDll64, "LCDSmartie-64bit"};
constexpr Step kIsolate = {"--unisolate",    "isolated",   "isolating bridge",
                           kIsolatingBridge, Kind::kDll32, "LCDSmartie-32bit"};

struct DllFacts {
  Kind kind = Kind::kMissing;
  bool display_plugin = false;    // exports DISPLAYDLL_Init or DISPLAYDLL_Write by plain name
  bool isolating_bridge = false;  // a copy of the isolating bridge, under any name
};

DllFacts ReadFacts(const std::string& path) {
  DllFacts facts;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    facts.kind = GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND ? Kind::kMissing
                                                                                                  : Kind::kUnreadable;
    return facts;
  }
  std::vector<uint8_t> bytes;
  DWORD high = 0;
  const DWORD size = GetFileSize(file, &high);
  DWORD got = 0;
  const bool read = high == 0 && size <= kLargestDll && (bytes.resize(size), true) &&
                    (size == 0 || (ReadFile(file, bytes.data(), size, &got, nullptr) && got == size));
  CloseHandle(file);
  if (!read) {
    facts.kind = Kind::kUnreadable;
    return facts;
  }
  PeLayout layout;
  if (!layout.Read(bytes)) {
    facts.kind = Kind::kNotPe;
    return facts;
  }
  if (!layout.is_dll()) {
    facts.kind = Kind::kNotDll;
    return facts;
  }
  if (layout.is_pe32() && layout.machine() == IMAGE_FILE_MACHINE_I386)
    facts.kind = Kind::kDll32;
  else if (!layout.is_pe32() && layout.machine() == IMAGE_FILE_MACHINE_AMD64)
    facts.kind = Kind::kDll64;
  else
    facts.kind = Kind::kOther;
  facts.display_plugin = layout.HasExport("DISPLAYDLL_Init") || layout.HasExport("DISPLAYDLL_Write");
  facts.isolating_bridge = facts.kind == Kind::kDll32 && IsIsolatingBridge(path);
  return facts;
}

// The plug-in's folder (with the backslash) and <Name>; false with a line
// printed when the path cannot be a bridged plug-in's.
bool Split(const std::string& plugin, std::string* folder, std::string* name) {
  char full[MAX_PATH];
  const DWORD n = GetFullPathNameA(plugin.c_str(), sizeof full, full, nullptr);
  if (n == 0 || n >= sizeof full) {
    printf("refused: %s is not a usable path\n", plugin.c_str());
    return false;
  }
  const std::string path = full;
  *folder = path.substr(0, path.find_last_of('\\') + 1);
  *name = BridgeNameFromPath(full);
  const std::string file = path.substr(folder->size());
  if (name->empty() || file.size() < 4 || _stricmp(file.c_str() + file.size() - 4, ".dll") != 0) {
    printf("refused: %s is not named <name>.dll with a name the bridge can carry\n", plugin.c_str());
    return false;
  }
  return true;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The files of `folder` named after the plug-in, "<name>.<anything>", but
// for the plug-in itself: its settings and the like, which it may look
// for beside its own file.
std::vector<std::string> FilesNamedAfter(const std::string& folder, const std::string& name) {
  std::vector<std::string> files;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + name + ".*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return files;
  const std::string prefix = name + ".";
  do {
    const std::string file = found.cFileName;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || file.size() <= prefix.size() ||
        _strnicmp(file.c_str(), prefix.c_str(), prefix.size()) != 0 ||
        _stricmp(file.c_str(), (name + ".dll").c_str()) == 0)
      continue;
    files.push_back(file);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return files;
}

// A step that could not go on: what it moved goes back. The line says
// what failed and, where something could not be put back, where it is.
int Failed(const char* what, const std::string& path, FileMoves& moves, const std::string& made_folder) {
  const DWORD error = GetLastError();
  const std::string left = moves.Undo();
  if (left.empty()) {
    if (!made_folder.empty()) RemoveDirectoryA(made_folder.c_str());
    printf("failed: could not %s %s (error %lu); close the display host (LCDSmartie) and try again\n", what,
           path.c_str(), error);
  } else {
    printf("failed: could not %s %s (error %lu), and not everything could be put back: %s\n", what, path.c_str(), error,
           left.c_str());
  }
  return 1;
}

int PutBehind(const Step& step, const std::string& plugin, const std::string& tool_folder, const MoveFileFn& move) {
  std::string folder, name;
  if (!Split(plugin, &folder, &name)) return 1;
  const std::string bridged_folder = folder + BridgeFolderName(name);
  const std::string moved = bridged_folder + "\\" + Plugin32FileName(name);
  const DllFacts facts = ReadFacts(folder + Plugin32FileName(name));
  switch (facts.kind) {
    case Kind::kMissing: printf("refused: %s does not exist\n", plugin.c_str()); return 1;
    case Kind::kUnreadable: printf("refused: %s cannot be read\n", plugin.c_str()); return 1;
    case Kind::kNotPe:
    case Kind::kNotDll:
    case Kind::kOther: printf("refused: %s is not a 32-bit DLL\n", plugin.c_str()); return 1;
    case Kind::kDll64:
      if (step.source_kind == Kind::kDll64 && Exists(moved))
        printf("refused: %s is bridged already (its 32-bit plug-in is %s)\n", plugin.c_str(), moved.c_str());
      else if (step.source_kind == Kind::kDll64)
        printf("refused: %s is a 64-bit DLL: the 64-bit display host loads it as it is\n", plugin.c_str());
      else
        printf("refused: %s is a 64-bit DLL, which the 32-bit display host cannot load\n", plugin.c_str());
      return 1;
    case Kind::kDll32: break;
  }
  if (facts.isolating_bridge) {
    if (Exists(moved))
      printf("refused: %s is isolated already (its 32-bit plug-in is %s)\n", plugin.c_str(), moved.c_str());
    else
      printf("refused: %s is a copy of %s, not a display plug-in of its own\n", plugin.c_str(), kIsolatingBridge);
    return 1;
  }
  if (!facts.display_plugin) {
    printf("refused: %s is not a display plug-in: it exports neither DISPLAYDLL_Init nor DISPLAYDLL_Write\n",
           plugin.c_str());
    return 1;
  }
  const std::string bridge = tool_folder + step.source, helper = tool_folder + kHelperProgram;
  if (ReadFacts(bridge).kind != step.source_kind || !Exists(helper)) {
    printf("refused: the %s %s and its helper %s are needed (the zip's folder %s)\n", step.bridge_kind, bridge.c_str(),
           helper.c_str(), step.zip_folder);
    return 1;
  }
  const std::vector<std::string> along = FilesNamedAfter(folder, name);
  for (const std::string& target : along) {
    if (Exists(bridged_folder + "\\" + target)) {
      printf("refused: %s\\%s is there already; move it away first\n", bridged_folder.c_str(), target.c_str());
      return 1;
    }
  }
  if (Exists(moved)) {
    printf("refused: %s is there already; move it away first\n", moved.c_str());
    return 1;
  }
  const bool made_folder = CreateDirectoryA(bridged_folder.c_str(), nullptr) != 0;
  if (!made_folder && GetLastError() != ERROR_ALREADY_EXISTS) {
    printf("failed: could not create %s (error %lu); close the display host (LCDSmartie) and try again\n",
           bridged_folder.c_str(), GetLastError());
    return 1;
  }
  const std::string made = made_folder ? bridged_folder : "";
  const std::string original = folder + Plugin32FileName(name);
  FileMoves moves(move);
  if (!moves.Move(original, moved)) return Failed("move", original, moves, made);
  for (const std::string& file : along) {
    if (!moves.Move(folder + file, bridged_folder + "\\" + file)) return Failed("move", folder + file, moves, made);
  }
  if (!CopyFileA(bridge.c_str(), original.c_str(), TRUE)) return Failed("copy the bridge to", original, moves, made);
  std::string also;
  for (const std::string& file : along) also += (also.empty() ? " (with " : ", ") + file;
  if (!also.empty()) also += ")";
  printf("%s: %s is now the %s; the 32-bit plug-in is %s%s, called through %s (undo: vorn-check.exe %s %s)\n",
         step.done_word, original.c_str(), step.bridge_kind, moved.c_str(), also.c_str(), helper.c_str(),
         step.undo_option, plugin.c_str());
  return 0;
}

int TakeFromBehind(const Step& step, const std::string& plugin, const MoveFileFn& move) {
  std::string folder, name;
  if (!Split(plugin, &folder, &name)) return 1;
  const std::string bridge = folder + Plugin32FileName(name);
  const std::string bridged_folder = folder + BridgeFolderName(name);
  const std::string moved = bridged_folder + "\\" + Plugin32FileName(name);
  // The 64-bit MediaPad plug-in is the bridge itself; the 32-bit display
  // host can load its own QX20481.dll directly again.
  if (step.source_kind == Kind::kDll64 && _stricmp(name.c_str(), "QX20481") == 0) {
    printf("refused: %s is the MediaPad's own plug-in; the release's uninstall removes it\n", plugin.c_str());
    return 1;
  }
  const DllFacts bridge_facts = ReadFacts(bridge);
  const bool is_bridge =
      bridge_facts.kind == step.source_kind && (step.source_kind == Kind::kDll64 || bridge_facts.isolating_bridge);
  if (!is_bridge || ReadFacts(moved).kind != Kind::kDll32) {
    if (step.source_kind == Kind::kDll64)
      printf("refused: %s is not a bridged plug-in (a 64-bit %s with the 32-bit %s)\n", plugin.c_str(), bridge.c_str(),
             moved.c_str());
    else
      printf("refused: %s is not an isolated plug-in (a copy of %s with the 32-bit %s)\n", plugin.c_str(),
             kIsolatingBridge, moved.c_str());
    return 1;
  }
  const std::vector<std::string> along = FilesNamedAfter(bridged_folder + "\\", name);
  for (const std::string& target : along) {
    if (Exists(folder + target)) {
      printf("refused: %s%s is there already; move it away first\n", folder.c_str(), target.c_str());
      return 1;
    }
  }
  const std::string aside = bridge + ".bridge";
  DeleteFileA(aside.c_str());
  FileMoves moves(move);
  if (!moves.Move(bridge, aside)) return Failed("move", bridge, moves, "");
  if (!moves.Move(moved, bridge)) return Failed("move", moved, moves, "");
  for (const std::string& file : along) {
    if (!moves.Move(bridged_folder + "\\" + file, folder + file))
      return Failed("move", bridged_folder + "\\" + file, moves, "");
  }
  DeleteFileA(aside.c_str());
  // A copy of the helper that an earlier bridging put beside the plug-in.
  DeleteFileA((bridged_folder + "\\" + kHelperProgram).c_str());
  const bool folder_gone = RemoveDirectoryA(bridged_folder.c_str()) != 0;
  printf("un%s: %s is the 32-bit plug-in again%s\n", step.done_word, bridge.c_str(),
         folder_gone ? "" : (" (" + bridged_folder + " holds other files and stays)").c_str());
  return 0;
}

}  // namespace

int BridgeStep(const std::string& plugin, const std::string& tool_folder, const MoveFileFn& move) {
  return PutBehind(kBridge, plugin, tool_folder, move);
}

int UnbridgeStep(const std::string& plugin, const MoveFileFn& move) { return TakeFromBehind(kBridge, plugin, move); }

int IsolateStep(const std::string& plugin, const std::string& tool_folder, const MoveFileFn& move) {
  return PutBehind(kIsolate, plugin, tool_folder, move);
}

int UnisolateStep(const std::string& plugin, const MoveFileFn& move) { return TakeFromBehind(kIsolate, plugin, move); }
