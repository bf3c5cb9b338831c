// QX20481Bridge32.exe: the 32-bit side of a bridge DLL (64-bit or
// isolating). Started by it as
//   QX20481Bridge32.exe <display host pid> <section name> <Name> <32-bit plug-in>
// from beside the display host's program, so that the folder of this
// process's program is the display host's (where a plug-in looks for files
// beside "its" program), and in the display host's current directory. It
// loads the 32-bit plug-in by the path given, signals "<section>.Ready",
// and makes each call the bridge forwards, with the display host's
// arguments. It ends when told to (the bridge is freed) or when the display
// host process has ended, however it ended.
//   QX20481Bridge32.exe --probe <32-bit plug-in>
// loads the plug-in as a session would and frees it again, for the check
// tool: exit status 0 when it loads, else the loader's error code.
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
#include "crash_exit.h"
#include "debug_log.h"
#include "plugin32_calls.h"
#include "unique_handle.h"

extern const char kBridgeLogName[] = "QX20481Bridge32";

namespace {

// Between requests the helper looks at the section this often even without
// a signal, so a lost signal costs at most this long.
constexpr DWORD kIdleWaitMs = 100;

struct HelperState {
  Plugin32Calls plugin;
};
HelperState g;

// What the plug-in loads by name is looked for as the 32-bit display host
// would look for it: this program's folder (the display host's), then the
// plug-in's own folder, the system folders, the current directory and the
// search path. The dll directory that adds the plug-in's folder takes the
// current directory out of the loader's order, so that goes at the front
// of the search path.
void SetLibrarySearch(const std::string& plugin_path) {
  const size_t slash = plugin_path.find_last_of('\\');
  if (slash == std::string::npos || slash == 0) return;
  SetDllDirectoryA(plugin_path.substr(0, slash).c_str());
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

// The 32-bit plug-in by its full path: one of that name in the current
// directory or on the search path is never taken for it. 0, or the
// loader's error.
DWORD LoadPlugin32(const std::string& path, HMODULE* module) {
  SetLibrarySearch(path);
  *module = LoadLibraryA(path.c_str());
  if (*module) {
    g.plugin.Load(*module);
    return 0;
  }
  const DWORD error = GetLastError();
  const bool exists = GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  LogWritef("Helper", "could not load %s, error %lu", path.c_str(), error);
  g.plugin.SetLoadProblem(path.c_str(), error, exists);
  return error ? error : ERROR_DLL_INIT_FAILED;
}

// The bridge waits for this before it sends anything: the plug-in is loaded
// (or could not be), and calls are served.
void SignalReady() {
  char name[MAX_PATH];
  if (!CommsObjectName(kBridgeSlot, kHelperReadySuffix, name, sizeof name)) return;
  ScopedHandle ready(OpenEventA(EVENT_MODIFY_STATE, FALSE, name));
  if (ready) SetEvent(ready.get());
}

}  // namespace

int main(int argc, char** argv) {
  // A fault inside a plug-in call is taken around that call
  // (plugin32_calls.cpp); one that cannot be (a stack overflow, the
  // plug-in's own thread) ends this process at once.
  EndAtOnceOnCrash();
  HMODULE module = nullptr;
  if (argc == 3 && strcmp(argv[1], "--probe") == 0) {
    const DWORD error = LoadPlugin32(argv[2], &module);
    if (module) FreeLibrary(module);
    return static_cast<int>(error);
  }
  if (argc != 5 || !IsBridgeName(argv[3])) return 2;
  const std::string name = argv[3];
  BridgeLogSetName(HelperLogName(name).c_str());
  const DWORD parent_pid = strtoul(argv[1], nullptr, 10);
  ScopedHandle parent(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent_pid));
  if (!parent) parent.reset(OpenProcess(SYNCHRONIZE, FALSE, parent_pid));
  if (!parent) return 2;
  if (!BridgeOpen(argv[2])) return 2;
  LoadPlugin32(argv[4], &module);
  SignalReady();

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
