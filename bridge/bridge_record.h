#pragma once
// The record that crosses between a bridge DLL and its 32-bit
// helper program, through a section of their own (never the proxy's): its
// name carries the bridged plug-in's name and the display host's process
// id, so every display host and every bridged plug-in has its own helper.
// The first 16 bytes follow the channel's layout (opcode, the hand-over
// lock at byte 4, done), so CommsSend and CommsRecv and their lock serve
// this record as they serve the proxy's block.

#include <cstddef>
#include <cstdint>

// The one slot of the channel table that the bridge uses.
constexpr int32_t kBridgeSlot = 1;

// Init's parameters, a written text and the texts the plug-in returns
// travel in `text`; a longer written text is sent in pieces.
constexpr int32_t kBridgeTextSize = 4096;

enum BridgeCall : int32_t {
  kBridgeNone = 0,
  kBridgeInit = 1,
  kBridgeDone = 2,
  kBridgeWrite = 3,
  kBridgePowerResume = 4,
  kBridgeQuit = 5,  // the plug-in is being freed: the helper ends
  kBridgeSetPosition = 6,
  kBridgeCustomChar = 7,
  kBridgeCustomCharIndex = 8,
  kBridgeReadKey = 9,
  kBridgeSetBacklight = 10,
  kBridgeSetContrast = 11,
  kBridgeSetBrightness = 12,
  kBridgeSetGpo = 13,
  kBridgeSetFan = 14,
  kBridgeSetColor = 15,
  kBridgeUsage = 16,
  kBridgeDriverName = 17,
  kBridgeDefaultParameters = 18,
};

// What the helper's answer to a call that returns a text (Init, Usage,
// DriverName, DefaultParameters) says of that text, in `result`.
enum BridgeTextAnswer : int32_t {
  kTextGiven = 0,     // `text` is the plug-in's text
  kTextNull = 1,      // the plug-in returned a null pointer
  kTextNoPlugin = 2,  // the plug-in could not be loaded: `text` says why
};

#pragma pack(push, 1)
struct BridgeRecord {
  int32_t opcode;  // the call once sent; 0: no request
  int32_t lock;    // the channel's hand-over lock; 0 in every record that crosses
  int32_t done;    // 1 once the helper has served the request
  int32_t request_id;
  // 1: SetPosition(x, y) is called first. The bridge keeps a
  // SetPosition until the next call, so it costs no round trip of its own.
  int32_t position_first;
  uint32_t x, y;
  uint32_t args[3];  // the call's arguments as the display host passed them (Init: SizeX, SizeY)
  uint8_t data[8];   // CustomChar's eight bytes
  int32_t result;    // ReadKey's word, CustomCharIndex's byte, a BridgeTextAnswer
  int32_t ok;        // Init's OK byte, as the 32-bit plug-in set it
  // A fault that the call raised and no handler of the plug-in took: its
  // exception code (0: none) and address. The helper went on.
  uint32_t fault_code;
  uint32_t fault_address;
  int32_t text_length;  // bytes in text before its terminator; bounded by the reader
  char text[kBridgeTextSize];
};
#pragma pack(pop)

static_assert(offsetof(BridgeRecord, lock) == 4, "lock word where the channel takes it");
static_assert(offsetof(BridgeRecord, done) == 8, "done flag");
constexpr int32_t kBridgeRecordSize = static_cast<int32_t>(sizeof(BridgeRecord));

// The text's length as a reader may use it: never past the buffer, and the
// buffer then holds a terminator behind it.
inline int32_t BoundedTextLength(BridgeRecord& record) {
  int32_t n = record.text_length;
  if (n < 0) n = 0;
  if (n > kBridgeTextSize - 1) n = kBridgeTextSize - 1;
  record.text[n] = '\0';
  record.text_length = n;
  return n;
}
