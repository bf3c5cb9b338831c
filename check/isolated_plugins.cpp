#include "isolated_plugins.h"

#include "bridge_names.h"
#include "file_facts.h"
#include "host_processes.h"
#include "unique_handle.h"

namespace {

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
  // The display host that started a helper is its parent.
  const std::vector<RunningProgram> helpers = RunningPrograms({kHelperProgram});
  for (IsolatedPlugin& plugin : isolated) {
    for (const RunningProgram& helper : helpers) {
      if (!BridgeLoadedIn(plugin.name, helper.parent_pid)) continue;
      plugin.helper_pid = helper.pid;
      plugin.display_host_pid = helper.parent_pid;
      break;
    }
  }
  return isolated;
}
