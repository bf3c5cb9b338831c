#include "patch_check.h"

#include "debug_log.h"

namespace {

constexpr char kNotPatchedTag[] = "LoadMediaPadFunctions";
constexpr char kNotPatched[] = "MediaPadLayer.dll Not correctly patched";

unsigned Address32(uintptr_t address) { return static_cast<unsigned>(address); }

}  // namespace

void CheckLayerPatch(HMODULE layer, uintptr_t get_uid_entry) {
  const uintptr_t patx = get_uid_entry + kPatxOffset;
  const uintptr_t proxy_name = get_uid_entry + kProxyNameOffset;
  const PatchMarks marks = ReadPatchMarks(layer, get_uid_entry);
  if (!marks.readable) {
    LogWritef("Checking Patch", "address 0x%08x Should be Patx is outside MediaPadLayer.dll", Address32(patx));
    LogWrite(kNotPatchedTag, kNotPatched);
    LogWritef("Checking Patch", "address 0x%08x Should be VornApx.dll is outside MediaPadLayer.dll",
              Address32(proxy_name));
    LogWrite(kNotPatchedTag, kNotPatched);
    return;
  }
  const char* p = marks.patx;
  LogWritef("Checking Patch", "address 0x%08x Should be Patx is %c%c%c%c", Address32(patx), p[0], p[1], p[2], p[3]);
  if (!marks.patx_ok) LogWrite(kNotPatchedTag, kNotPatched);
  const char* v = marks.proxy_name;
  LogWritef("Checking Patch", "address 0x%08x Should be VornApx.dll is %c%c%c%c%c%c%c%c%c%c%c", Address32(proxy_name),
            v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10]);
  if (!marks.proxy_name_ok) LogWrite(kNotPatchedTag, kNotPatched);
}
