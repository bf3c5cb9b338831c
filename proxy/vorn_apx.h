#pragma once
// The four functions that VornApx.dll exports under the vendor library's
// names. The patched vendor layer calls them as it would call the vendor's
// own; each one travels as a request block to the 64-bit host program.

#include <cstdint>

extern "C" {

// control: a 24-byte header, followed by `data_length` data bytes (at most
// 144) when its first word is 24. Only read.
int32_t __cdecl LD_DeviceControl(int32_t device, int32_t code, const void* control);
// info: an int32 count (0 to 164) and that many information bytes; the
// count and the bytes of the reply are written back.
int32_t __cdecl LD_GetDeviceInfo(int32_t device, void* info);
int32_t __cdecl LD_GetFirstDevicePosition(int32_t* position);
int32_t __cdecl LD_GetNextDevicePosition(int32_t* position);

}  // extern "C"
