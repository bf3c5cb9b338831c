#pragma once
// Serving one request: the 32-bit request data becomes the 64-bit argument
// lists of the vendor functions, and the answers go back into the block.
// process_call is the system's own name; it also tags the host's log lines.

#include <cstddef>
#include <cstdint>

#include "request_block.h"

// The host's own copy of the block; 8-byte aligned so that the position
// word at payload byte 0 (block byte 88) is an aligned 64-bit word.
alignas(8) extern RequestBlock g_host_block;
// The device found last by LD_GetNextDevicePosition; 0 until then.
extern uint64_t g_device_handle;

// Result of a request that cannot be served: its vendor entry point was not
// found, or its control record describes bytes outside the block.
constexpr int32_t kNotServed = -1;

#pragma pack(push, 8)
struct DeviceControlRecord64 {
  int32_t size;         // 32
  int32_t word1;        // header bytes 4-7
  int32_t word2;        // header bytes 8-11
  int32_t data_length;  // header bytes 12-15
  uint64_t data;        // address of payload byte 24 in the host's block
  uint8_t unused[8];
};
struct DeviceInfoRecord64 {
  int32_t size;  // 92
  uint8_t info[64];
  uint8_t unused[24];
};
#pragma pack(pop)
static_assert(sizeof(DeviceControlRecord64) == 32, "control record size");
static_assert(offsetof(DeviceControlRecord64, data) == 16, "control record data address");
static_assert(sizeof(DeviceInfoRecord64) == 92, "information record size");
static_assert(offsetof(DeviceInfoRecord64, info) == 4, "information record words");

void process_call();
