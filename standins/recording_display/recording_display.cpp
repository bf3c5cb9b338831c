// RecordingDisplay.dll: a display plug-in that drives no display. Each call
// it gets is appended as one line to "<its file name>.calls" in the current
// directory: the call, every argument slot as it came (in hex), and what it
// returned. Texts are written with their bytes outside 0x20..0x7e as \xNN.
//
// It exports only some of the display host's entry points (no SetContrast,
// SetBrightness, SetFan, PowerResume or DefaultParameters); its build
// RecordingDisplayAll.dll exports all of them, and answers DefaultParameters
// with a null pointer. A copy with a file "<its name>.fail-start" beside it
// fails its own start-up, so that it cannot be loaded. Cue files beside it
// make each Write misbehave after it is recorded, for as long as they lie
// there: "<name>.fault" reads through a null pointer (an access violation
// the plug-in does not handle), "<name>.crash" does so in a thread of its
// own and waits for it (a fault that no handler around the call can take),
// "<name>.block" waits until the file is gone (a device that stops taking
// bytes). Its answers:
// Init fails when the parameters hold "fail"; "load=<name>" makes Init load
// that library by name and "open=<file>" open that file, and record where
// each was found. CustomCharIndex(i) is i + 16 for 1..8, else 0; ReadKey
// gives 0x41, 0x42, no key (0xFF00), 0x43, 0x44, then no key for good. A
// display host acts on keys (LCD Smartie's default actions toggle a GPO at
// 'J', change the screen at 'L'): a few keys, and then none, make what it
// does the same however often a run happens to poll.
//
// Init also records the first line of three settings files, found the ways
// plug-ins look for theirs: "<name>.program.ini" beside the program of the
// process, "<name>.current.ini" in the current directory, and "<name>.ini"
// beside the plug-in's own file.

#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "module_path.h"

namespace {

constexpr unsigned kKeys = 5;  // polls that may give a key

struct Recorder {
  std::string calls_path;  // "<own file name>.calls"
  std::string name;        // own file name without ".dll"
  std::string cue_stem;    // own path without ".dll", for the cue files
  unsigned key_calls = 0;
  char init_text[512];
  char usage[256];
  char driver_name[256];
};
Recorder g;

std::string Quoted(const char* text) {
  if (!text) return "null";
  std::string out = "\"";
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    char part[8];
    if (*p < 0x20 || *p > 0x7e || *p == '"' || *p == '\\')
      snprintf(part, sizeof part, "\\x%02x", *p);
    else
      snprintf(part, sizeof part, "%c", *p);
    out += part;
  }
  return out + "\"";
}

void Record(const char* format, ...) {
  FILE* file = fopen(g.calls_path.c_str(), "a");
  if (!file) return;
  va_list args;
  va_start(args, format);
  vfprintf(file, format, args);
  va_end(args);
  fputc('\n', file);
  fclose(file);
}

// The value after "<key>=" in the parameters, up to a blank.
std::string Parameter(const std::string& parameters, const char* key) {
  const std::string tag = std::string(key) + "=";
  const size_t at = parameters.find(tag);
  if (at == std::string::npos) return "";
  const size_t end = parameters.find(' ', at);
  return parameters.substr(at + tag.size(), end == std::string::npos ? std::string::npos : end - at - tag.size());
}

void LoadByName(const std::string& library) {
  HMODULE module = LoadLibraryA(library.c_str());
  char path[MAX_PATH] = "not found";
  if (module) GetModuleFileNameA(module, path, sizeof path);
  Record("  load %s: %s", library.c_str(), path);
}

// The first line of a file, or "not found".
std::string FirstLine(const std::string& path) {
  FILE* file = fopen(path.c_str(), "r");
  char line[128] = "not found";
  if (file) {
    if (!fgets(line, sizeof line, file)) line[0] = '\0';
    line[strcspn(line, "\r\n")] = '\0';
    fclose(file);
  }
  return line;
}

void OpenByName(const std::string& file_name) {
  Record("  open %s: %s", file_name.c_str(), FirstLine(file_name).c_str());
}

// The folder of a module's file (null: the process's program), with the backslash.
std::string FolderOf(HMODULE module) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(module, path, sizeof path);
  std::string folder = path;
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

void RecordSettings() {
  Record("  setting beside the program: %s", FirstLine(FolderOf(nullptr) + g.name + ".program.ini").c_str());
  Record("  setting in the current directory: %s", FirstLine(g.name + ".current.ini").c_str());
  char own[MAX_PATH];
  ThisModulePath(own, sizeof own);
  std::string beside = own;
  beside = beside.substr(0, beside.size() > 4 ? beside.size() - 4 : 0) + ".ini";
  Record("  setting beside the plug-in: %s", FirstLine(beside).c_str());
}

}  // namespace

