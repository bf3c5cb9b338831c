#pragma once
// The system calls of the launcher and of process control, reached through
// one table so that tests can stand in for the system: the process list,
// image paths, failures to open or terminate, and the detached start.
// The table holds the real calls unless a test replaces entries.

#include <windows.h>

#include <cstdint>

#include "typed_export.h"
#include "unique_handle.h"

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE process, PBOOL wow64);
using QueryFullProcessImageNameFn = BOOL(WINAPI*)(HANDLE process, DWORD flags, LPSTR path, PDWORD size);

// CreateProcessA of `path` with `command_line` as its whole command line, in
// `directory`; the thread handle is closed, the process handle kept in
// *process. 0, or the system error of the failed start.
using CreateProcessFn = DWORD (*)(const char* path, const char* command_line, BOOL inherit_handles, DWORD flags,
                                  const char* directory, HANDLE* process);

struct SystemCalls {
  HMODULE (*get_module_handle)(const char* name);
  FARPROC (*get_proc_address)(HMODULE module, const char* name);
  HMODULE (*load_library)(const char* name);
  HANDLE (*get_current_process)();
  DWORD (*get_last_error)();
  void (*set_last_error)(DWORD code);
  BOOL (*enum_processes)(DWORD* ids, DWORD bytes, DWORD* bytes_returned);
  HANDLE (*open_process)(DWORD access, BOOL inherit, DWORD process_id);
  BOOL (*terminate_process)(HANDLE process, UINT exit_code);
  BOOL (*close_handle)(HANDLE handle);
  DWORD (*wait_for_object)(HANDLE handle, DWORD milliseconds);
  // Waits at most `milliseconds` for an event or a process, either of which
  // may be null, as VornWaitEither does: WAIT_OBJECT_0 when one of them
  // ended the wait, else WAIT_TIMEOUT.
  DWORD (*wait_for_either)(HANDLE event, HANDLE process, DWORD milliseconds);
  DWORD (*tick_count)();
  bool (*file_exists)(const char* path);
  CreateProcessFn create_process;
  DWORD (*process_id)(HANDLE process);
};

extern SystemCalls g_system;
extern const SystemCalls kRealSystemCalls;

// A handle that these calls gave out, closed through them.
struct CloseWithSystemCalls {
  void operator()(HANDLE handle) const { g_system.close_handle(handle); }
};
using SystemHandle = UniqueHandle<CloseWithSystemCalls>;
