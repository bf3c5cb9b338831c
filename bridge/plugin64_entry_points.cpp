// The 64-bit bridge DLL: the display plug-in interface for the 64-bit
// display host, served by the 32-bit plug-in displays\<Name>-32bit\<Name>.dll
// through the helper, where <Name> is this DLL's own file name. Every call
// reaches the 32-bit plug-in with the display host's arguments and comes
// back with its result; the setup dialog's three texts are the 32-bit
// plug-in's own, asked for without an Init. The display host finds exactly
// the entry points that the 32-bit plug-in exports (own_exports.h).
//
// A SetPosition is kept until the next call, which carries it, so it costs
// no round trip of its own. The bridge remembers the session (session_replay.h)
// so that a helper started anew can be given it back.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bridge_identity.h"
#include "bridge_log.h"
#include "bridge_names.h"
#include "channel.h"
#include "debug_log.h"
#include "display_entry_names.h"
#include "helper_link.h"
#include "own_exports.h"
#include "plugin32_entries.h"
#include "session_replay.h"
#include "wait_seam.h"

extern const char kBridgeLogName[] = "QX20481.bridge";

namespace {

// The display host's own codes, which it uses where a plug-in has no CustomCharIndex.
constexpr uint8_t kDefaultCustomCodes[8] = {176, 158, 131, 132, 133, 134, 135, 136};
constexpr uint32_t kNoKey = 0xFF00;  // any word over 255 reads as no key
// What the display host may look up when the 32-bit plug-in cannot be read:
// enough for its setup dialog and its Init to show why.
constexpr uint32_t kUnreadablePluginEntries = EntryBit(kEntryInit) | EntryBit(kEntryDone) | EntryBit(kEntryUsage) |
                                              EntryBit(kEntryDriverName) | EntryBit(kEntryDefaultParameters);

// A byte or boolean argument as the 32-bit display host passes it: zero-
// extended. The 64-bit display host sets only the low byte of the register
// (a SetBacklight(false) came with 0x012a8b00), which a 32-bit plug-in that
// reads the whole slot would take for true.
uint32_t Byte(uint32_t slot) { return slot & 0xFF; }

struct BridgeState {
  uint32_t entries = kAllDisplayEntries;  // the 32-bit plug-in's
  std::string problem;                    // why the 32-bit plug-in cannot be served; empty when it can
  bool session = false;                   // that Init succeeded
  bool position_pending = false;
  uint32_t pending_x = 0, pending_y = 0;
  SessionReplay replay;
  BridgeRecord record;
  char init_text[kBridgeTextSize + 2 * MAX_PATH];
  char usage[kBridgeTextSize + 2 * MAX_PATH];
  char driver_name[kBridgeTextSize];
  char default_parameters[kBridgeTextSize];
};
BridgeState g;

// Every display host call takes one deadline at its start, and all it
// does draws on it: a new helper, the session given back, the call.
Deadline CallDeadline() { return Deadline::In(kHelperCallBudgetMs); }

void SetRecordText(const char* text, size_t n) {
  memcpy(g.record.text, text, n);
  g.record.text[n] = '\0';
  g.record.text_length = static_cast<int32_t>(n);
}

// Every call carries a SetPosition that came before it and has not gone yet.
HelperCall Call(BridgeCall call, const Deadline& deadline) {
  g.record.opcode = call;
  g.record.position_first = g.position_pending ? 1 : 0;
  g.record.x = g.pending_x;
  g.record.y = g.pending_y;
  g.position_pending = false;
  return HelperRoundTrip(g.record, deadline);
}

// A call with up to three byte arguments.
HelperCall CallWith(BridgeCall call, const Deadline& deadline, uint32_t a, uint32_t b = 0, uint32_t c = 0) {
  g.record.args[0] = a;
  g.record.args[1] = b;
  g.record.args[2] = c;
  return Call(call, deadline);
}

HelperCall CallInit(uint32_t size_x, uint32_t size_y, const char* parameters, const Deadline& deadline) {
  SetRecordText(parameters, strlen(parameters));
  g.record.ok = 0;
  return CallWith(kBridgeInit, deadline, Byte(size_x), Byte(size_y));
}

HelperCall CallWrite(const char* text, size_t n, const Deadline& deadline) {
  SetRecordText(text, n);
  return Call(kBridgeWrite, deadline);
}

HelperCall CallCustomChar(uint32_t character, const uint8_t* data, const Deadline& deadline) {
  memset(g.record.data, 0, sizeof g.record.data);
  if (data) memcpy(g.record.data, data, sizeof g.record.data);
  return CallWith(kBridgeCustomChar, deadline, Byte(character));
}

// A setting the session holds, given again.
bool Replay(BridgeCall call, const SessionReplay::Setting& setting, const Deadline& deadline) {
  if (!setting.set) return true;
  return CallWith(call, deadline, setting.args[0], setting.args[1], setting.args[2]) == HelperCall::kAnswered;
}

// A new helper's 32-bit plug-in knows nothing of the session: it is given
// Init with the session's sizes and parameters, the custom characters, the
// settings, the lines written so far, and the cursor where the display
// host left it, all within the deadline of the call that found the helper
// gone. That call's own arguments are written only after this.
bool RestoreSession(const Deadline& deadline) {
  const bool had_pending = g.position_pending;
  const uint32_t x = had_pending ? g.pending_x : g.replay.x, y = had_pending ? g.pending_y : g.replay.y;
  g.position_pending = false;
  const SessionReplay& replay = g.replay;
  bool restored =
      CallInit(replay.size_x, replay.size_y, replay.parameters.c_str(), deadline) == HelperCall::kAnswered &&
      g.record.ok == 1;
  if (!restored) LogWrite("Helper", "the new helper could not take the session over");
  for (size_t i = 0; restored && i < replay.custom_chars.size(); ++i)
    restored = CallCustomChar(replay.custom_chars[i].first, replay.custom_chars[i].second.data(), deadline) ==
               HelperCall::kAnswered;
  restored = restored && Replay(kBridgeSetContrast, replay.contrast, deadline) &&
             Replay(kBridgeSetBrightness, replay.brightness, deadline) &&
             Replay(kBridgeSetBacklight, replay.backlight, deadline);
  for (size_t i = 0; restored && i < replay.gpos.size(); ++i)
    restored = CallWith(kBridgeSetGpo, deadline, replay.gpos[i].first, replay.gpos[i].second) == HelperCall::kAnswered;
  restored = restored && Replay(kBridgeSetFan, replay.fan, deadline) && Replay(kBridgeSetColor, replay.color, deadline);
  for (size_t line = 0; restored && line < replay.lines.size(); ++line) {
    if (!replay.written[line]) continue;
    g.position_pending = true;
    g.pending_x = 1;
    g.pending_y = static_cast<uint32_t>(line + 1);
    restored = CallWrite(replay.lines[line].data(), replay.lines[line].size(), deadline) == HelperCall::kAnswered;
  }
  g.position_pending = true;
  g.pending_x = x;
  g.pending_y = y;
  return restored;
}

// The helper for a call that needs one: a new helper is given the session
// back first. Each entry point asks before it writes its own arguments
// into the record, which the session's calls use too.
bool HelperReady(const Deadline& deadline) {
  if (g.session && HelperNeedsStart()) return RestoreSession(deadline);
  return true;
}

const char* LogPath() {
  static std::string path;
  path = "logs\\" + BridgeDllLogName(ThisBridge().name) + ".log";
  return path.c_str();
}

// Why the bridge cannot serve, for Init's text and the setup dialog.
const char* ProblemText(char* buffer, size_t size) {
  if (ThisBridge().name.empty()) {
    snprintf(buffer, size, "the 64-bit bridge's file name cannot name a 32-bit plug-in");
  } else {
    const std::string& name = ThisBridge().name;
    snprintf(buffer, size, "the 32-bit plug-in displays\\%s\\%s %s: the 64-bit %s.dll serves only it",
             BridgeFolderName(name).c_str(), Plugin32FileName(name).c_str(), g.problem.c_str(), name.c_str());
  }
  return buffer;
}

void MissingHelperText(char* buffer, size_t size) {
  const std::string& name = ThisBridge().name;
  snprintf(buffer, size,
           "%s is missing: the 64-bit plug-in needs it beside the display host's program, and the 32-bit %s in "
           "displays\\%s (see %s)",
           kHelperProgram, Plugin32FileName(name).c_str(), BridgeFolderName(name).c_str(), LogPath());
}

enum class TextAnswer { kGiven, kNull, kNoPlugin, kNoHelper };

// One of the setup dialog's texts from the 32-bit plug-in, into `buffer`.
TextAnswer AskText(BridgeCall call, char* buffer, size_t size) {
  const Deadline deadline = CallDeadline();
  if (!HelperReady(deadline)) return TextAnswer::kNoHelper;
  g.record.text_length = 0;
  g.record.text[0] = '\0';
  g.record.result = kTextGiven;
  if (Call(call, deadline) != HelperCall::kAnswered) return TextAnswer::kNoHelper;
  const int32_t n = BoundedTextLength(g.record);
  snprintf(buffer, size, "%.*s", static_cast<int>(n), g.record.text);
  if (g.record.result == kTextNull) return TextAnswer::kNull;
  return g.record.result == kTextNoPlugin ? TextAnswer::kNoPlugin : TextAnswer::kGiven;
}

// The 32-bit plug-in's own text into `buffer`, or its null, in `*answer`;
// false where the bridge's own text stands in for it.
bool PluginsOwnText(BridgeCall call, char* buffer, size_t size, const char** answer) {
  if (!g.problem.empty()) return false;
  switch (AskText(call, buffer, size)) {
    case TextAnswer::kGiven: *answer = buffer; return true;
    case TextAnswer::kNull: *answer = nullptr; return true;
    case TextAnswer::kNoPlugin:
    case TextAnswer::kNoHelper: break;
  }
  return false;
}

void Attach(HMODULE module) {
  const BridgeIdentity& bridge = ThisBridge();
  if (bridge.name.empty()) {
    g.problem = "unknown";
  } else {
    BridgeLogSetName(BridgeDllLogName(bridge.name).c_str());
    uint32_t entries = 0;
    if (ReadPlugin32Entries(bridge.plugin32_path, &entries, &g.problem)) g.entries = entries;
  }
  if (!g.problem.empty()) g.entries = kUnreadablePluginEntries;
  if (!KeepOwnExports(module, g.entries))
    LogWritef("Exports", "the entry points that %s lacks could not be taken out of the export table (error %lu)",
              bridge.plugin32_path.c_str(), GetLastError());
}

// The calls that set something on the display: the session keeps the last
// setting, so that a new helper's plug-in is given it too.
void CallAndKeep(BridgeCall call, SessionReplay::Setting& setting, uint32_t a, uint32_t b = 0, uint32_t c = 0) {
  const Deadline deadline = CallDeadline();
  if (HelperReady(deadline)) CallWith(call, deadline, a, b, c);
  SessionReplay::Set(setting, a, b, c);
}

}  // namespace

