#include "bridge_identity.h"

#include <windows.h>

#include <cstring>

#include "bridge_names.h"
#include "module_path.h"

namespace {

struct IdentityState {
  BridgeIdentity identity;
  bool known = false;
};
IdentityState g_identity;

// The folder of the process's program, with the backslash; empty when the
// system cannot say.
std::string ProgramFolder() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return "";
  char* slash = strrchr(path, '\\');
  if (!slash) return "";
  slash[1] = '\0';
  return path;
}

}  // namespace

const BridgeIdentity& ThisBridge() {
  BridgeIdentity& identity = g_identity.identity;
  if (g_identity.known) return identity;
  g_identity.known = true;
  char own[MAX_PATH];
  if (ThisModulePath(own, sizeof own) == 0) return identity;
  identity.name = BridgeNameFromPath(own);
  if (identity.name.empty()) return identity;
  if (char* slash = strrchr(own, '\\')) slash[1] = '\0';
  identity.folder = std::string(own) + BridgeFolderName(identity.name) + "\\";
  identity.plugin32_path = identity.folder + Plugin32FileName(identity.name);
  identity.helper_path = ProgramFolder() + kHelperProgram;
  return identity;
}

void UseBridgeIdentity(const BridgeIdentity& identity) {
  g_identity.identity = identity;
  g_identity.known = true;
}
