// VornApx.dll: the exports come from the proxy core (see VornApx.def).
// Nothing is set up at load; the first export call does it. Unloaded by
// FreeLibrary (the layer, or the display host that freed the plug-in),
// the library gives back everything it opened: the display host may load
// and free it again and again (its setup dialog does). At the end of the
// process (`reserved` not null) the system takes it all back anyway.
#include <windows.h>

#include "caller_turn.h"
#include "channel.h"
#include "host_launcher.h"
#include "library_log.h"
#include "wait_seam.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    CloseCallerTurn();
    CloseLauncher();
    CommsStop(kRequestSlot);
    CloseWaitTimer();
    LogClose();
  }
  return TRUE;
}
