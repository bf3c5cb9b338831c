#include "layer_binding.h"

#include "debug_log.h"
#include "layer_functions.h"
#include "patch_check.h"

const char* const kLayerFunctionNames[kLayerFunctionCount] = {
    "getMediapadUID", "makeBeep",           "controlLed",       "clearScreen", "SetMode",
    "GetMode",        "registerclearEvent", "registerkeyEvent", "setLine",     "SetIconState",
};

namespace {

constexpr char kLayerFile[] = "MediaPadLayer.dll";

HMODULE g_layer;
FARPROC g_entries[kLayerFunctionCount];
bool g_skip_told[kLayerFunctionCount];

FARPROC Resolve(LayerFunction function) {
  const char* name = kLayerFunctionNames[function];
  FARPROC entry = GetProcAddress(g_layer, name);
  g_entries[function] = entry;
  if (entry) {
    LogWritef("PADGET", "%s address is 0x%08x", name, static_cast<unsigned>(reinterpret_cast<uintptr_t>(entry)));
  } else {
    LogWrite("Failed at GetProcAddress for MediaPadLayer.dll", name);
  }
  return entry;
}

}  // namespace

FARPROC LayerEntry(LayerFunction function) { return g_layer ? g_entries[function] : nullptr; }

bool LayerLoaded() { return g_layer != nullptr; }

bool FirstSkipOf(LayerFunction function) {
  if (g_skip_told[function]) return false;
  g_skip_told[function] = true;
  return true;
}

int32_t LoadMediaPadFunctions() {
  g_layer = LoadLibraryA(kLayerFile);
  if (!g_layer) {
    LogWrite("Load", "Failed to load library");
    return -1;
  }
  for (bool& told : g_skip_told) told = false;
  FARPROC base = Resolve(kGetMediapadUid);
  const uintptr_t base_address = reinterpret_cast<uintptr_t>(base);
  LogWritef("GetMediaPadUID", "address 0x%08x", static_cast<unsigned>(base_address));
  CheckLayerPatch(g_layer, base_address);
  LogWrite("Loading", "Functions");
  for (int f = kMakeBeep; f < kLayerFunctionCount; ++f) Resolve(static_cast<LayerFunction>(f));
  LogWrite("Init", "MediaPadLayer.dll loaded");
  return 0;
}

void UnloadMediaPadLayer() {
  if (!g_layer) return;
  FreeLibrary(g_layer);
  // A freed layer's handle and entries point at nothing: forget them, so that
  // neither a second unload nor a late call can reach into it.
  g_layer = nullptr;
  for (FARPROC& entry : g_entries) entry = nullptr;
}
