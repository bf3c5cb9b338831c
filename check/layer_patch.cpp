#include "layer_patch.h"

#include <cstring>
#include <utility>

#include "patch_marks.h"
#include "pe_layout.h"

namespace {

constexpr uint16_t kMachineX86 = 0x14C;
constexpr uint16_t kMachineX64 = 0x8664;
constexpr char kVendorName[] = "KHALAPI.dll";
constexpr char kProxyName[] = "VornApx.dll";
constexpr char kMark[] = "Patx";
constexpr uint32_t kNameUnits = 11;
constexpr uint32_t kMarkUnits = 4;

uint16_t UnitAt(const std::vector<uint8_t>& file, uint32_t offset, uint32_t unit) {
  return static_cast<uint16_t>(file[offset + 2 * unit] | (file[offset + 2 * unit + 1] << 8));
}

// The `units` code units at `offset` and the 0 after them spell `text`.
bool HoldsText(const std::vector<uint8_t>& file, uint32_t offset, const char* text, uint32_t units) {
  for (uint32_t i = 0; i < units; ++i) {
    if (UnitAt(file, offset, i) != static_cast<uint8_t>(text[i])) return false;
  }
  return UnitAt(file, offset, units) == 0;
}

void WriteText(std::vector<uint8_t>& file, uint32_t offset, const char* text, uint32_t units) {
  for (uint32_t i = 0; i < units; ++i) {
    file[offset + 2 * i] = static_cast<uint8_t>(text[i]);
    file[offset + 2 * i + 1] = 0;
  }
}

bool IsLetter(uint16_t unit) { return (unit >= 'A' && unit <= 'Z') || (unit >= 'a' && unit <= 'z'); }

// What stands at a place, for a refusal: its code units as characters,
// anything outside printable ASCII as '?'.
std::string Shown(const std::vector<uint8_t>& file, uint32_t offset, uint32_t units) {
  std::string text = "\"";
  for (uint32_t i = 0; i < units; ++i) {
    const uint16_t unit = UnitAt(file, offset, i);
    text += unit >= 0x20 && unit < 0x7F ? static_cast<char>(unit) : '?';
  }
  return text + "\"";
}

LayerPatch Refuse(LayerPatchVerdict verdict, std::string detail) { return {verdict, std::move(detail)}; }

}  // namespace

LayerPatch PatchLayerBytes(std::vector<uint8_t>& file) {
  PeLayout pe;
  if (!pe.Read(file)) return Refuse(LayerPatchVerdict::kNotA32BitDll, pe.error());
  if (pe.machine() != kMachineX86 || !pe.is_pe32())
    return Refuse(LayerPatchVerdict::kNotA32BitDll,
                  pe.machine() == kMachineX64 ? "it is a 64-bit file" : "it is not built for 32-bit x86");
  if (!pe.is_dll()) return Refuse(LayerPatchVerdict::kNotA32BitDll, "it is a program, not a DLL");

  uint32_t entry = 0;
  if (!pe.ExportRva("getMediapadUID", &entry))
    return Refuse(LayerPatchVerdict::kNoUidEntry, "it does not export getMediapadUID");
  // Each text with the 0 code unit that ends it.
  const uint32_t text_end = kPatxOffset + 2 * (kMarkUnits + 1);
  uint32_t name = 0, mark = 0;
  if (entry > UINT32_MAX - text_end ||
      !pe.FileOffset(static_cast<uint32_t>(entry + kProxyNameOffset), 2 * (kNameUnits + 1), &name) ||
      !pe.FileOffset(static_cast<uint32_t>(entry + kPatxOffset), 2 * (kMarkUnits + 1), &mark))
    return Refuse(LayerPatchVerdict::kOutsideSections,
                  "the places of the texts after getMediapadUID lie outside its sections: another build");

  const bool patched_before = HoldsText(file, name, kProxyName, kNameUnits);
  if (!patched_before && !HoldsText(file, name, kVendorName, kNameUnits))
    return Refuse(LayerPatchVerdict::kNotVendorName,
                  "it holds " + Shown(file, name, kNameUnits) + " where the vendor's holds \"KHALAPI.dll\"");
  bool letters = UnitAt(file, mark, kMarkUnits) == 0;
  for (uint32_t i = 0; i < kMarkUnits; ++i) letters = letters && IsLetter(UnitAt(file, mark, i));
  if (!letters)
    return Refuse(LayerPatchVerdict::kNotFourLetters,
                  "it holds " + Shown(file, mark, kMarkUnits + 1) + " where the vendor's holds four letters");
  if (patched_before) return {LayerPatchVerdict::kAlreadyPatched, ""};
  WriteText(file, name, kProxyName, kNameUnits);
  WriteText(file, mark, kMark, kMarkUnits);
  return {LayerPatchVerdict::kPatched, ""};
}
