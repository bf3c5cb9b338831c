#pragma once
// The 256-byte record that crosses the shared-memory section between the
// 32-bit proxy library and the 64-bit host program. Its layout, the section's
// name and size, and the field names opcode, done, pending_opcode,
// function_name, result, args and payload are the system's own contract;
// lock and request_id are the two words that the contract leaves reserved,
// named for what they hold.

#include <cstddef>
#include <cstdint>

constexpr char kSectionName[] = "Vorn64BitInterface";
constexpr int32_t kSectionSize = 10240;
constexpr int32_t kBlockSize = 256;

// What a request asks for: one of the four vendor functions. The block
// carries it twice: in pending_opcode as the proxy prepared it, and in
// opcode once the request has been sent (0 there: no request).
enum RequestCode : int32_t {
  kNoRequest = 0,
  kRequestDeviceControl = 2,
  kRequestGetFirstDevicePosition = 7,
  kRequestGetNextDevicePosition = 8,
  kRequestGetDeviceInfo = 12,
};

constexpr int32_t kPayloadSize = 168;
constexpr int32_t kControlHeaderSize = 24;
// Data bytes a control request can carry behind its 24-byte header.
constexpr int32_t kMaxControlData = kPayloadSize - kControlHeaderSize;  // 144
// Information bytes an information request can carry behind its 4-byte count.
constexpr int32_t kMaxInfoBytes = kPayloadSize - 4;  // 164

#pragma pack(push, 1)
struct RequestBlock {
  int32_t opcode;          // the request code once sent; 0: no request
  int32_t lock;            // the hand-over lock (channel.h); 0 in every block that crosses
  int32_t done;            // 1 once the host has served the request
  int32_t pending_opcode;  // the request code as prepared; the host dispatches on it
  char function_name[32];  // the proxied function's name, for the host's log only
  int32_t result;          // the vendor function's result, or -1 on time-out
  int32_t request_id;      // the proxy's request number, copied back unchanged
  int32_t args[8];
  uint8_t payload[kPayloadSize];
};
#pragma pack(pop)

static_assert(sizeof(RequestBlock) == kBlockSize, "RequestBlock must be 256 bytes");
static_assert(offsetof(RequestBlock, opcode) == 0, "opcode offset");
static_assert(offsetof(RequestBlock, lock) == 4, "lock offset");
static_assert(offsetof(RequestBlock, done) == 8, "done offset");
static_assert(offsetof(RequestBlock, pending_opcode) == 12, "pending_opcode offset");
static_assert(offsetof(RequestBlock, function_name) == 16, "function_name offset");
static_assert(offsetof(RequestBlock, result) == 48, "result offset");
static_assert(offsetof(RequestBlock, request_id) == 52, "request number offset");
static_assert(offsetof(RequestBlock, args) == 56, "args offset");
static_assert(offsetof(RequestBlock, payload) == 88, "payload offset");
static_assert(sizeof(RequestBlock::function_name) > sizeof("LD_GetFirstDevicePosition") - 1,
              "the longest function name fits with its terminator");
