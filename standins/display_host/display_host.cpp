// A stand-in for the display host application: loads a display plug-in by
// path and drives it the way the real host does. Entry points are looked up
// by their plain names only and each one is optional; byte arguments take
// one 32-bit slot each, whose upper bytes the real host leaves undefined
// (here they are filled with junk on purpose).
//
// Exit status: 0 after a normal session, 1 when Init failed, 2 when the
// command line was wrong or the plug-in could not be loaded.

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "display_entry_names.h"
#include "display_host_options.h"
#include "display_session_entries.h"
#include "typed_export.h"

namespace {

constexpr uint32_t kSlotJunk = 0xA5C3E100u;  // upper bytes of a byte argument's slot
constexpr uint32_t kWidth = 16;
constexpr uint32_t kHeight = 2;
constexpr unsigned kShutdownPauseMs = 250;

using TextFn = const char*(WINAPI*)();
using ByteFn = void(WINAPI*)(uint32_t value);
using TwoBytesFn = void(WINAPI*)(uint32_t, uint32_t);
using ThreeBytesFn = void(WINAPI*)(uint32_t, uint32_t, uint32_t);
using IndexFn = uint8_t(WINAPI*)(uint32_t index);
using CustomCharFn = void(WINAPI*)(uint32_t character, const uint8_t* data);
using ReadKeyFn = uint16_t(WINAPI*)();

// The codes a screen text uses for custom characters 1 to 8; the host's
// own unless the plug-in's CustomCharIndex gives others.
constexpr uint8_t kCustomCodes[8] = {176, 158, 131, 132, 133, 134, 135, 136};

// Cleared by --zero-extend: byte arguments then come zero-extended, as the
// real 32-bit display host passes them.
uint32_t g_slot_junk = kSlotJunk;

uint32_t ByteSlot(uint32_t value) { return g_slot_junk | (value & 0xFF); }

struct Plugin : DisplaySessionEntries {
  HMODULE module = nullptr;
  IndexFn custom_char_index = nullptr;
  ByteFn set_contrast = nullptr;
  ByteFn set_brightness = nullptr;
  ByteFn set_backlight = nullptr;
  CustomCharFn custom_char = nullptr;
  ReadKeyFn read_key = nullptr;
  TwoBytesFn set_gpo = nullptr;
  TwoBytesFn set_fan = nullptr;
  ThreeBytesFn set_color = nullptr;
  VoidFn power_resume = nullptr;
  uint8_t custom_codes[8] = {176, 158, 131, 132, 133, 134, 135, 136};
};

// Write durations, for the closing report.
std::vector<double> g_write_ms;
LARGE_INTEGER g_frequency;

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(g_frequency.QuadPart);
}

// With CustomCharIndex exported, the host's custom-character codes in a
// text become the plug-in's before the write.
std::string PluginCodes(const Plugin& plugin, std::string text) {
  if (!plugin.custom_char_index) return text;
  for (char& c : text)
    for (int i = 0; i < 8; ++i)
      if (static_cast<uint8_t>(c) == kCustomCodes[i]) {
        c = static_cast<char>(plugin.custom_codes[i]);
        break;
      }
  return text;
}

void WriteLine(const Plugin& plugin, uint32_t line, const std::string& text) {
  if (plugin.set_position) plugin.set_position(ByteSlot(1), ByteSlot(line));
  if (!plugin.write) return;
  const std::string sent = PluginCodes(plugin, text);
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  plugin.write(sent.c_str());
  QueryPerformanceCounter(&end);
  g_write_ms.push_back(Milliseconds(start, end));
}

// The setup dialog's own load of the same file: three text calls, no Init.
std::string SetupDialogLoad(const std::string& path) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module) return "";
  // A null text is shown as null: it is what the plug-in answered.
  const auto shown = [](const char* text) { return text ? text : "null"; };
  std::string defaults;
  if (auto usage = LookupExport<TextFn>(module, "DISPLAYDLL_Usage")) printf("usage: %s\n", shown(usage()));
  if (auto name = LookupExport<TextFn>(module, "DISPLAYDLL_DriverName")) printf("driver: %s\n", shown(name()));
  const char* given = "";
  if (auto parameters = LookupExport<TextFn>(module, "DISPLAYDLL_DefaultParameters")) given = parameters();
  if (given) {
    defaults = given;
    printf("default parameters: '%s'\n", given);
  } else {
    printf("default parameters: null\n");
  }
  FreeLibrary(module);
  return defaults;
}

Plugin LoadPlugin(const std::string& path) {
  Plugin p;
  p.module = LoadLibraryA(path.c_str());
  if (!p.module) return p;
  p.Load(p.module);
  p.custom_char_index = LookupExport<IndexFn>(p.module, "DISPLAYDLL_CustomCharIndex");
  p.set_contrast = LookupExport<ByteFn>(p.module, "DISPLAYDLL_SetContrast");
  p.set_brightness = LookupExport<ByteFn>(p.module, "DISPLAYDLL_SetBrightness");
  p.set_backlight = LookupExport<ByteFn>(p.module, "DISPLAYDLL_SetBacklight");
  p.custom_char = LookupExport<CustomCharFn>(p.module, "DISPLAYDLL_CustomChar");
  p.read_key = LookupExport<ReadKeyFn>(p.module, "DISPLAYDLL_ReadKey");
  p.set_gpo = LookupExport<TwoBytesFn>(p.module, "DISPLAYDLL_SetGPO");
  p.set_fan = LookupExport<TwoBytesFn>(p.module, "DISPLAYDLL_SetFan");
  p.set_color = LookupExport<ThreeBytesFn>(p.module, "DISPLAYDLL_SetColor");
  p.power_resume = LookupExport<Plugin::VoidFn>(p.module, "DISPLAYDLL_PowerResume");
  // Which of the names the host looks up this plug-in gives it.
  printf("entry points:");
  for (const char* name : kDisplayEntryNames)
    if (GetProcAddress(p.module, name)) printf(" %s", name + strlen("DISPLAYDLL_"));
  printf("\n");
  return p;
}

