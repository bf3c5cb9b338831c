// VornApx.dll: the exports come from the proxy core (see VornApx.def).
// Nothing is set up at load; the first export call does it.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
