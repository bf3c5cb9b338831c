#pragma once
// The recording variant appends one line per call to "khalapi.calls" in the
// current directory, before the call is served:
//   LD_GetFirstDevicePosition position=0x<16 hex>
//   LD_GetNextDevicePosition position=0x<16 hex>
//   LD_DeviceControl device=0x<16 hex> code=<int> size=<int> words=<w1>,<w2>,<count> data=<hex bytes>
//   LD_DeviceControl device=0x<16 hex> code=<int> size=<int> raw=<24 header bytes in hex>
//   LD_GetDeviceInfo device=0x<16 hex> size=<int> info=<64 bytes in hex>
// The "data=" form is used for a 32-byte control record (size 32), the
// "raw=" form for any other first word.

#include <cstdint>

constexpr char kCallRecordFile[] = "khalapi.calls";

void RecordPosition(const char* function, uint64_t position);
void RecordControl(uint64_t device, int32_t code, const void* record);
void RecordInfo(uint64_t device, const void* record);
