#include "patch_check.h"

#include "debug_log.h"

namespace {

constexpr char kNotPatchedTag[] = "LoadMediaPadFunctions";
constexpr char kNotPatched[] = "MediaPadLayer.dll Not correctly patched";

unsigned Address32(uintptr_t address) { return static_cast<unsigned>(address); }

// Low byte of code unit `unit` of the string at `address`.
char UnitAt(uintptr_t address, int unit) { return *reinterpret_cast<const char*>(address + 2 * unit); }

}  // namespace

bool ImageContains(HMODULE module, uintptr_t address, uintptr_t length) {
  const uintptr_t image = reinterpret_cast<uintptr_t>(module);
  if (!module) return false;
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return false;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return false;
  const uintptr_t size = nt->OptionalHeader.SizeOfImage;
  // Written so that no sum can wrap around.
  return address >= image && address - image <= size && length <= size - (address - image);
}

void CheckLayerPatch(HMODULE layer, uintptr_t get_uid_entry) {
  const uintptr_t patx = get_uid_entry + kPatxOffset;
  const uintptr_t proxy_name = get_uid_entry + kProxyNameOffset;
  const bool readable =
      get_uid_entry != 0 && ImageContains(layer, proxy_name, kPatchMarksEnd - kProxyNameOffset);
  if (!readable) {
    LogWritef("Checking Patch", "address 0x%08x Should be Patx is outside MediaPadLayer.dll", Address32(patx));
    LogWrite(kNotPatchedTag, kNotPatched);
    LogWritef("Checking Patch", "address 0x%08x Should be VornApx.dll is outside MediaPadLayer.dll",
              Address32(proxy_name));
    LogWrite(kNotPatchedTag, kNotPatched);
    return;
  }

  const char p[4] = {UnitAt(patx, 0), UnitAt(patx, 1), UnitAt(patx, 2), UnitAt(patx, 3)};
  LogWritef("Checking Patch", "address 0x%08x Should be Patx is %c%c%c%c", Address32(patx), p[0], p[1], p[2], p[3]);
  if (p[0] != 'P' || p[1] != 'a' || p[2] != 't' || p[3] != 'x') LogWrite(kNotPatchedTag, kNotPatched);

  char v[11];
  for (int i = 0; i < 11; ++i) v[i] = UnitAt(proxy_name, i);
  LogWritef("Checking Patch", "address 0x%08x Should be VornApx.dll is %c%c%c%c%c%c%c%c%c%c%c", Address32(proxy_name),
            v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10]);
  if (*reinterpret_cast<const char*>(get_uid_entry + kProxyNameTestedOffset) != 'x') LogWrite(kNotPatchedTag, kNotPatched);
}
