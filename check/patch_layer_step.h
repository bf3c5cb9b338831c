#pragma once
// vorn-check.exe --patch-layer <the vendor's MediaPadLayer.dll>: writes the
// patched copy as MediaPadLayer.dll into `folder` (the check tool's own, the
// display host application's). The file it reads is never changed; a
// MediaPadLayer.dll in the folder that is not already this very copy is
// kept under a free name first (MediaPadLayer.dll.orig, or the next free
// one). The written copy must pass the plug-in's own patch check before it
// takes its place. Prints one line saying what it did; the result is the
// exit status, 0 or 1. A failure leaves the folder as it was and says so
// ("refused: ... Nothing was written."), or, when what it moved or wrote
// cannot be undone, says what is left where ("failed: ...").

#include <string>

#include "file_moves.h"

int PatchLayerStep(const std::string& source, const std::string& folder);
int PatchLayerStep(const std::string& source, const std::string& folder, const MoveFileFn& move);