// Every call that has no place in a plain session, each with its
// arguments and what came back: custom characters, keys, outputs, colour,
// backlight and power resume.
void ExerciseEveryCall(const Plugin& plugin) {
  if (plugin.custom_char) {
    for (uint32_t c = 0; c < 3; ++c) {
      uint8_t data[8];
      for (uint32_t row = 0; row < 8; ++row) data[row] = static_cast<uint8_t>((c * 8 + row) * 7 + 1);
      plugin.custom_char(ByteSlot(c + 1), data);
    }
  }
  if (plugin.read_key) {
    for (int i = 0; i < 4; ++i) printf("ReadKey: %04x\n", plugin.read_key());
  }
  if (plugin.set_gpo) {
    plugin.set_gpo(ByteSlot(1), ByteSlot(1));
    plugin.set_gpo(ByteSlot(2), ByteSlot(0));
  }
  if (plugin.set_fan) plugin.set_fan(ByteSlot(10), ByteSlot(200));
  if (plugin.set_color) plugin.set_color(ByteSlot(0x12), ByteSlot(0x34), ByteSlot(0x56));
  if (plugin.set_backlight) plugin.set_backlight(ByteSlot(1));
  if (plugin.power_resume) plugin.power_resume();
  // Two positions in a row, then a line with the host's custom-character codes.
  if (plugin.set_position) plugin.set_position(ByteSlot(5), ByteSlot(2));
  std::string custom = "custom:";
  for (uint8_t code : kCustomCodes) custom += static_cast<char>(code);
  WriteLine(plugin, 1, custom);
}

// Refresh ticks: only lines whose text changed are sent again.
void ShowScreens(const Plugin& plugin, const DisplayHostOptions& options) {
  std::string shown[kHeight];
  bool sent[kHeight] = {};
  unsigned tick = 0;
  for (const std::string& screen : options.screens) {
    const DWORD start = GetTickCount();
    do {
      for (uint32_t line = 0; line < kHeight; ++line) {
        const std::string text = ScreenLine(screen, static_cast<int>(line), tick, kWidth);
        if (sent[line] && text == shown[line]) continue;
        WriteLine(plugin, line + 1, text);
        shown[line] = text;
        sent[line] = true;
      }
      ++tick;
      Sleep(options.interval_ms);
    } while (GetTickCount() - start < options.screen_ms);
  }
}

void ShutDown(const Plugin& plugin, const DisplayHostOptions& options) {
  for (uint32_t line = 0; line < kHeight; ++line) {
    WriteLine(plugin, line + 1, ScreenLine(options.shutdown, static_cast<int>(line), 0, kWidth));
    Sleep(kShutdownPauseMs);
  }
  if (plugin.set_backlight) plugin.set_backlight(ByteSlot(0));
}

void ReportWrites() {
  if (g_write_ms.empty()) return;
  std::vector<double> sorted = g_write_ms;
  std::sort(sorted.begin(), sorted.end());
  printf("writes: %u, median %.2f ms, max %.2f ms\n", static_cast<unsigned>(sorted.size()), sorted[sorted.size() / 2],
         sorted.back());
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  QueryPerformanceFrequency(&g_frequency);
  DisplayHostOptions options;
  if (!ParseOptions(argc, argv, &options)) {
    PrintUsage();
    return 2;
  }
  if (options.zero_extend) g_slot_junk = 0;
  const std::string defaults = SetupDialogLoad(options.plugin_path);
  if (options.setup_only) {
    Sleep(options.hold_ms);
    printf("Done\n");
    return 0;
  }
  const std::string parameters = options.parameters_given ? options.parameters : defaults;

  Plugin plugin = LoadPlugin(options.plugin_path);
  if (!plugin.module) {
    fprintf(stderr, "display_host: cannot load %s (error %lu)\n", options.plugin_path.c_str(), GetLastError());
    return 2;
  }
  uint8_t ok = 0;
  const char* answer = plugin.init ? plugin.init(ByteSlot(kWidth), ByteSlot(kHeight), parameters.c_str(), &ok) : "";
  int status = 0;
  if (ok != 1) {
    printf("Init failed: %s\n", answer ? answer : "null");
    status = 1;
  } else {
    printf("Init: %s\n", answer ? answer : "null");
    if (plugin.custom_char_index) {
      printf("CustomCharIndex:");
      for (uint32_t i = 1; i <= 8; ++i) {
        plugin.custom_codes[i - 1] = plugin.custom_char_index(ByteSlot(i));
        printf(" %u", plugin.custom_codes[i - 1]);
      }
      printf("\n");
    }
    if (plugin.set_contrast) plugin.set_contrast(ByteSlot(128));
    if (plugin.set_brightness) plugin.set_brightness(ByteSlot(128));
    Sleep(options.hold_ms);
    if (options.exercise) ExerciseEveryCall(plugin);
    ShowScreens(plugin, options);
    SetupDialogLoad(options.plugin_path);  // opened while the plug-in is the active display
    ShutDown(plugin, options);
    ReportWrites();
  }
  if (plugin.done) plugin.done();  // also after a failed Init
  FreeLibrary(plugin.module);
  printf("Done\n");
  Sleep(options.linger_ms);
  return status;
}
