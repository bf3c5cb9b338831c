// QX20481Bridge32.exe: the 32-bit side of the 64-bit QX20481.dll. Started
// by it as "QX20481Bridge32.exe <display host pid> <section name>", in the
// display host's current directory, it loads the 32-bit QX20481.dll that
// lies beside it and makes each call the 64-bit plug-in forwards. It ends
// when told to (the 64-bit plug-in is freed) or when the display host
// process has ended, however it ended.
//
// Exit status: 0 after either end, 2 when the command line was wrong, the
// display host was already gone or the section could not be opened.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bridge_channel.h"
#include "bridge_log.h"
#include "channel.h"
#include "debug_log.h"
#include "display_session_entries.h"
#include "module_path.h"
#include "typed_export.h"
#include "unique_handle.h"

extern const char kBridgeLogName[] = "QX20481Bridge32";

namespace {

// Between requests the helper looks at the section this often even without
// a signal, so a lost signal costs at most this long.
constexpr DWORD kIdleWaitMs = 100;

struct Plugin32 : DisplaySessionEntries {
  HMODULE module = nullptr;
  VoidFn power_resume = nullptr;
  char path[MAX_PATH] = {};
};
Plugin32 g_plugin;

// The 32-bit plug-in beside this program, by its full path: one in the
// current directory or on the search path is never taken for it.
void LoadPlugin32() {
  char own[MAX_PATH];
  if (ThisModulePath(own, sizeof own) == 0) return;
  char* slash = strrchr(own, '\\');
  if (!slash) return;
  slash[1] = '\0';
  snprintf(g_plugin.path, sizeof g_plugin.path, "%s%s", own, kPlugin32File);
  g_plugin.module = LoadLibraryA(g_plugin.path);
  if (!g_plugin.module) {
    LogWritef("Helper", "could not load %s, error %lu", g_plugin.path, GetLastError());
    return;
  }
  // Each call checks its own entry: a missing one fails that call only.
  g_plugin.Load(g_plugin.module);
  g_plugin.power_resume = LookupExport<Plugin32::VoidFn>(g_plugin.module, "DISPLAYDLL_PowerResume");
}

void SetText(BridgeRecord& record, const char* text) {
  const size_t n = text ? strnlen(text, kBridgeTextSize - 1) : 0;
  if (n) memcpy(record.text, text, n);
  record.text[n] = '\0';
  record.text_length = static_cast<int32_t>(n);
}

void ServeInit(BridgeRecord& record) {
  BoundedTextLength(record);
  if (!g_plugin.init) {
    record.ok = 0;
    char text[MAX_PATH + 64];
    snprintf(text, sizeof text, "32-bit plug-in not found: %s", g_plugin.path[0] ? g_plugin.path : kPlugin32File);
    SetText(record, text);
    return;
  }
  uint8_t ok = 0;
  const char* answer = g_plugin.init(16, 2, record.text, &ok);
  record.ok = ok;
  SetText(record, answer);
}

void ServeWrite(BridgeRecord& record) {
  BoundedTextLength(record);
  if (g_plugin.set_position) g_plugin.set_position(static_cast<uint32_t>(record.x), static_cast<uint32_t>(record.y));
  if (g_plugin.write) g_plugin.write(record.text);
  record.text_length = 0;
  record.text[0] = '\0';
}

// Makes the call; false when the helper is to end.
bool Serve(BridgeRecord& record) {
  switch (record.opcode) {
    case kBridgeInit: ServeInit(record); break;
    case kBridgeDone:
      if (g_plugin.done) g_plugin.done();
      break;
    case kBridgeWrite: ServeWrite(record); break;
    case kBridgePowerResume:
      if (g_plugin.power_resume) g_plugin.power_resume();
      break;
    case kBridgeQuit: break;
    default: LogWritef("Helper", "unknown call %d", static_cast<int>(record.opcode)); break;
  }
  return record.opcode != kBridgeQuit;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const DWORD parent_pid = strtoul(argv[1], nullptr, 10);
  ScopedHandle parent(OpenProcess(SYNCHRONIZE, FALSE, parent_pid));
  if (!parent) return 2;
  if (!BridgeOpen(argv[2])) return 2;
  LoadPlugin32();

  HANDLE request_event = g_channel[kBridgeSlot].events[kRequestEvent];
  HANDLE waits[2] = {parent.get(), request_event};
  const DWORD wait_count = request_event ? 2 : 1;
  int32_t last_served = 0;
  bool running = true;
  static BridgeRecord record;  // 4 KB: not on the stack of every wait
  while (running) {
    if (CommsRecv(kBridgeSlot, &record, kBridgeRecordSize) && record.opcode != kBridgeNone && record.done == 0 &&
        record.request_id != last_served) {
      last_served = record.request_id;
      running = Serve(record);
      record.done = 1;
      BridgeSendReply(record);
      CommsSignal(kBridgeSlot, kReplyEvent);
      continue;
    }
    if (WaitForMultipleObjects(wait_count, waits, FALSE, kIdleWaitMs) == WAIT_OBJECT_0)
      break;  // the display host ended
  }
  return 0;
}
