#pragma once
// The patch of the vendor's MediaPadLayer.dll, made on the file's bytes:
// the two UTF-16LE texts that the plug-in's patch check reads at fixed
// distances from getMediapadUID's entry (patch_marks.h) are rewritten, the
// vendor library's name "KHALAPI.dll" as "VornApx.dll" and the four letters
// after it as "Patx". Nothing else in the file changes.

#include <cstdint>
#include <string>
#include <vector>

enum class LayerPatchVerdict {
  kPatched,         // the texts were the vendor's and now are ours
  kAlreadyPatched,  // the name was "VornApx.dll" already; nothing changed
  kNotA32BitDll,
  kNoUidEntry,  // no getMediapadUID export
  kOutsideSections,
  kNotVendorName,  // neither "KHALAPI.dll" nor "VornApx.dll" at the first place
  kNotFourLetters,
};

struct LayerPatch {
  LayerPatchVerdict verdict;
  std::string detail;  // for a refusal: what was found, in a few words
};

inline bool PatchRefused(const LayerPatch& patch) {
  return patch.verdict != LayerPatchVerdict::kPatched && patch.verdict != LayerPatchVerdict::kAlreadyPatched;
}

// Patches `file` in place; a refused file is left exactly as it was.
LayerPatch PatchLayerBytes(std::vector<uint8_t>& file);
