#pragma once
// The plug-in's patch check: it reads the patched layer's marks
// (patch_marks.h) and only reports what it finds.

#include <windows.h>

#include <cstdint>

#include "patch_marks.h"

// Logs the two "Checking Patch" lines and a failure line for each failed
// test. The marks are read only when all of them lie inside the layer's
// image; otherwise both tests count as failed and nothing is read.
void CheckLayerPatch(HMODULE layer, uintptr_t get_uid_entry);
