#pragma once
// Once per process: open the channel and make sure the host program runs.
// And the small process-control operations it is made of.

#include <cstdint>

#include "system_calls.h"

constexpr char kHostProgram64[] = "Vorn64BitInterface.exe";
constexpr char kHostProgram32[] = "Vorn32BitInterface.exe";
constexpr char kHostArgument[] = " ";
constexpr uint32_t kLauncherWaitMs = 1000;
constexpr int kMaxListedProcesses = 1024;  // 4096 bytes of process ids
constexpr DWORD kQuerySkippedError = ERROR_GEN_FAILURE;  // 31

// Set before any other step, so neither runs twice in a process, whatever
// their outcome.
extern int32_t g_host_started;
extern int32_t g_query_loaded;
// Null until resolved, and for good when the lookup failed.
extern QueryFullProcessImageNameFn g_query_image_name;

void StartHostOnce();
int32_t MP_IsWow64();
void MP_kernel32_Start();
// Id of the last listed process whose image path ends in `name` (byte for
// byte), 0 when none does, -1 when the processes could not be listed.
int32_t MP_check_process(const char* name);
// 1 when a process of that name was terminated, else 0.
int32_t MP_KillProc(const char* name);
// Ends a running instance (and waits for it to go), then starts the
// program detached with its one argument; _spawnl's result.
int32_t MP_StartProc(const char* program, const char* argument);
