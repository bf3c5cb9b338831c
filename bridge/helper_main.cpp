// QX20481Bridge32.exe: the 32-bit side of a 64-bit bridge DLL. Started by
// it as "QX20481Bridge32.exe <display host pid> <section name> <Name>", in
// the display host's current directory, it loads the 32-bit <Name>.dll that
// lies beside it and makes each call the bridge forwards, with the display
// host's arguments. It ends when told to (the bridge is freed) or when the
// display host process has ended, however it ended.
//
// Exit status: 0 after either end, 2 when the command line was wrong, the
// display host was already gone or the section could not be opened.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bridge_channel.h"
#include "bridge_log.h"
#include "bridge_names.h"
#include "channel.h"
#include "debug_log.h"
#include "module_path.h"
#include "plugin32_calls.h"
#include "unique_handle.h"

extern const char kBridgeLogName[] = "QX20481Bridge32";

namespace {

// Between requests the helper looks at the section this often even without
// a signal, so a lost signal costs at most this long.
constexpr DWORD kIdleWaitMs = 100;

struct HelperState {
  Plugin32Calls plugin;
  char path[MAX_PATH] = {};
};
HelperState g;

// The folder of the display host's program: where the 32-bit display host
// would have been, and so where the plug-in's libraries are looked for
// after its own folder. The display host's current directory stands in
// when the program's path cannot be read.
std::string DisplayHostFolder(HANDLE display_host) {
  char path[MAX_PATH];
  DWORD size = sizeof path;
  if (!QueryFullProcessImageNameA(display_host, 0, path, &size)) {
    const DWORD n = GetCurrentDirectoryA(sizeof path, path);
    return n > 0 && n < sizeof path ? path : "";
  }
  if (char* slash = strrchr(path, '\\')) *slash = '\0';
  return path;
}

// What the plug-in loads by name is looked for as the 32-bit display host
// would look for it, with the plug-in's own folder first: this program's
// folder (which holds the plug-in), the display host's folder, the system
// folders, then the current directory and the search path. The dll
// directory takes the current directory out of the loader's order, so it
// goes at the front of the search path.
void SetLibrarySearch(const std::string& host_folder) {
  if (host_folder.empty()) return;
  SetDllDirectoryA(host_folder.c_str());
  char current[MAX_PATH];
  const DWORD n = GetCurrentDirectoryA(sizeof current, current);
  if (n == 0 || n >= sizeof current) return;
  std::string path = current;
  const DWORD length = GetEnvironmentVariableA("PATH", nullptr, 0);
  if (length > 0) {
    std::string rest(length, '\0');
    const DWORD got = GetEnvironmentVariableA("PATH", &rest[0], length);
    rest.resize(got < length ? got : 0);
    if (!rest.empty()) path += ";" + rest;
  }
  SetEnvironmentVariableA("PATH", path.c_str());
}

// The 32-bit plug-in beside this program, by its full path: one in the
// current directory or on the search path is never taken for it.
void LoadPlugin32(const std::string& name, const std::string& host_folder) {
  char own[MAX_PATH];
  if (ThisModulePath(own, sizeof own) == 0) return;
  char* slash = strrchr(own, '\\');
  if (!slash) return;
  slash[1] = '\0';
  snprintf(g.path, sizeof g.path, "%s%s", own, Plugin32FileName(name).c_str());
  SetLibrarySearch(host_folder);
  const HMODULE module = LoadLibraryA(g.path);
  if (!module) {
    LogWritef("Helper", "could not load %s, error %lu", g.path, GetLastError());
    return;
  }
  g.plugin.Load(module);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || !IsBridgeName(argv[3])) return 2;
  const std::string name = argv[3];
  BridgeLogSetName(HelperLogName(name).c_str());
  const DWORD parent_pid = strtoul(argv[1], nullptr, 10);
  ScopedHandle parent(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent_pid));
  if (!parent) parent.reset(OpenProcess(SYNCHRONIZE, FALSE, parent_pid));
  if (!parent) return 2;
  if (!BridgeOpen(argv[2])) return 2;
  LoadPlugin32(name, DisplayHostFolder(parent.get()));
  g.plugin.SetMissingText(g.path[0] ? g.path : Plugin32FileName(name).c_str());

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
      running = g.plugin.Serve(record);
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
