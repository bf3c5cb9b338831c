#include "process_call.h"

#include <cstring>

#include "debug_log.h"
#include "vendor_library.h"

alignas(8) RequestBlock g_host_block;
uint64_t g_device_handle;

namespace {

int32_t PayloadWord(int offset) {
  int32_t value;
  memcpy(&value, g_host_block.payload + offset, sizeof value);
  return value;
}

struct NotBoundLogged {
  bool control, first, next, info;
};
NotBoundLogged g_not_bound_logged;

// A missing entry point is never called: the request is answered with
// kNotServed. Logged once per function: a caller that retries (the plug-in
// asks for the pad once a second) must not grow the log without end.
bool Bound(bool found, const char* name, bool* logged) {
  if (found) return true;
  if (!*logged) {
    *logged = true;
    LogWritef("process_call", "%s is not bound; its requests are answered with -1", name);
  }
  g_host_block.result = kNotServed;
  return false;
}

// The block is written by any process of the user: never hand the vendor
// a record that reaches outside it. False (the request refused) when the
// data length does not fit.
bool ControlDataFits(int32_t length) {
  if (length >= 0 && length <= kMaxControlData) return true;
  LogWritef("process_call", "LD_DeviceControl refused: data length %d does not fit the block", length);
  g_host_block.result = kNotServed;
  return false;
}

#ifdef _WIN64
void DeviceControl() {
  if (!Bound(g_vendor.device_control != nullptr, "LD_DeviceControl", &g_not_bound_logged.control)) return;
  DeviceControlRecord64 record = {};
  void* argument = g_host_block.payload;
  if (PayloadWord(0) == kControlHeaderSize) {
    const int32_t length = PayloadWord(12);
    if (!ControlDataFits(length)) return;
    record.size = sizeof record;
    record.word1 = PayloadWord(4);
    record.word2 = PayloadWord(8);
    record.data_length = length;
    record.data = reinterpret_cast<uintptr_t>(g_host_block.payload + kControlHeaderSize);
    argument = &record;
  } else if (PayloadWord(0) == static_cast<int32_t>(sizeof(DeviceControlRecord64))) {
    // Passed on as it stands, this header would read to the vendor as a
    // 64-bit record whose data address the sender chose.
    LogWrite("process_call", "LD_DeviceControl refused: a header of 32 would pass an address from the block");
    g_host_block.result = kNotServed;
    return;
  }
  g_host_block.result = g_vendor.device_control(g_device_handle, g_host_block.args[1], argument);
}

void DevicePosition(GetFirstDevicePositionFn fn, const char* name, bool next) {
  if (!Bound(fn != nullptr, name, next ? &g_not_bound_logged.next : &g_not_bound_logged.first)) return;
  // The vendor reads and writes the position in place: payload bytes 0-7.
  uint64_t position = static_cast<uint32_t>(g_host_block.args[0]);
  memcpy(g_host_block.payload, &position, sizeof position);
  g_host_block.result = fn(reinterpret_cast<uint64_t*>(g_host_block.payload));
  memcpy(&position, g_host_block.payload, sizeof position);
  g_host_block.args[0] = static_cast<int32_t>(static_cast<uint32_t>(position));
  if (next && g_host_block.args[0] != -1) g_device_handle = position;
}

void DeviceInfo() {
  if (!Bound(g_vendor.get_device_info != nullptr, "LD_GetDeviceInfo", &g_not_bound_logged.info)) return;
  DeviceInfoRecord64 record = {};
  record.size = sizeof record;
  memcpy(record.info, g_host_block.payload + 4, sizeof record.info);
  g_host_block.result = g_vendor.get_device_info(g_device_handle, &record);
  memcpy(g_host_block.payload + 4, record.info, sizeof record.info);
}

#else
// The 32-bit vendor library takes the caller's own 24-byte record, with the
// data's address at bytes 16-19: here the data that followed the header in
// the host's copy of the block.
void DeviceControl() {
  if (!Bound(g_vendor.device_control != nullptr, "LD_DeviceControl", &g_not_bound_logged.control)) return;
  if (PayloadWord(0) == kControlHeaderSize) {
    if (!ControlDataFits(PayloadWord(12))) return;
    const uint32_t data = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(g_host_block.payload + kControlHeaderSize));
    memcpy(g_host_block.payload + 16, &data, sizeof data);
  }
  g_host_block.result =
      g_vendor.device_control(static_cast<int32_t>(g_device_handle), g_host_block.args[1], g_host_block.payload);
}

void DevicePosition(GetFirstDevicePositionFn fn, const char* name, bool next) {
  if (!Bound(fn != nullptr, name, next ? &g_not_bound_logged.next : &g_not_bound_logged.first)) return;
  int32_t position = g_host_block.args[0];
  g_host_block.result = fn(&position);
  g_host_block.args[0] = position;
  if (next && position != -1) g_device_handle = static_cast<uint32_t>(position);
}

// The caller's record, its count word first: the vendor may write as many
// bytes as the count says, so a count that reaches outside the block is
// refused.
void DeviceInfo() {
  if (!Bound(g_vendor.get_device_info != nullptr, "LD_GetDeviceInfo", &g_not_bound_logged.info)) return;
  const int32_t count = PayloadWord(0);
  if (count < 0 || count > kMaxInfoBytes) {
    LogWritef("process_call", "LD_GetDeviceInfo refused: count %d does not fit the block", count);
    g_host_block.result = kNotServed;
    return;
  }
  g_host_block.result = g_vendor.get_device_info(static_cast<int32_t>(g_device_handle), g_host_block.payload);
}
#endif

void InvalidFunction() {
  // The name comes from another process: it may lack its terminator.
  char name[sizeof g_host_block.function_name + 1];
  memcpy(name, g_host_block.function_name, sizeof g_host_block.function_name);
  name[sizeof name - 1] = '\0';
  LogWrite("***** process_call - Invalid Function *****", name);
}

}  // namespace

void process_call() {
  switch (g_host_block.pending_opcode) {
    case kRequestDeviceControl: DeviceControl(); break;
    case kRequestGetFirstDevicePosition:
      DevicePosition(g_vendor.get_first_device_position, "LD_GetFirstDevicePosition", false);
      break;
    case kRequestGetNextDevicePosition:
      DevicePosition(g_vendor.get_next_device_position, "LD_GetNextDevicePosition", true);
      break;
    case kRequestGetDeviceInfo: DeviceInfo(); break;
    default: InvalidFunction(); break;
  }
}
