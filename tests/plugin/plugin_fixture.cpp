#include "plugin_fixture.h"

#include <cstdio>

#include "debug_log.h"

namespace pt {

bool PlaceAsLayer(const char* file) {
  return CopyFileA((vt::ProgramDirectory() + file).c_str(), "MediaPadLayer.dll", FALSE) != 0;
}

bool PlaceLayer(const char* variant) { return PlaceAsLayer((std::string("layers\\") + variant + ".dll").c_str()); }

void SetVariable(const char* name, const char* value) { SetEnvironmentVariableA(name, value); }

std::vector<std::string> LayerCalls() { return vt::SplitCrLfLines(vt::ReadFileBytes("layer_calls.txt")); }

std::string LogPath() { return std::string("logs\\") + ModuleName() + ".log"; }

std::vector<std::string> LogLines() {
  std::vector<std::string> lines = vt::SplitCrLfLines(vt::ReadFileBytes(LogPath()));
  for (std::string& line : lines) line = line.size() > 18 ? line.substr(18) : "<short line: " + line + ">";
  return lines;
}

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
  HMODULE layer = GetModuleHandleA("MediaPadLayer.dll");
  auto address = [&](const char* name) {
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(GetProcAddress(layer, name)));
  };
  auto padget = [&](const char* name) {
    char line[128];
    snprintf(line, sizeof line, "PADGET %s address is 0x%08x", name, address(name));
    return std::string(line);
  };
  const unsigned base = address("getMediapadUID");
  char text[160];
  std::vector<std::string> lines = {padget("getMediapadUID")};
  snprintf(text, sizeof text, "GetMediaPadUID address 0x%08x", base);
  lines.push_back(text);
  snprintf(text, sizeof text, "Checking Patch address 0x%08x Should be Patx is Patx", base + 78672);
  lines.push_back(text);
  snprintf(text, sizeof text, "Checking Patch address 0x%08x Should be VornApx.dll is VornApx.dll", base + 78644);
  lines.push_back(text);
  lines.push_back("Loading Functions");
  for (const char* name : {"makeBeep", "controlLed", "clearScreen", "SetMode", "GetMode", "registerclearEvent",
                           "registerkeyEvent", "setLine", "SetIconState"}) {
    const bool optional = std::string(name) == "GetMode" || std::string(name).rfind("register", 0) == 0;
    lines.push_back(optional && !with_optional ? std::string("Failed at GetProcAddress for MediaPadLayer.dll ") + name
                                               : padget(name));
  }
  lines.push_back("Init MediaPadLayer.dll loaded");
  return lines;
}

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

}  // namespace pt
