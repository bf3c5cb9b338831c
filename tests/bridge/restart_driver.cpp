// A 64-bit display host for the chain test of a helper that ends during a
// session:
//   restart_driver <bridge DLL>
// Init(16, 2, "p=1"), a custom character, every setting once, a line
// written; then, for each entry point with arguments, the helper is ended
// and that call made, so that it is the call that finds the helper gone;
// then the helper is ended once more and a new session begun with
// Init(20, 4, "again"), and Done. Byte arguments carry junk in their upper
// bytes, as the 64-bit display host passes them. Prints what
// CustomCharIndex returned. Exit status 0, or 1 when a step failed.
#include <windows.h>
// tlhelp32.h needs windows.h before it.
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "display_session_entries.h"
#include "typed_export.h"

namespace {

uint32_t Slot(uint32_t value) { return 0x5A3C0000u | (value & 0xFF); }

// Ends this process's helper and waits until it has gone.
bool EndHelper() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  int ended = 0;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (entry.th32ParentProcessID != GetCurrentProcessId() || _stricmp(entry.szExeFile, "QX20481Bridge32.exe") != 0)
      continue;
    HANDLE helper = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
    if (helper && TerminateProcess(helper, 1) && WaitForSingleObject(helper, 10000) == WAIT_OBJECT_0) ++ended;
    if (helper) CloseHandle(helper);
  }
  CloseHandle(snapshot);
  return ended == 1;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc != 2) return 1;
  HMODULE module = LoadLibraryA(argv[1]);
  DisplaySessionEntries plugin;
  if (!module || !plugin.Load(module)) return 1;
  using ByteFn = void(WINAPI*)(uint32_t);
  using TwoFn = void(WINAPI*)(uint32_t, uint32_t);
  using ThreeFn = void(WINAPI*)(uint32_t, uint32_t, uint32_t);
  using CustomCharFn = void(WINAPI*)(uint32_t, const uint8_t*);
  using IndexFn = uint8_t(WINAPI*)(uint32_t);
  const auto custom_char = LookupExport<CustomCharFn>(module, "DISPLAYDLL_CustomChar");
  const auto custom_char_index = LookupExport<IndexFn>(module, "DISPLAYDLL_CustomCharIndex");
  const auto backlight = LookupExport<ByteFn>(module, "DISPLAYDLL_SetBacklight");
  const auto contrast = LookupExport<ByteFn>(module, "DISPLAYDLL_SetContrast");
  const auto brightness = LookupExport<ByteFn>(module, "DISPLAYDLL_SetBrightness");
  const auto gpo = LookupExport<TwoFn>(module, "DISPLAYDLL_SetGPO");
  const auto fan = LookupExport<TwoFn>(module, "DISPLAYDLL_SetFan");
  const auto color = LookupExport<ThreeFn>(module, "DISPLAYDLL_SetColor");
  if (!custom_char || !custom_char_index || !backlight || !contrast || !brightness || !gpo || !fan || !color) return 1;

  uint8_t ok = 0;
  plugin.init(Slot(16), Slot(2), "p=1", &ok);
  if (ok != 1) return 1;
  const uint8_t three[8] = {1, 2, 3, 4, 5, 6, 7, 8}, four[8] = {9, 10, 11, 12, 13, 14, 15, 16};
  custom_char(Slot(3), three);
  contrast(Slot(7));
  brightness(Slot(9));
  backlight(Slot(1));
  gpo(Slot(1), Slot(1));
  gpo(Slot(2), Slot(1));
  fan(Slot(10), Slot(20));
  color(Slot(1), Slot(2), Slot(3));
  plugin.set_position(Slot(1), Slot(1));
  plugin.write("first line");

  bool ended = EndHelper();
  plugin.set_position(Slot(5), Slot(2));
  plugin.write("p");
  ended = ended && EndHelper();
  plugin.write("w");
  ended = ended && EndHelper();
  custom_char(Slot(4), four);
  ended = ended && EndHelper();
  printf("CustomCharIndex(6): %u\n", custom_char_index(Slot(6)));
  ended = ended && EndHelper();
  backlight(Slot(0));
  ended = ended && EndHelper();
  contrast(Slot(33));
  ended = ended && EndHelper();
  brightness(Slot(44));
  ended = ended && EndHelper();
  gpo(Slot(1), Slot(0));
  ended = ended && EndHelper();
  fan(Slot(55), Slot(66));
  ended = ended && EndHelper();
  color(Slot(0x12), Slot(0x34), Slot(0x56));
  ended = ended && EndHelper();
  plugin.init(Slot(20), Slot(4), "again", &ok);
  plugin.done();
  FreeLibrary(module);
  if (!ended) printf("a helper could not be ended\n");
  return ended && ok == 1 ? 0 : 1;
}
