#include "isolated_plugins.h"

#include <tlhelp32.h>

#include "bridge_names.h"
#include "file_facts.h"
#include "unique_handle.h"

namespace {

struct Helper {
  DWORD pid, parent_pid;
};

// The running helpers; the display host that started each is its parent.
std::vector<Helper> RunningHelpers() {
  std::vector<Helper> found;
  ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (snapshot.get() == INVALID_HANDLE_VALUE) {
    snapshot.release();
    return found;
  }
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry))
    if (_stricmp(entry.szExeFile, kHelperProgram) == 0)
      found.push_back({entry.th32ProcessID, entry.th32ParentProcessID});
  return found;
}

// The bridge of <Name> in the process `pid` keeps its section open while it is loaded.
bool BridgeLoadedIn(const std::string& name, DWORD pid) {
  ScopedHandle section(OpenFileMappingA(FILE_MAP_READ, FALSE, BridgeSectionName(name, pid).c_str()));
  return static_cast<bool>(section);
}

}  // namespace

std::vector<IsolatedPlugin> FindIsolatedPlugins(const std::string& folder) {
  std::vector<IsolatedPlugin> isolated;
  const std::string displays = folder + "displays\\";
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((displays + "*.dll").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return isolated;
  do {
    const std::string name = BridgeNameFromPath(found.cFileName);
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name.empty() ||
        !IsIsolatingBridge(displays + found.cFileName))
      continue;
    IsolatedPlugin plugin = {name, FileExists(displays + BridgeFolderName(name) + "\\" + Plugin32FileName(name))};
    isolated.push_back(plugin);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  const std::vector<Helper> helpers = RunningHelpers();
  for (IsolatedPlugin& plugin : isolated) {
    for (const Helper& helper : helpers) {
      if (!BridgeLoadedIn(plugin.name, helper.parent_pid)) continue;
      plugin.helper_pid = helper.pid;
      plugin.display_host_pid = helper.parent_pid;
      break;
    }
  }
  return isolated;
}
