#include "plugin_fixture.h"

#include <cstdio>

#include "library_log.h"
#include "log_lines.h"

namespace pt {

bool PlaceAsLayer(const char* file) {
  return CopyFileA((vt::ProgramDirectory() + file).c_str(), "MediaPadLayer.dll", FALSE) != 0;
}

bool PlaceLayer(const char* variant) { return PlaceAsLayer((std::string("layers\\") + variant + ".dll").c_str()); }

void SetVariable(const char* name, const char* value) { SetEnvironmentVariableA(name, value); }

std::vector<std::string> LayerCalls() { return vt::FileLines("layer_calls.txt"); }

std::string LogPath() { return std::string("logs\\") + ModuleName() + ".log"; }

std::vector<std::string> LogLines() { return vt::LibraryLogLines(LogPath()); }

std::vector<std::string> LogFrame(const char* middle_tag) {
  const std::string rule(35, '=');
  return {rule + " " + rule, std::string(middle_tag) + " " + ModuleName(), rule + " " + rule};
}

std::string RecordedUid(unsigned long long value) {
  char text[17];
  for (int i = 0; i < 8; ++i) snprintf(text + 2 * i, 3, "%02x", static_cast<unsigned>((value >> (8 * i)) & 0xff));
  return text;
}

std::vector<std::string> LoadLines(bool with_optional) {
  // Only the addresses come from the loaded layer; the lines are as written.
  HMODULE layer = GetModuleHandleA("MediaPadLayer.dll");
  auto hex = [](uintptr_t address) {
    char text[16];
    snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(address));
    return std::string(text);
  };
  auto at = [&](const char* name) { return hex(reinterpret_cast<uintptr_t>(GetProcAddress(layer, name))); };
  const uintptr_t base = reinterpret_cast<uintptr_t>(GetProcAddress(layer, "getMediapadUID"));
  std::vector<std::string> lines = {
      "PADGET getMediapadUID address is " + at("getMediapadUID"),
      "GetMediaPadUID address " + hex(base),
      "Checking Patch address " + hex(base + 78672) + " Should be Patx is Patx",
      "Checking Patch address " + hex(base + 78644) + " Should be VornApx.dll is VornApx.dll",
      "Loading Functions",
      "PADGET makeBeep address is " + at("makeBeep"),
      "PADGET controlLed address is " + at("controlLed"),
      "PADGET clearScreen address is " + at("clearScreen"),
      "PADGET SetMode address is " + at("SetMode"),
  };
  const std::vector<std::string> optional =
      with_optional ? std::vector<std::string>{"PADGET GetMode address is " + at("GetMode"),
                                               "PADGET registerclearEvent address is " + at("registerclearEvent"),
                                               "PADGET registerkeyEvent address is " + at("registerkeyEvent")}
                    : std::vector<std::string>{"Failed at GetProcAddress for MediaPadLayer.dll GetMode",
                                               "Failed at GetProcAddress for MediaPadLayer.dll registerclearEvent",
                                               "Failed at GetProcAddress for MediaPadLayer.dll registerkeyEvent"};
  lines.insert(lines.end(), optional.begin(), optional.end());
  lines.push_back("PADGET setLine address is " + at("setLine"));
  lines.push_back("PADGET SetIconState address is " + at("SetIconState"));
  lines.push_back("Init MediaPadLayer.dll loaded");
  return lines;
}

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

}  // namespace pt
