#include "process_control.h"

#include <cstdio>
#include <cstring>

#include "debug_log.h"
#include "module_path.h"
#include "system_error.h"
#include "trace_stack.h"
#include "wait_seam.h"

int32_t g_query_loaded;
QueryFullProcessImageNameFn g_query_image_name;

namespace {

// "Error %d - " and a system text of up to 255 characters with its line end.
constexpr size_t kErrorMessageSize = 320;

void LogSystemError(const char* tag, DWORD code, const char* format) {
  char message[kErrorMessageSize];
  FormatSystemError(message, sizeof message, code, format);
  LogWrite(tag, message);
}

bool PathEndsWith(const char* path, size_t path_length, const char* name) {
  const size_t k = strlen(name);
  return path_length >= k && memcmp(path + path_length - k, name, k) == 0;
}

// `directory` + "\" + `program` into `path`, when that file exists.
bool ProgramIn(const char* directory, const char* program, char* path, size_t size) {
  const size_t n = strlen(directory);
  if (n == 0) return false;
  const char* separator = directory[n - 1] == '\\' ? "" : "\\";
  const int written = snprintf(path, size, "%s%s%s", directory, separator, program);
  return written > 0 && static_cast<size_t>(written) < size && g_system.file_exists(path);
}

}  // namespace

void MP_kernel32_Start() {
  TraceScope trace("MP_kernel32_Start");
  if (g_query_loaded) return;
  g_query_loaded = 1;
  HMODULE kernel = g_system.load_library("Kernel32.dll");  // never freed
  if (!kernel) {
    LogWrite("MP_Load_Start", "LoadLibrary Failed");
    return;
  }
  g_system.set_last_error(ERROR_SUCCESS);
  g_query_image_name =
      FunctionCast<QueryFullProcessImageNameFn>(g_system.get_proc_address(kernel, "QueryFullProcessImageNameA"));
  const DWORD error = g_system.get_last_error();
  if (error != 0) LogSystemError("MP_Load_Start", error, "Error %d - %s");
}

int32_t MP_check_process(const char* name) {
  TraceScope trace("MP_check_process");
  char path[MAX_PATH];
  memset(path, 0, sizeof path);
  DWORD ids[kMaxListedProcesses];
  DWORD bytes = 0;
  if (!g_system.enum_processes(ids, sizeof ids, &bytes)) return -1;
  // Without the image-name query no path can be read: report none running.
  if (!g_query_image_name) return 0;
  DWORD count = bytes / sizeof(DWORD);
  if (count > kMaxListedProcesses) count = kMaxListedProcesses;
  int32_t found = 0;
  for (DWORD i = 0; i < count; ++i) {
    if (ids[i] == 0) continue;
    SystemHandle process(g_system.open_process(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]));
    if (!process) continue;
    DWORD size = MAX_PATH;
    if (g_query_image_name(process.get(), 0, path, &size)) {
      // The last match in the listing wins.
      if (PathEndsWith(path, strnlen(path, sizeof path), name)) found = static_cast<int32_t>(ids[i]);
    } else {
      const DWORD error = g_system.get_last_error();
      if (error != kQuerySkippedError) LogSystemError("check_process failed:", error, "Error %d - %s\n");
    }
  }
  return found;
}

int32_t MP_KillProc(const char* name, uint32_t wait_ms) {
  TraceScope trace("MP_KillProc");
  const int32_t id = MP_check_process(name);
  if (id == 0) return 0;
  return EndProcessById(id, wait_ms);
}

int32_t EndProcessById(int32_t id, uint32_t wait_ms) {
  // Opened for waiting as well, where that is allowed: the wait then ends
  // when the process is gone, not after a fixed time.
  SystemHandle process(g_system.open_process(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(id)));
  const bool waitable = static_cast<bool>(process);
  if (!waitable) process.reset(g_system.open_process(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(id)));
  if (!process) {
    LogWrite("Kill_Process", "failed to open process to kill");
    return 0;
  }
  if (!g_system.terminate_process(process.get(), 0)) {
    LogWrite("Kill_Process", "TerminateProcess failed");
    return 0;
  }
  if (wait_ms > 0) {
    if (waitable) {
      g_system.wait_for_object(process.get(), wait_ms);
    } else {
      VornSleep(wait_ms);
    }
  }
  return 1;
}

int32_t MP_IsWow64() {
  HMODULE kernel = g_system.get_module_handle("kernel32");
  if (!kernel) return 0;
  auto is_wow64 = FunctionCast<IsWow64ProcessFn>(g_system.get_proc_address(kernel, "IsWow64Process"));
  if (!is_wow64) return 0;
  BOOL wow64 = FALSE;
  is_wow64(g_system.get_current_process(), &wow64);
  return wow64;
}

HANDLE MP_StartProc(const char* program, const char* argument, const Deadline& deadline) {
  MP_kernel32_Start();
  MP_KillProc(program, deadline.LeftMs(kKilledWaitMs));
  char current[MAX_PATH] = {};
  const DWORD n = GetCurrentDirectoryA(sizeof current, current);
  if (n == 0 || n >= sizeof current) current[0] = '\0';
  char beside[MAX_PATH];
  ThisModulePath(beside, sizeof beside);
  if (char* last = strrchr(beside, '\\')) *last = '\0';
  // Beside this library first: in an installed chain that is the display
  // host's folder, and a program of that name in some other current
  // directory (one that anybody may write to) is never preferred to it.
  char path[MAX_PATH];
  const char* directory = beside;
  if (!ProgramIn(beside, program, path, sizeof path)) {
    directory = current;
    if (!ProgramIn(current, program, path, sizeof path)) {
      LogWritef("Starting", "%s is neither in %s nor in %s", program, beside, current);
      return nullptr;
    }
  }
  HANDLE process = nullptr;
  // No console, and none of the caller's handles: the display host's open
  // files must not stay open for the host program's whole life.
  const DWORD error = g_system.create_process(path, argument, FALSE, DETACHED_PROCESS, directory, &process);
  if (error != 0) {
    char message[kErrorMessageSize];
    FormatSystemError(message, sizeof message, error, "Error %d - %s");
    LogWritef("Starting", "%s could not be started: %s", path, message);
    return nullptr;
  }
  return process;
}
