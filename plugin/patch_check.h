#pragma once
// The patched MediaPadLayer.dll carries the UTF-16LE strings "VornApx.dll"
// and "Patx" at fixed distances from the entry of getMediapadUID; the check
// looks at the low byte of their code units and only reports what it finds.

#include <windows.h>

#include <cstdint>

constexpr uintptr_t kProxyNameOffset = 78644;  // "VornApx.dll", 11 code units
constexpr uintptr_t kProxyNameTestedOffset = 78656;  // its seventh character, 'x'
constexpr uintptr_t kPatxOffset = 78672;  // "Patx", 4 code units
constexpr uintptr_t kPatchMarksEnd = kPatxOffset + 4 * 2;  // one past the last byte read

// Logs the two "Checking Patch" lines and a failure line for each failed
// test. The marks are read only when all of them lie inside the layer's
// image; otherwise (getMediapadUID missing, or another build of the layer)
// both tests count as failed and nothing is read.
void CheckLayerPatch(HMODULE layer, uintptr_t get_uid_entry);

// True when [address, address + length) lies inside the image of `module`,
// as its headers give the image's extent.
bool ImageContains(HMODULE module, uintptr_t address, uintptr_t length);
