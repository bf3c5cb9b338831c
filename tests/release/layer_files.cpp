#include "layer_files.h"

#include "patch_marks.h"
#include "test_support.h"

namespace vt {

std::string StandInLayer(const char* variant) { return ProgramDirectory() + "layers\\" + variant + ".dll"; }

bool PassesPatchCheck(const std::string& path) {
  HMODULE layer = LoadLibraryExA(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  if (!layer) return false;
  const bool passed =
      LayerIsPatched(ReadPatchMarks(layer, reinterpret_cast<uintptr_t>(GetProcAddress(layer, "getMediapadUID"))));
  FreeLibrary(layer);
  return passed;
}

}  // namespace vt