extern "C" {

__declspec(dllexport) const char* WINAPI
    DISPLAYDLL_Init(uint32_t size_x, uint32_t size_y, const char* parameters, uint8_t* ok) {
  const std::string text = parameters ? parameters : "";
  const bool fail = text.find("fail") != std::string::npos;
  snprintf(g.init_text, sizeof g.init_text, fail ? "%s told to fail" : "%s ready", g.name.c_str());
  *ok = fail ? 0 : 1;
  Record("Init %08x %08x %s -> ok=%u %s", size_x, size_y, Quoted(parameters).c_str(), *ok, Quoted(g.init_text).c_str());
  RecordSettings();
  const std::string library = Parameter(text, "load");
  if (!library.empty()) LoadByName(library);
  const std::string file_name = Parameter(text, "open");
  if (!file_name.empty()) OpenByName(file_name);
  return g.init_text;
}

__declspec(dllexport) void WINAPI DISPLAYDLL_Done() { Record("Done"); }

__declspec(dllexport) void WINAPI DISPLAYDLL_SetPosition(uint32_t x, uint32_t y) {
  Record("SetPosition %08x %08x", x, y);
}

namespace {

bool Cued(const char* kind) { return GetFileAttributesA((g.cue_stem + kind).c_str()) != INVALID_FILE_ATTRIBUTES; }

DWORD WINAPI FaultOnItsOwnThread(void*) {
  volatile int* volatile handle = nullptr;
  return static_cast<DWORD>(*handle);
}

void Misbehave() {
  if (Cued(".fault")) {
    volatile int* volatile handle = nullptr;
    Record("  read through a null pointer: %d", *handle);
  }
  if (Cued(".crash")) {
    HANDLE thread = CreateThread(nullptr, 0, FaultOnItsOwnThread, nullptr, 0, nullptr);
    if (thread) WaitForSingleObject(thread, INFINITE);
  }
  while (Cued(".block")) Sleep(10);
}

}  // namespace

__declspec(dllexport) void WINAPI DISPLAYDLL_Write(const char* text) {
  Record("Write %s", Quoted(text).c_str());
  Misbehave();
}

__declspec(dllexport) void WINAPI DISPLAYDLL_CustomChar(uint32_t character, const uint8_t* data) {
  Record("CustomChar %08x %02x %02x %02x %02x %02x %02x %02x %02x", character, data[0], data[1], data[2], data[3],
         data[4], data[5], data[6], data[7]);
}

__declspec(dllexport) uint8_t WINAPI DISPLAYDLL_CustomCharIndex(uint32_t index) {
  const uint32_t i = index & 0xFF;
  const uint8_t code = i >= 1 && i <= 8 ? static_cast<uint8_t>(i + 16) : 0;
  Record("CustomCharIndex %08x -> %u", index, code);
  return code;
}

__declspec(dllexport) uint16_t WINAPI DISPLAYDLL_ReadKey() {
  const unsigned n = g.key_calls++;
  const uint16_t key = n >= kKeys || n % 3 == 2 ? 0xFF00 : static_cast<uint16_t>(0x41 + n - n / 3);
  Record("ReadKey -> %04x", key);
  return key;
}

__declspec(dllexport) void WINAPI DISPLAYDLL_SetBacklight(uint32_t on) { Record("SetBacklight %08x", on); }

__declspec(dllexport) void WINAPI DISPLAYDLL_SetGPO(uint32_t gpo, uint32_t on) { Record("SetGPO %08x %08x", gpo, on); }

__declspec(dllexport) void WINAPI DISPLAYDLL_SetColor(uint32_t red, uint32_t green, uint32_t blue) {
  Record("SetColor %08x %08x %08x", red, green, blue);
}

__declspec(dllexport) const char* WINAPI DISPLAYDLL_Usage() {
  snprintf(g.usage, sizeof g.usage, "%s: records every call in %s", g.name.c_str(), g.calls_path.c_str());
  Record("Usage -> %s", Quoted(g.usage).c_str());
  return g.usage;
}

__declspec(dllexport) const char* WINAPI DISPLAYDLL_DriverName() {
  snprintf(g.driver_name, sizeof g.driver_name, "%s 1.0 (recording stand-in)", g.name.c_str());
  Record("DriverName -> %s", Quoted(g.driver_name).c_str());
  return g.driver_name;
}

#ifdef RECORD_EVERY_ENTRY
__declspec(dllexport) void WINAPI DISPLAYDLL_SetContrast(uint32_t level) { Record("SetContrast %08x", level); }

__declspec(dllexport) void WINAPI DISPLAYDLL_SetBrightness(uint32_t level) { Record("SetBrightness %08x", level); }

__declspec(dllexport) void WINAPI DISPLAYDLL_SetFan(uint32_t t1, uint32_t t2) { Record("SetFan %08x %08x", t1, t2); }

__declspec(dllexport) void WINAPI DISPLAYDLL_PowerResume() { Record("PowerResume"); }

__declspec(dllexport) const char* WINAPI DISPLAYDLL_DefaultParameters() {
  Record("DefaultParameters -> null");
  return nullptr;
}
#endif

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    char own[MAX_PATH];
    ThisModulePath(own, sizeof own);
    const char* file = strrchr(own, '\\') ? strrchr(own, '\\') + 1 : own;
    g.name = file;
    if (g.name.size() > 4) g.name.resize(g.name.size() - 4);
    g.calls_path = g.name + ".calls";
    g.cue_stem = own;
    g.cue_stem.resize(g.cue_stem.size() > 4 ? g.cue_stem.size() - 4 : 0);
    if (Cued(".fail-start")) return FALSE;
  }
  return TRUE;
}

}  // extern "C"
