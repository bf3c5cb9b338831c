#include "module_path.h"

#include <windows.h>

namespace {
const char g_anchor = 0;  // lies in this module's image, whichever module that is
}

size_t ThisModulePath(char* path, size_t size) {
  if (size == 0) return 0;
  path[0] = '\0';
  // The allocation base of the region that holds our own data is the
  // module's handle.
  MEMORY_BASIC_INFORMATION region = {};
  if (VirtualQuery(&g_anchor, &region, sizeof region) == 0) return 0;
  const DWORD n = GetModuleFileNameA(static_cast<HMODULE>(region.AllocationBase), path, static_cast<DWORD>(size));
  if (n == 0 || n >= size) {
    path[0] = '\0';
    return 0;
  }
  return n;
}
