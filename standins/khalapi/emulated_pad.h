#pragma once
// The emulated MediaPad: its pads, their state and the state file.

#include <cstdint>

#include "pad_protocol.h"

int PadCount();
// Index of the pad whose device value has these low 32 bits, or -1.
int PadIndexFromLow32(uint32_t low32);
// Index of the pad with exactly this 64-bit device value, or -1.
int PadIndexFromDevice(uint64_t device);

int32_t PadFirstPosition(uint64_t* position);
int32_t PadNextPosition(uint64_t* position);
int32_t PadDeviceInfo(uint64_t device, void* record);
int32_t PadControl(uint64_t device, int32_t command, void* record);
