#include "bridge_identity.h"

#include <windows.h>

#include <cstring>

#include "bridge_names.h"
#include "module_path.h"

const BridgeIdentity& ThisBridge() {
  static BridgeIdentity identity;
  static bool known = false;
  if (known) return identity;
  known = true;
  char own[MAX_PATH];
  if (ThisModulePath(own, sizeof own) == 0) return identity;
  identity.name = BridgeNameFromPath(own);
  if (identity.name.empty()) return identity;
  if (char* slash = strrchr(own, '\\')) slash[1] = '\0';
  identity.folder = std::string(own) + BridgeFolderName(identity.name) + "\\";
  identity.helper_path = identity.folder + kHelperProgram;
  identity.plugin32_path = identity.folder + Plugin32FileName(identity.name);
  return identity;
}
