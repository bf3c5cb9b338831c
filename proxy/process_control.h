#pragma once
// The proxy's small process-control operations: which Windows it runs on,
// the image-name query resolved at run time, finding and ending a process
// by the tail of its image path, and starting the host program. Their
// names (MP_...) are the system's own: they appear in its log lines.

#include <cstdint>

#include "system_calls.h"
#include "wait_seam.h"

constexpr int kMaxListedProcesses = 1024;                // 4096 bytes of process ids
constexpr DWORD kQuerySkippedError = ERROR_GEN_FAILURE;  // 31
constexpr uint32_t kKilledWaitMs = 1000;                 // for an ended instance to go

// Set before the library is loaded, so that loading is tried once a process.
extern int32_t g_query_loaded;
// Null until resolved, and for good when the lookup failed.
extern QueryFullProcessImageNameFn g_query_image_name;

// Non-zero when the process runs under WOW64, that is on 64-bit Windows.
int32_t MP_IsWow64();
void MP_kernel32_Start();
// Id of the last listed process whose image path ends in `name` (byte for
// byte), 0 when none does, -1 when the processes could not be listed.
int32_t MP_check_process(const char* name);
// 1 when a process of that name was terminated, else 0. Then waits at most
// `wait_ms` for it to be gone: on its process where that can be had, else
// the whole wait.
int32_t MP_KillProc(const char* name, uint32_t wait_ms = 0);
// Terminates the process with that id as MP_KillProc does: 1 when it was
// terminated, else 0 (logged); and waits for it as MP_KillProc does.
int32_t EndProcessById(int32_t id, uint32_t wait_ms = 0);
// Ends a running instance (and waits for it to go, at most kKilledWaitMs),
// then starts the
// program detached, inheriting none of the caller's handles, with
// `argument` as its whole command line: from the folder of this library,
// or else from the current directory, with that folder as its working
// directory. The new process, or null (logged) when it cannot be started.
// The wait for an ended instance to go is cut short at `deadline`.
HANDLE MP_StartProc(const char* program, const char* argument, const Deadline& deadline = Deadline::In(kKilledWaitMs));
