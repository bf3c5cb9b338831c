#include "bridge_names.h"

#include <cstring>

bool IsBridgeName(const std::string& name) {
  if (name.empty() || name.size() > kBridgeNameMax) return false;
  // A section name may not hold a backslash; the rest would break a path,
  // a command line or a log's name.
  for (char c : name)
    if (c < ' ' || strchr("\\/:*?\"<>|", c)) return false;
  return name != "." && name != "..";
}

std::string BridgeNameFromPath(const char* dll_path) {
  const char* file = dll_path;
  for (const char* p = dll_path; *p; ++p)
    if (*p == '\\' || *p == '/') file = p + 1;
  std::string name = file;
  if (name.size() > 4 && _stricmp(name.c_str() + name.size() - 4, ".dll") == 0) name.resize(name.size() - 4);
  return IsBridgeName(name) ? name : std::string();
}

std::string BridgeSectionName(const std::string& name, unsigned long pid) {
  return name + "Bridge." + std::to_string(pid);
}
