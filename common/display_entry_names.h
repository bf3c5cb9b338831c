#pragma once
// Every entry point that the display host looks up in a display plug-in,
// by its plain name: its session's fourteen and its setup dialog's three.
// A set of them is a bit mask, bit i for kDisplayEntryNames[i].

#include <cstdint>

enum DisplayEntry : int {
  kEntryInit,
  kEntryDone,
  kEntrySetPosition,
  kEntryWrite,
  kEntryCustomChar,
  kEntryReadKey,
  kEntrySetBacklight,
  kEntrySetContrast,
  kEntrySetBrightness,
  kEntryPowerResume,
  kEntrySetGpo,
  kEntrySetFan,
  kEntryCustomCharIndex,
  kEntrySetColor,
  kEntryUsage,
  kEntryDriverName,
  kEntryDefaultParameters,
  kDisplayEntryCount
};

constexpr const char* kDisplayEntryNames[kDisplayEntryCount] = {"DISPLAYDLL_Init",
                                                                "DISPLAYDLL_Done",
                                                                "DISPLAYDLL_SetPosition",
                                                                "DISPLAYDLL_Write",
                                                                "DISPLAYDLL_CustomChar",
                                                                "DISPLAYDLL_ReadKey",
                                                                "DISPLAYDLL_SetBacklight",
                                                                "DISPLAYDLL_SetContrast",
                                                                "DISPLAYDLL_SetBrightness",
                                                                "DISPLAYDLL_PowerResume",
                                                                "DISPLAYDLL_SetGPO",
                                                                "DISPLAYDLL_SetFan",
                                                                "DISPLAYDLL_CustomCharIndex",
                                                                "DISPLAYDLL_SetColor",
                                                                "DISPLAYDLL_Usage",
                                                                "DISPLAYDLL_DriverName",
                                                                "DISPLAYDLL_DefaultParameters"};

constexpr uint32_t EntryBit(DisplayEntry entry) { return 1u << entry; }
constexpr uint32_t kAllDisplayEntries = (1u << kDisplayEntryCount) - 1;
