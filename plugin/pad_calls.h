#pragma once
// The plug-in's calls of the layer. Each one logs the value line of a
// non-zero result and returns; a function that the layer does not export is
// not called, and a line says so.

#include <cstdint>

#include "layer_binding.h"
#include "layer_functions.h"

// Fills *uid; returns the query's result (never tested, only logged).
double PadQueryUid(double* uid);
void PadMakeBeep(UidSlots uid);
void PadControlLed(UidSlots uid, int32_t state);
void PadSetMode(UidSlots uid, int32_t mode);
void PadClearScreen(UidSlots uid);
void PadSetIconState(UidSlots uid, int32_t icon, int32_t state);
// Sends line 0 or 1 of the screen text.
void PadSendLine(UidSlots uid, int line);