// The C++ runtime's own clean-up of its exception pool (for leak checkers),
// not declared in its headers.
namespace __gnu_cxx {
void __freeres();
}

extern "C" {

const char* WINAPI DISPLAYDLL_Init(uint32_t size_x, uint32_t size_y, const char* parameters, uint8_t* ok) {
  if (ok) *ok = 0;
  const char* text = parameters ? parameters : "";
  g.session = false;
  g.position_pending = false;
  if (!g.problem.empty()) {
    LogWrite("Init", ProblemText(g.init_text, sizeof g.init_text));
    return g.init_text;
  }
  if (strlen(text) > static_cast<size_t>(kBridgeTextSize - 1)) {
    snprintf(g.init_text, sizeof g.init_text, "start-up parameters longer than %d characters",
             static_cast<int>(kBridgeTextSize - 1));
    return g.init_text;
  }
  const HelperCall outcome = CallInit(size_x, size_y, text, CallDeadline());
  if (outcome == HelperCall::kNoHelper) {
    MissingHelperText(g.init_text, sizeof g.init_text);
    return g.init_text;
  }
  if (outcome != HelperCall::kAnswered) {
    snprintf(g.init_text, sizeof g.init_text, "%s did not answer; see %s", kHelperProgram, LogPath());
    return g.init_text;
  }
  const int32_t n = BoundedTextLength(g.record);
  memcpy(g.init_text, g.record.text, static_cast<size_t>(n) + 1);
  // The OK byte as the plug-in set it: the display host reads anything but 1 as failure.
  if (ok) *ok = static_cast<uint8_t>(g.record.ok);
  if (g.record.ok == 1) {
    g.session = true;
    g.replay.Begin(size_x, size_y, text);
  }
  return g.record.result == kTextNull ? nullptr : g.init_text;
}

void WINAPI DISPLAYDLL_Done() {
  // With no helper and no session, no 32-bit plug-in has anything to end
  // (unless it has no Init, and so never needed one).
  const bool has_init = (g.entries & EntryBit(kEntryInit)) != 0;
  if (!g.session && HelperNeedsStart() && has_init) return;
  const Deadline deadline = CallDeadline();
  if (HelperReady(deadline)) Call(kBridgeDone, deadline);
  g.session = false;
  g.position_pending = false;
}

void WINAPI DISPLAYDLL_SetPosition(uint32_t x, uint32_t y) {
  // Two in a row: the first goes on its own, so the plug-in sees both.
  if (g.position_pending) {
    const Deadline deadline = CallDeadline();
    if (HelperReady(deadline)) Call(kBridgeSetPosition, deadline);
  }
  g.replay.SetPosition(x, y);
  g.position_pending = true;
  g.pending_x = Byte(x);
  g.pending_y = Byte(y);
}

void WINAPI DISPLAYDLL_Write(const char* text) {
  if (!text) text = "";
  size_t left = strlen(text);
  const Deadline deadline = CallDeadline();
  const bool ready = HelperReady(deadline);
  g.replay.Write(text, left);
  if (!ready) return;
  // A text longer than the record goes in pieces, each written where the
  // one before it left the plug-in's cursor.
  do {
    const size_t n = left < static_cast<size_t>(kBridgeTextSize - 1) ? left : kBridgeTextSize - 1;
    if (CallWrite(text, n, deadline) != HelperCall::kAnswered) return;
    text += n;
    left -= n;
  } while (left > 0);
}

void WINAPI DISPLAYDLL_CustomChar(uint32_t character, const uint8_t* data) {
  const Deadline deadline = CallDeadline();
  if (HelperReady(deadline)) CallCustomChar(character, data, deadline);
  if (data) g.replay.CustomChar(character, data);
}

uint8_t WINAPI DISPLAYDLL_CustomCharIndex(uint32_t index) {
  const Deadline deadline = CallDeadline();
  if (HelperReady(deadline) && CallWith(kBridgeCustomCharIndex, deadline, Byte(index)) == HelperCall::kAnswered)
    return static_cast<uint8_t>(g.record.result);
  const uint32_t i = index & 0xFF;
  return i >= 1 && i <= 8 ? kDefaultCustomCodes[i - 1] : static_cast<uint8_t>(i);
}

uint16_t WINAPI DISPLAYDLL_ReadKey() {
  const Deadline deadline = CallDeadline();
  if (HelperReady(deadline) && Call(kBridgeReadKey, deadline) == HelperCall::kAnswered)
    return static_cast<uint16_t>(g.record.result);
  return kNoKey;
}

void WINAPI DISPLAYDLL_SetBacklight(uint32_t on) { CallAndKeep(kBridgeSetBacklight, g.replay.backlight, Byte(on)); }

void WINAPI DISPLAYDLL_SetContrast(uint32_t level) { CallAndKeep(kBridgeSetContrast, g.replay.contrast, Byte(level)); }

void WINAPI DISPLAYDLL_SetBrightness(uint32_t level) {
  CallAndKeep(kBridgeSetBrightness, g.replay.brightness, Byte(level));
}

void WINAPI DISPLAYDLL_SetGPO(uint32_t gpo, uint32_t on) {
  const Deadline deadline = CallDeadline();
  if (HelperReady(deadline)) CallWith(kBridgeSetGpo, deadline, Byte(gpo), Byte(on));
  g.replay.SetGpo(Byte(gpo), Byte(on));
}

void WINAPI DISPLAYDLL_SetFan(uint32_t t1, uint32_t t2) {
  CallAndKeep(kBridgeSetFan, g.replay.fan, Byte(t1), Byte(t2));
}

void WINAPI DISPLAYDLL_SetColor(uint32_t red, uint32_t green, uint32_t blue) {
  CallAndKeep(kBridgeSetColor, g.replay.color, Byte(red), Byte(green), Byte(blue));
}

void WINAPI DISPLAYDLL_PowerResume() {
  const Deadline deadline = CallDeadline();
  if (HelperReady(deadline)) Call(kBridgePowerResume, deadline);
}

// A text the plug-in returned null stays null; one that could not be had
// says why where the setup dialog shows it.
const char* WINAPI DISPLAYDLL_Usage() {
  if (!g.problem.empty()) return ProblemText(g.usage, sizeof g.usage);
  switch (AskText(kBridgeUsage, g.usage, sizeof g.usage)) {
    case TextAnswer::kNull: return nullptr;
    case TextAnswer::kNoHelper: MissingHelperText(g.usage, sizeof g.usage); break;
    case TextAnswer::kGiven:
    case TextAnswer::kNoPlugin: break;
  }
  return g.usage;
}

const char* WINAPI DISPLAYDLL_DriverName() {
  const char* answer = nullptr;
  if (PluginsOwnText(kBridgeDriverName, g.driver_name, sizeof g.driver_name, &answer)) return answer;
  snprintf(g.driver_name, sizeof g.driver_name, "%s (64-bit bridge)", ThisBridge().name.c_str());
  return g.driver_name;
}

const char* WINAPI DISPLAYDLL_DefaultParameters() {
  const char* answer = nullptr;
  if (PluginsOwnText(kBridgeDefaultParameters, g.default_parameters, sizeof g.default_parameters, &answer))
    return answer;
  g.default_parameters[0] = '\0';
  return g.default_parameters;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) Attach(instance);
  // Freed by FreeLibrary (not the end of the process, where the job ends
  // the helper): the helper goes with the plug-in, and so do the section's
  // view and events, the timer and the C++ runtime's exception pool, which
  // this DLL's own copy of the runtime would otherwise leave behind at
  // every load (74 KB).
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    HelperRelease();
    CommsStop(kBridgeSlot);
    CloseWaitTimer();
    __gnu_cxx::__freeres();
  }
  return TRUE;
}

}  // extern "C"
