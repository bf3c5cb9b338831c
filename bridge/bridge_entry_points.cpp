// The bridge DLL: the display plug-in interface served by the 32-bit plug-in
// displays\<Name>-32bit\<Name>.dll through the helper, where <Name> is this
// DLL's own file name. The 64-bit build serves the 64-bit display host; the
// 32-bit build isolates a plug-in of the 32-bit display host in the helper
// (bridge_build.h holds what differs). Every call reaches the 32-bit
// plug-in with the display host's arguments and comes back with its
// result; the setup dialog's three texts are the 32-bit plug-in's own,
// asked for without an Init. The display host finds exactly the entry
// points that the 32-bit plug-in exports (own_exports.h).
//
// A SetPosition is kept until the next call, which carries it, so it costs
// no round trip of its own. The bridge remembers the session (session_replay.h)
// so that a helper started anew can be given it back.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bridge_build.h"
#include "bridge_identity.h"
#include "bridge_log.h"
#include "bridge_names.h"
#include "channel.h"
#include "debug_log.h"
#include "display_entry_names.h"
#include "fault_tally.h"
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

uint32_t Byte(uint32_t slot) { return ArgumentSlot(slot); }

struct BridgeState {
  Plugin32Entries entries = {kAllDisplayEntries, 0};  // the 32-bit plug-in's
  std::string problem;                                // why the 32-bit plug-in cannot be served; empty when it can
  bool session = false;                               // that Init succeeded
  // The helper whose plug-in has the session (HelperNumber), and whether
  // the Init that gives it back to a new one is still out.
  uint32_t helper_with_session = 0;
  bool giving_back_init = false;
  bool position_pending = false;
  uint32_t pending_x = 0, pending_y = 0;
  SessionReplay replay;
  FaultTally faults;
  BridgeRecord record;
  BridgeRecord late;  // an answer that came after its call had returned
  char init_text[kBridgeTextSize + 2 * MAX_PATH];
  char usage[kBridgeTextSize + 2 * MAX_PATH];
  char driver_name[kBridgeTextSize];
  char default_parameters[kBridgeTextSize];
};
BridgeState g;

// How long a display host call may wait for the helper. A quick call
// (one whose result the display host can do without) waits kQuickCallMs
// for answers, apart from a helper start; the others wait as long as the
// plug-in's own call may take. All a call does draws on these.
struct CallTime {
  bool quick;
  Deadline answers;

  static CallTime Quick() { return CallTime{true, Deadline::In(kQuickCallMs)}; }
  static CallTime Full() { return CallTime{false, Deadline::In(kHelperCallBudgetMs)}; }
  Unanswered IfUnanswered() const { return quick ? Unanswered::kLeaveInFlight : Unanswered::kTakeBack; }
};

void SetRecordText(const char* text, size_t n) {
  memcpy(g.record.text, text, n);
  g.record.text[n] = '\0';
  g.record.text_length = static_cast<int32_t>(n);
}

// Every call carries a SetPosition that came before it and has not gone yet.
HelperCall Call(BridgeCall call, const CallTime& time, CallKind kind = CallKind::kOwn) {
  g.record.opcode = call;
  g.record.position_first = g.position_pending ? 1 : 0;
  g.record.x = g.pending_x;
  g.record.y = g.pending_y;
  g.position_pending = false;
  const HelperCall outcome = HelperSend(g.record, time.answers, kind, time.IfUnanswered());
  if (outcome == HelperCall::kAnswered) g.faults.Note(g.record);
  return outcome;
}

// A call with up to three byte arguments.
HelperCall CallWith(BridgeCall call, const CallTime& time, CallKind kind, uint32_t a, uint32_t b = 0, uint32_t c = 0) {
  g.record.args[0] = a;
  g.record.args[1] = b;
  g.record.args[2] = c;
  return Call(call, time, kind);
}

