#pragma once
// What the "echo" variant of the stand-in device library does with each
// call, written once so that a 32-bit test can compute the answer it must
// get back through the proxy and the host, byte for byte.

#include <cstdint>

// LD_GetFirstDevicePosition / LD_GetNextDevicePosition: the position word
// is replaced by EchoPosition(word, first) and the result is EchoPositionResult.
inline uint64_t EchoPosition(uint64_t position, bool first) {
  return first ? (position ^ 0x00000000A5A5A5A5ull) + 3 : position * 5 + 1;
}
inline int32_t EchoPositionResult(uint64_t position, bool first) {
  return static_cast<int32_t>(static_cast<uint32_t>(position) ^ (first ? 0x1234u : 0x4321u));
}

// LD_DeviceControl: the result folds the control word, the record words and
// the data bytes. With a 32-byte record (size word 32) `words` are its four
// int32 words at bytes 0-15 and `data` the `count` bytes it points at; with
// any other first word, `words` are the first four words of the raw
// 24-byte header and there is no data.
inline int32_t EchoControlResult(int32_t code, const int32_t words[4], const uint8_t* data, int32_t count) {
  uint32_t h = 2166136261u ^ static_cast<uint32_t>(code);
  for (int i = 0; i < 4; ++i) h = (h ^ static_cast<uint32_t>(words[i])) * 16777619u;
  for (int32_t i = 0; i < count; ++i) h = (h ^ data[i]) * 16777619u;
  return static_cast<int32_t>(h);
}

// LD_GetDeviceInfo: each of the 64 bytes after the size word becomes
// EchoInfoByte(i, byte); the result is the sum of the bytes as received.
inline uint8_t EchoInfoByte(int index, uint8_t byte) { return static_cast<uint8_t>((byte ^ (index * 13 + 7)) + 1); }
