#pragma once
// Loading MediaPadLayer.dll, resolving its functions and unloading it.

#include <windows.h>

#include <cstdint>

#include "layer_functions.h"
#include "typed_export.h"

// 0 when the layer was loaded (whether or not every function was found and
// the patch check passed); -1 when it cannot be loaded.
int32_t LoadMediaPadFunctions();
// Frees the layer if it is loaded; afterwards no entry can be called.
void UnloadMediaPadLayer();
bool LayerLoaded();

// Names in lookup order, indexed by LayerFunction.
extern const char* const kLayerFunctionNames[kLayerFunctionCount];

// The resolved entry of a function; null when the layer is not loaded or
// does not export it.
FARPROC LayerEntry(LayerFunction function);

template <typename Fn>
Fn LayerEntryAs(LayerFunction function) {
  return FunctionCast<Fn>(LayerEntry(function));
}

// True the first time it is asked for a function since the layer was loaded.
bool FirstSkipOf(LayerFunction function);
