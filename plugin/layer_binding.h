#pragma once
// Loading MediaPadLayer.dll, resolving its functions and unloading it.

#include <windows.h>

#include <cstdint>

// 0 when the layer was loaded (whether or not every function was found and
// the patch check passed); -1 when it cannot be loaded.
int32_t LoadMediaPadFunctions();
// Frees the layer if it is loaded; afterwards no entry can be called.
void UnloadMediaPadLayer();
bool LayerLoaded();