HelperCall CallInit(uint32_t size_x, uint32_t size_y, const char* parameters, const CallTime& time, CallKind kind) {
  SetRecordText(parameters, strlen(parameters));
  g.record.ok = 0;
  return CallWith(kBridgeInit, time, kind, Byte(size_x), Byte(size_y));
}

HelperCall CallWrite(const char* text, size_t n, const CallTime& time, CallKind kind) {
  SetRecordText(text, n);
  return Call(kBridgeWrite, time, kind);
}

HelperCall CallCustomChar(uint32_t character, const uint8_t* data, const CallTime& time, CallKind kind) {
  memset(g.record.data, 0, sizeof g.record.data);
  if (data) memcpy(g.record.data, data, sizeof g.record.data);
  return CallWith(kBridgeCustomChar, time, kind, Byte(character));
}

// The helper's plug-in now has the session, or has refused it.
void SessionTaken(const BridgeRecord& init_answer) {
  if (init_answer.ok == 1) {
    g.helper_with_session = HelperNumber();
    return;
  }
  HelperRefused();
}

// An answer that came after its call had returned.
void TakeLateAnswer(const BridgeRecord& answer) {
  g.faults.Note(answer);
  if (answer.opcode == kBridgeInit && g.giving_back_init) {
    g.giving_back_init = false;
    SessionTaken(answer);
  }
}

// A setting the session holds and the plug-in owes, given.
bool GiveSetting(BridgeCall call, SessionReplay::Setting& setting, const CallTime& time) {
  if (!setting.owed) return true;
  setting.owed = false;
  return CallWith(call, time, CallKind::kGivingBack, setting.args[0], setting.args[1], setting.args[2]) ==
         HelperCall::kAnswered;
}

// What the plug-in owes of the session, as it stands now (not the calls
// that led to it): the custom characters, the settings, each line from its
// first column, and then the cursor where the display host left it, which
// the next call carries. An item counts as given once sent: an answer
// that has to be waited for comes before anything else is sent, and a
// helper that ends owes everything anew.
bool GiveWhatIsOwed(const CallTime& time) {
  SessionReplay& replay = g.replay;
  if (!replay.Owes()) return true;
  // The display host's SetPosition not yet carried goes after what is owed.
  if (g.position_pending) replay.cursor_owed = true;
  g.position_pending = false;
  for (auto& defined : replay.custom_chars) {
    if (!defined.owed) continue;
    defined.owed = false;
    if (CallCustomChar(defined.slot, defined.data.data(), time, CallKind::kGivingBack) != HelperCall::kAnswered)
      return false;
  }
  if (!GiveSetting(kBridgeSetContrast, replay.contrast, time) ||
      !GiveSetting(kBridgeSetBrightness, replay.brightness, time) ||
      !GiveSetting(kBridgeSetBacklight, replay.backlight, time))
    return false;
  for (auto& gpo : replay.gpos) {
    if (!gpo.owed) continue;
    gpo.owed = false;
    if (CallWith(kBridgeSetGpo, time, CallKind::kGivingBack, gpo.number, gpo.state) != HelperCall::kAnswered)
      return false;
  }
  if (!GiveSetting(kBridgeSetFan, replay.fan, time) || !GiveSetting(kBridgeSetColor, replay.color, time)) return false;
  for (size_t line = 0; line < replay.lines.size(); ++line) {
    if (!replay.line_owed[line]) continue;
    replay.line_owed[line] = false;
    replay.cursor_owed = true;
    g.position_pending = true;
    g.pending_x = 1;
    g.pending_y = static_cast<uint32_t>(line + 1);
    if (CallWrite(replay.lines[line].data(), replay.lines[line].size(), time, CallKind::kGivingBack) !=
        HelperCall::kAnswered)
      return false;
  }
  if (replay.cursor_owed) {
    replay.cursor_owed = false;
    g.position_pending = true;
    g.pending_x = replay.x;
    g.pending_y = replay.y;
  }
  return true;
}

