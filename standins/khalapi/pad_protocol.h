#pragma once
// The emulated MediaPad behind our stand-in KHALAPI.dll, and the small
// protocol that the stand-in layer speaks to it through the four LD_ calls.
// This is our own protocol; nothing here is the vendor's.
//
// Enumeration (the 64-bit position word):
//   LD_GetFirstDevicePosition(&pos)  -> pos = kPadStartPosition, result 0
//   LD_GetNextDevicePosition(&pos)   -> pos = the device value after pos
//       (pos is matched by its low 32 bits, since 32-bit callers only keep
//       those), or low 32 bits all ones (kPadEndOfList) past the last pad;
//       result 0, or kPadEndOfListResult at the end.
//   Device value of pad i: kPadDeviceBase + i (high 32 bits non-zero on
//   purpose: the host must pass its own 64-bit value, not a 32-bit one).
//   Pads: 1, or the number in the environment variable VORN_PAD_COUNT (1-4).
//
// LD_GetDeviceInfo(device, record): record is a 92-byte information record
//   whose int32 size word at byte 0 must be 92. Filled after the size word:
//     bytes 4-11   UID, 8 bytes (kPadUidBase + i, little-endian)
//     bytes 12-15  product id kPadProductId
//     bytes 16-19  firmware version kPadFirmware
//     bytes 20-51  name "MediaPad", NUL-padded
//     bytes 52-67  serial text "MP-0000000i", NUL-padded
//
// LD_DeviceControl(device, command, record): record is a 32-byte control
//   record (int32 size word 32, int32 arg1, int32 arg2, int32 data count,
//   64-bit address of the data). The control word is the command:
//     kPadCmdSetLine  arg1 line (0 top, 1 bottom), arg2 style (the layer sends 2),
//                     data: 1-16 characters; the line is padded with spaces
//     kPadCmdLed      arg1 state (0 off, 1 on)
//     kPadCmdMode     arg1 mode
//     kPadCmdIcon     arg1 icon (0-3), arg2 state
//     kPadCmdBeep     no arguments
//     kPadCmdClear    no arguments; both lines become spaces
//     kPadCmdHold     arg1 milliseconds (at most 10000) that the call takes,
//                     for tests of a host that ends during a vendor call
//   A 32-bit caller builds the 24-byte header that the host turns into this
//   record: header_size 24, arg1, arg2, data count, 8 bytes of 0, then data.
//
// Results: kPadOk, or one of the errors below.
//
// Visible state: after every change the pad rewrites the text file
// kPadStateFile in the current directory of the host process:
//     line0=|<16 characters>|
//     line1=|<16 characters>|
//     led=<state>
//     mode=<mode>
//     icons=<i0> <i1> <i2> <i3>
//     beeps=<count>
//     commands=<count of successful control commands>
//   It is written to a temporary file and moved into place, so a reader
//   never sees half a file.

#include <cstdint>

constexpr uint64_t kPadStartPosition = 0;
constexpr uint32_t kPadEndOfList = 0xFFFFFFFFu;
constexpr uint64_t kPadDeviceBase = 0x000000014D500000ull;
constexpr uint64_t kPadUidBase = 0x4D50414400000001ull;  // a normal, non-zero double
constexpr int32_t kPadInfoRecordSize = 92;
constexpr int32_t kPadControlRecordSize = 32;
constexpr uint32_t kPadProductId = 0x0000C230u;
constexpr uint32_t kPadFirmware = 0x00010203u;
constexpr int kPadMaxPads = 4;
constexpr int kPadLineLength = 16;
constexpr char kPadStateFile[] = "mediapad.state";

enum PadCommand : int32_t {
  kPadCmdSetLine = 1,
  kPadCmdLed = 2,
  kPadCmdMode = 3,
  kPadCmdIcon = 4,
  kPadCmdBeep = 5,
  kPadCmdClear = 6,
  kPadCmdHold = 7,
};

enum PadResult : int32_t {
  kPadOk = 0,
  kPadEndOfListResult = 0x100,
  kPadNoDevice = 0x101,
  kPadBadRecord = 0x102,
  kPadBadCommand = 0x103,
  kPadBadArgument = 0x104,
};
