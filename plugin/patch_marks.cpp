#include "patch_marks.h"

namespace {

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

PatchMarks ReadPatchMarks(HMODULE layer, uintptr_t get_uid_entry) {
  PatchMarks marks = {};
  const uintptr_t patx = get_uid_entry + kPatxOffset;
  const uintptr_t proxy_name = get_uid_entry + kProxyNameOffset;
  marks.readable = get_uid_entry != 0 && ImageContains(layer, proxy_name, kPatchMarksEnd - kProxyNameOffset);
  if (!marks.readable) return marks;
  for (int i = 0; i < 4; ++i) marks.patx[i] = UnitAt(patx, i);
  for (int i = 0; i < 11; ++i) marks.proxy_name[i] = UnitAt(proxy_name, i);
  marks.patx_ok = marks.patx[0] == 'P' && marks.patx[1] == 'a' && marks.patx[2] == 't' && marks.patx[3] == 'x';
  marks.proxy_name_ok = *reinterpret_cast<const char*>(get_uid_entry + kProxyNameTestedOffset) == 'x';
  return marks;
}
