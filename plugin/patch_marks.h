#pragma once
// The marks of the patched MediaPadLayer.dll: the UTF-16LE strings
// "VornApx.dll" and "Patx" at fixed distances from the entry of
// getMediapadUID. Only the low byte of each code unit is looked at. Used by
// the plug-in's patch check and by the check tool.

#include <windows.h>

#include <cstdint>

constexpr uintptr_t kProxyNameOffset = 78644;              // "VornApx.dll", 11 code units
constexpr uintptr_t kProxyNameTestedOffset = 78656;        // its seventh character, 'x'
constexpr uintptr_t kPatxOffset = 78672;                   // "Patx", 4 code units
constexpr uintptr_t kPatchMarksEnd = kPatxOffset + 4 * 2;  // one past the last byte read

struct PatchMarks {
  // All marks lie inside the layer's image; when false nothing was read
  // (getMediapadUID missing, or another build of the layer).
  bool readable;
  char patx[4];
  char proxy_name[11];
  bool patx_ok;        // "Patx"
  bool proxy_name_ok;  // the tested character of "VornApx.dll"
};

PatchMarks ReadPatchMarks(HMODULE layer, uintptr_t get_uid_entry);
inline bool LayerIsPatched(const PatchMarks& marks) { return marks.readable && marks.patx_ok && marks.proxy_name_ok; }

// True when [address, address + length) lies inside the image of `module`,
// as its headers give the image's extent.
bool ImageContains(HMODULE module, uintptr_t address, uintptr_t length);
