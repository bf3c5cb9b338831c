// What each export puts into the request block and takes back out of it.
#include <cstring>

#include "caller_turn.h"
#include "request_call.h"
#include "step_times.h"
#include "vorn_apx.h"

namespace {

constexpr int32_t kInfoCountSize = 4;

int32_t ReadInt32(const void* record, size_t offset) {
  int32_t value;
  memcpy(&value, static_cast<const uint8_t*>(record) + offset, sizeof value);
  return value;
}

// A caller that waited its whole budget for its turn meets the time-out
// without sending anything.
int32_t TurnTimedOut() {
  ReportTimeOut();
  return -1;
}

// The position calls differ only in their request code and name.
int32_t PositionCall(int32_t request_code, const char* name, int32_t* position) {
  VORN_CALL_STEPS();
  if (!position) return -1;
  const Deadline deadline = Deadline::In(kReplyBudgetMs);
  CallerTurn turn(deadline);
  if (!turn.taken()) return TurnTimedOut();
  PrepareRequest(request_code, name);
  g_block.args[0] = *position;
  if (callfn(deadline) == kCallNotAnswered) return -1;
  *position = g_block.args[0];
  return g_block.result;
}

}  // namespace

extern "C" {

// A record whose length the block cannot hold is refused before anything is
// sent, so that nothing is read beyond the block or the caller's record.
int32_t __cdecl LD_DeviceControl(int32_t device, int32_t code, const void* control) {
  VORN_CALL_STEPS();
  if (!control) return -1;
  int32_t n = kControlHeaderSize;
  if (ReadInt32(control, 0) == kControlHeaderSize) {
    const int32_t data_length = ReadInt32(control, 12);
    if (data_length < 0 || data_length > kMaxControlData) return -1;
    n += data_length;
  }
  const Deadline deadline = Deadline::In(kReplyBudgetMs);
  CallerTurn turn(deadline);
  if (!turn.taken()) return TurnTimedOut();
  PrepareRequest(kRequestDeviceControl, "LD_DeviceControl");
  g_block.args[0] = device;
  g_block.args[1] = code;
  memcpy(g_block.payload, control, static_cast<size_t>(n));
  callfn(deadline);
  return g_block.result;
}

int32_t __cdecl LD_GetDeviceInfo(int32_t device, void* info) {
  VORN_CALL_STEPS();
  if (!info) return -1;
  const int32_t count = ReadInt32(info, 0);
  if (count < 0 || count > kMaxInfoBytes) return -1;
  uint8_t* record = static_cast<uint8_t*>(info);
  const Deadline deadline = Deadline::In(kReplyBudgetMs);
  CallerTurn turn(deadline);
  if (!turn.taken()) return TurnTimedOut();
  PrepareRequest(kRequestGetDeviceInfo, "LD_GetDeviceInfo");
  g_block.args[0] = device;
  g_block.payload[0] = static_cast<uint8_t>(count & 0xFF);
  g_block.payload[1] = static_cast<uint8_t>((count >> 8) & 0xFF);
  memcpy(g_block.payload + kInfoCountSize, record + kInfoCountSize, static_cast<size_t>(count));
  if (callfn(deadline) == kCallNotAnswered) return -1;
  // After a time-out the block still holds the request as sent, so the
  // record gets its own values back.
  int32_t reply_count = g_block.payload[0] + 256 * g_block.payload[1];
  if (reply_count > kMaxInfoBytes) return -1;  // a reply the block cannot hold: the record stays as it was
  // The record has room for the bytes its caller counted, and no more: a
  // longer reply (only a host that changes the count sends one) is clipped,
  // and the count says how many bytes were copied.
  if (reply_count > count) reply_count = count;
  memcpy(record, &reply_count, sizeof reply_count);
  memcpy(record + kInfoCountSize, g_block.payload + kInfoCountSize, static_cast<size_t>(reply_count));
  return g_block.result;
}

int32_t __cdecl LD_GetFirstDevicePosition(int32_t* position) {
  return PositionCall(kRequestGetFirstDevicePosition, "LD_GetFirstDevicePosition", position);
}

int32_t __cdecl LD_GetNextDevicePosition(int32_t* position) {
  return PositionCall(kRequestGetNextDevicePosition, "LD_GetNextDevicePosition", position);
}

}  // extern "C"
