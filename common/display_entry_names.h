#pragma once
// Every entry point that the display host looks up in a display plug-in,
// by its plain name: its session's fourteen and its setup dialog's three.
// A set of them is a bit mask, bit i for kDisplayEntryNames[i]. A 32-bit
// plug-in may export each under its stdcall-decorated name too, or only
// so: the plain name, '@' and the bytes of its arguments.

#include <cstdint>
#include <cstdio>

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

// The bytes of each entry point's arguments, one 32-bit stack slot each.
constexpr int kDisplayEntryArgumentBytes[kDisplayEntryCount] = {16, 0, 8, 4, 8, 0, 4, 4, 4, 0, 8, 8, 4, 12, 0, 0, 0};

// `entry`'s decorated name, "DISPLAYDLL_Init@16".
struct DecoratedEntryName {
  char text[48];
  explicit DecoratedEntryName(DisplayEntry entry) {
    snprintf(text, sizeof text, "%s@%d", kDisplayEntryNames[entry], kDisplayEntryArgumentBytes[entry]);
  }
};

constexpr uint32_t EntryBit(DisplayEntry entry) { return 1u << entry; }
constexpr uint32_t kAllDisplayEntries = (1u << kDisplayEntryCount) - 1;
