#pragma once
// What serves the stand-in layer's functions: the emulated pad reached
// through VornApx.dll, or (in the recording variant) a file that every call
// is appended to, with results that the test sets in the environment.

#include <cstdint>

// One layer call other than getMediapadUID, in the pad protocol's terms.
struct LayerCall {
  const char* function;  // the layer function's name
  const uint8_t* uid;    // the 8 UID bytes as received, in memory order
  int32_t command;       // PadCommand
  int32_t arg1;
  int32_t arg2;
  const char* data;  // setLine's text, else null
  int32_t data_count;
  const char* record;  // the call's other arguments as the recording shows them
};

// Fills the 8 bytes at uid; the result is 0 on success.
double BackendQueryUid(uint8_t uid[8]);
int32_t BackendCommand(const LayerCall& call);
