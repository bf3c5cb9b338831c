#include "host_launcher.h"

#include "channel.h"
#include "debug_log.h"
#include "sleep_seam.h"

int32_t g_host_started;

void StartHostOnce() {
  if (g_host_started) return;
  g_host_started = 1;
  CommsStart(kChannelSlot, 1, kSectionName, kSectionSize);
  MP_kernel32_Start();
  const char* program = MP_IsWow64() ? kHostProgram64 : kHostProgram32;
  // A process id, or -1 when the list could not be read, counts as running.
  if (MP_check_process(program) == 0) {
    LogWrite("Starting", program);
    MP_StartProc(program, kHostArgument);
  }
  VornSleep(kLauncherWaitMs);
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

int32_t MP_StartProc(const char* program, const char* argument) {
  MP_kernel32_Start();
  if (MP_KillProc(program) == 1) VornSleep(kLauncherWaitMs);
  return static_cast<int32_t>(g_system.spawn_detached(program, argument));
}