// A helper free to take the call, its plug-in holding the session and all
// of it, or why not: an answer still out, a helper that is starting or
// could not be started, helpers that keep failing (quick calls start none
// before the pause is over), or a plug-in that would not take the session
// back. A new helper's plug-in is given Init with the session's sizes and
// parameters, then what it owes (GiveWhatIsOwed). Each entry point asks
// before it writes its own arguments into the record, which these calls
// use too.
HelperCall PluginReady(CallTime& time) {
  // A quick call only looks for an answer still out: the call that left it
  // has waited for it already.
  bool had_answer = false;
  const bool settled = HelperSettle(time.quick ? Deadline::In(0) : time.answers, &g.late, &had_answer);
  if (had_answer) TakeLateAnswer(g.late);
  if (!settled && !HelperNeedsStart()) return HelperCall::kPending;
  if (HelperNeedsStart()) {
    // Only the quick call that starts a helper waits for it to get ready;
    // the calls after it, while it is still starting, only look.
    const Deadline start = !time.quick ? time.answers : Deadline::In(HelperStarting() ? 0 : kHelperStartWaitMs);
    const HelperCall helper = EnsureHelper(start, !time.quick);
    if (helper != HelperCall::kAnswered) return helper;
    if (time.quick) time.answers = Deadline::In(kQuickCallMs);  // the start is paid apart
  }
  if (!g.session) return HelperCall::kAnswered;
  if (g.helper_with_session != HelperNumber()) {
    g.replay.OweAll();
    g.position_pending = false;
    const HelperCall init =
        CallInit(g.replay.size_x, g.replay.size_y, g.replay.parameters.c_str(), time, CallKind::kGivingBack);
    g.giving_back_init = init == HelperCall::kPending;
    if (init != HelperCall::kAnswered) return init;
    SessionTaken(g.record);
    if (g.helper_with_session != HelperNumber()) return HelperCall::kNoAnswer;
  }
  return GiveWhatIsOwed(time) ? HelperCall::kAnswered : HelperCall::kPending;
}

// A call that could not reach the plug-in: a SetPosition waiting to go
// with it is owed instead.
void Missed() {
  if (!g.position_pending) return;
  g.position_pending = false;
  g.replay.cursor_owed = true;
}

// A call that gives the display host nothing back: true when it reached
// the plug-in or is with the helper on its way there.
bool QuickCall(BridgeCall call, uint32_t a = 0, uint32_t b = 0, uint32_t c = 0) {
  CallTime time = CallTime::Quick();
  if (PluginReady(time) != HelperCall::kAnswered) {
    Missed();
    return false;
  }
  const HelperCall outcome = CallWith(call, time, CallKind::kOwn, a, b, c);
  return outcome == HelperCall::kAnswered || outcome == HelperCall::kPending;
}

const char* LogPath() {
  static std::string path;
  path = "logs\\" + BridgeDllLogName(ThisBridge().name) + ".log";
  return path.c_str();
}

// Why the bridge cannot serve, for Init's text and the setup dialog.
const char* ProblemText(char* buffer, size_t size) {
  if (ThisBridge().name.empty()) {
    snprintf(buffer, size, "the %s bridge's file name cannot name a 32-bit plug-in", kBridgeFileKind);
  } else {
    const std::string& name = ThisBridge().name;
    snprintf(buffer, size, "the 32-bit plug-in displays\\%s\\%s %s: the %s %s.dll serves only it",
             BridgeFolderName(name).c_str(), Plugin32FileName(name).c_str(), g.problem.c_str(), kBridgeFileKind,
             name.c_str());
  }
  return buffer;
}

void MissingHelperText(char* buffer, size_t size) {
  const std::string& name = ThisBridge().name;
  snprintf(buffer, size,
           "%s is missing: the %s plug-in needs it beside the display host's program, and the 32-bit %s in "
           "displays\\%s (see %s)",
           kHelperProgram, kBridgeFileKind, Plugin32FileName(name).c_str(), BridgeFolderName(name).c_str(), LogPath());
}

