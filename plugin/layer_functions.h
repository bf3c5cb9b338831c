#pragma once
// The vendor layer MediaPadLayer.dll as the plug-in calls it: its ten
// functions and their calling contracts (the loading is layer_binding.h). getMediapadUID uses the C calling
// convention and returns a floating-point value; the others use the
// standard Windows convention, take the pad's 8-byte UID by value (two
// stack slots, low word first) and return 0 for success.

#include <windows.h>

#include <cstdint>

enum LayerFunction {
  kGetMediapadUid,
  kMakeBeep,
  kControlLed,
  kClearScreen,
  kSetMode,
  kGetMode,
  kRegisterClearEvent,
  kRegisterKeyEvent,
  kSetLine,
  kSetIconState,
  kLayerFunctionCount
};

// The UID as it travels to the layer, which declares it a double: its 8
// bytes in two stack slots, low word first. Copying it as a double would go
// through the x87 unit, which sets the quiet bit of a signalling-NaN bit
// pattern and so would hand the layer another UID; a record of two words
// is passed exactly as the double would be, bit for bit.
struct UidSlots {
  uint32_t low;
  uint32_t high;
};
static_assert(sizeof(UidSlots) == sizeof(double), "the UID takes two stack slots");

using GetMediapadUidFn = double(__cdecl*)(double* uid);
using UidOnlyFn = int32_t(WINAPI*)(UidSlots uid);                  // makeBeep, clearScreen
using UidValueFn = int32_t(WINAPI*)(UidSlots uid, int32_t value);  // controlLed, SetMode
using SetLineFn = int32_t(WINAPI*)(UidSlots uid, int32_t line, const char* text, int32_t style);
using SetIconStateFn = int32_t(WINAPI*)(UidSlots uid, int32_t icon, int32_t state);
