// QX20481.dll: nothing is set up before the display host's first Init.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