enum class TextAnswer { kGiven, kNull, kNoPlugin, kNoHelper };

// One of the setup dialog's texts from the 32-bit plug-in, into `buffer`.
TextAnswer AskText(BridgeCall call, char* buffer, size_t size) {
  CallTime time = CallTime::Full();
  if (PluginReady(time) != HelperCall::kAnswered) return TextAnswer::kNoHelper;
  g.record.text_length = 0;
  g.record.text[0] = '\0';
  g.record.result = kTextGiven;
  if (Call(call, time) != HelperCall::kAnswered || g.record.fault_code != 0) return TextAnswer::kNoHelper;
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
    Plugin32Entries entries;
    if (ReadPlugin32Entries(bridge.plugin32_path, &entries, &g.problem)) g.entries = entries;
  }
  if (!g.problem.empty()) g.entries = {kUnreadablePluginEntries, 0};
  if (!KeepOwnExports(module, g.entries))
    LogWritef("Exports", "the entry points that %s lacks could not be taken out of the export table (error %lu)",
              bridge.plugin32_path.c_str(), GetLastError());
}

// The calls that set something on the display: the session keeps the last
// setting, owed to the plug-in while it could not be given.
void CallAndKeep(BridgeCall call, SessionReplay::Setting& setting, uint32_t a, uint32_t b = 0, uint32_t c = 0) {
  SessionReplay::Set(setting, QuickCall(call, a, b, c), a, b, c);
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
  CallTime time = CallTime::Full();
  HelperCall outcome = PluginReady(time);
  if (outcome == HelperCall::kAnswered) outcome = CallInit(size_x, size_y, text, time, CallKind::kOwn);
  if (outcome == HelperCall::kNoHelper) {
    MissingHelperText(g.init_text, sizeof g.init_text);
    return g.init_text;
  }
  if (outcome != HelperCall::kAnswered) {
    snprintf(g.init_text, sizeof g.init_text, "%s did not answer; see %s", kHelperProgram, LogPath());
    return g.init_text;
  }
  // The OK byte as the plug-in set it: the display host reads anything but 1 as failure.
  if (ok) *ok = static_cast<uint8_t>(g.record.ok);
  if (g.record.fault_code != 0) {
    snprintf(g.init_text, sizeof g.init_text, "the 32-bit plug-in raised exception 0x%08lx in Init; see %s",
             static_cast<unsigned long>(g.record.fault_code), LogPath());
    return g.init_text;
  }
  const int32_t n = BoundedTextLength(g.record);
  memcpy(g.init_text, g.record.text, static_cast<size_t>(n) + 1);
  if (g.record.ok == 1) {
    g.session = true;
    g.helper_with_session = HelperNumber();
    g.replay.Begin(size_x, size_y, text);
  }
  return g.record.result == kTextNull ? nullptr : g.init_text;
}

void WINAPI DISPLAYDLL_Done() {
  // With no helper and no session, no 32-bit plug-in has anything to end
  // (unless it has no Init, and so never needed one).
  const bool has_init = ((g.entries.plain | g.entries.decorated) & EntryBit(kEntryInit)) != 0;
  if (!g.session && HelperNeedsStart() && has_init) return;
  CallTime time = CallTime::Full();
  if (PluginReady(time) == HelperCall::kAnswered) Call(kBridgeDone, time);
  g.session = false;
  g.position_pending = false;
  g.faults.Flush();
}

void WINAPI DISPLAYDLL_SetPosition(uint32_t x, uint32_t y) {
  // Two in a row: the first goes on its own, so the plug-in sees both.
  if (g.position_pending) QuickCall(kBridgeSetPosition);
  g.replay.SetPosition(x, y, true);
  g.position_pending = true;
  g.pending_x = Byte(x);
  g.pending_y = Byte(y);
}

