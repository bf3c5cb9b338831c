// QX20481.dll: nothing is set up before the display host's first Init.
// Freed by FreeLibrary (the display host's setup dialog loads and frees
// plug-ins), it closes its log; Done has freed the layer, and with it the
// proxy. At the end of the process (`reserved` not null) the system takes
// everything back anyway.
#include <windows.h>

#include "library_log.h"
#include "wait_seam.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    LogClose();
    CloseWaitTimer();
  }
  return TRUE;
}