void WINAPI DISPLAYDLL_Write(const char* text) {
  if (!text) text = "";
  const size_t length = strlen(text);
  CallTime time = CallTime::Quick();
  bool given = PluginReady(time) == HelperCall::kAnswered;
  if (!given) Missed();
  // A text longer than the record goes in pieces, each written where the
  // one before it left the plug-in's cursor. Pieces that cannot go leave
  // the line owed, to be given whole.
  for (size_t sent = 0; given;) {
    const size_t left = length - sent;
    const size_t n = left < static_cast<size_t>(kBridgeTextSize - 1) ? left : kBridgeTextSize - 1;
    const HelperCall outcome = CallWrite(text + sent, n, time, CallKind::kOwn);
    sent += n;
    if (outcome == HelperCall::kPending) given = sent == length;
    if (outcome == HelperCall::kNoAnswer || outcome == HelperCall::kNoHelper) given = false;
    if (outcome != HelperCall::kAnswered || sent == length) break;
  }
  g.replay.Write(text, length, given);
}

void WINAPI DISPLAYDLL_CustomChar(uint32_t character, const uint8_t* data) {
  CallTime time = CallTime::Quick();
  bool given = PluginReady(time) == HelperCall::kAnswered;
  if (given) {
    const HelperCall outcome = CallCustomChar(character, data, time, CallKind::kOwn);
    given = outcome == HelperCall::kAnswered || outcome == HelperCall::kPending;
  } else {
    Missed();
  }
  if (data) g.replay.CustomChar(character, data, given);
}

uint8_t WINAPI DISPLAYDLL_CustomCharIndex(uint32_t index) {
  CallTime time = CallTime::Quick();
  if (PluginReady(time) == HelperCall::kAnswered &&
      CallWith(kBridgeCustomCharIndex, time, CallKind::kOwn, Byte(index)) == HelperCall::kAnswered &&
      g.record.fault_code == 0)
    return static_cast<uint8_t>(g.record.result);
  Missed();
  const uint32_t i = index & 0xFF;
  return i >= 1 && i <= 8 ? kDefaultCustomCodes[i - 1] : static_cast<uint8_t>(i);
}

uint16_t WINAPI DISPLAYDLL_ReadKey() {
  CallTime time = CallTime::Quick();
  if (PluginReady(time) == HelperCall::kAnswered && Call(kBridgeReadKey, time) == HelperCall::kAnswered)
    return static_cast<uint16_t>(g.record.result);
  Missed();
  return kNoKey;
}

void WINAPI DISPLAYDLL_SetBacklight(uint32_t on) { CallAndKeep(kBridgeSetBacklight, g.replay.backlight, Byte(on)); }

void WINAPI DISPLAYDLL_SetContrast(uint32_t level) { CallAndKeep(kBridgeSetContrast, g.replay.contrast, Byte(level)); }

void WINAPI DISPLAYDLL_SetBrightness(uint32_t level) {
  CallAndKeep(kBridgeSetBrightness, g.replay.brightness, Byte(level));
}

void WINAPI DISPLAYDLL_SetGPO(uint32_t gpo, uint32_t on) {
  g.replay.SetGpo(Byte(gpo), Byte(on), QuickCall(kBridgeSetGpo, Byte(gpo), Byte(on)));
}

void WINAPI DISPLAYDLL_SetFan(uint32_t t1, uint32_t t2) {
  CallAndKeep(kBridgeSetFan, g.replay.fan, Byte(t1), Byte(t2));
}

void WINAPI DISPLAYDLL_SetColor(uint32_t red, uint32_t green, uint32_t blue) {
  CallAndKeep(kBridgeSetColor, g.replay.color, Byte(red), Byte(green), Byte(blue));
}

void WINAPI DISPLAYDLL_PowerResume() { QuickCall(kBridgePowerResume); }

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
  snprintf(g.driver_name, sizeof g.driver_name, "%s (%s)", ThisBridge().name.c_str(), kBridgeDriverTail);
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
