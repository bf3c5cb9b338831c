// The 64-bit QX20481.dll: the display plug-in interface for the 64-bit
// display host, with the same arguments, results and texts as the 32-bit
// plug-in. The setup dialog's three text calls are answered here; the
// others go to the helper, which makes them on the 32-bit plug-in.
//
// The plug-in keeps its own copy of the screen text and cursor (the 32-bit
// plug-in's screen model), so that a helper started anew is given the
// session back: Init with the same parameters, then the screen as it was.
// Each write carries the cursor it starts at, so SetPosition costs no
// round trip.

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "bridge_log.h"
#include "channel.h"
#include "debug_log.h"
#include "display_plugin.h"
#include "helper_link.h"
#include "screen_model.h"
#include "wait_seam.h"

extern const char kBridgeLogName[] = "QX20481.bridge";

namespace {

constexpr char kUsage[] =
    "64-bit LCDSmartie: drives the MediaPad through the 32-bit plug-in in displays\\QX20481-32bit";
constexpr char kDefaultParameters[] = " ";
constexpr char kDriverName[] = "MediaPad Display v1.2.201.1126";

char g_init_text[kBridgeTextSize + MAX_PATH];
bool g_session;                      // an Init succeeded and no Done since
char g_parameters[kBridgeTextSize];  // Init's, for a new helper
BridgeRecord g_record;

void SetRecordText(const char* text, size_t n) {
  memcpy(g_record.text, text, n);
  g_record.text[n] = '\0';
  g_record.text_length = static_cast<int32_t>(n);
}

HelperCall Call(BridgeCall call) {
  g_record.opcode = call;
  return HelperRoundTrip(g_record);
}

HelperCall CallInit(const char* parameters) {
  SetRecordText(parameters, strlen(parameters));
  g_record.ok = 0;
  return Call(kBridgeInit);
}

// One Write of at most kBridgeTextSize - 1 characters, at the cursor of the
// screen copy, which it then moves on as the 32-bit plug-in moves its own.
HelperCall CallWrite(const char* text, size_t n) {
  const Screen& screen = CurrentScreen();
  g_record.x = screen.column + 1;
  g_record.y = screen.row + 1;
  SetRecordText(text, n);
  ScreenStore(g_record.text);
  return Call(kBridgeWrite);
}

// A new helper's 32-bit plug-in knows nothing of the session: it is given
// Init with the session's parameters, then the screen text and the cursor
// as they were before this call.
bool RestoreSession() {
  const Screen before = CurrentScreen();
  if (CallInit(g_parameters) != HelperCall::kAnswered || g_record.ok != 1) {
    LogWrite("Helper", "the new helper could not take the session over");
    return false;
  }
  ScreenSetPosition(1, 1);
  const bool restored = CallWrite(before.text, kScreenChars) == HelperCall::kAnswered;
  ScreenSetPosition(static_cast<uint32_t>(before.column + 1), static_cast<uint32_t>(before.row + 1));
  return restored;
}

// The helper for a call that needs one: the session is given back to a
// new helper first.
bool HelperReady() {
  if (g_session && HelperNeedsStart()) return RestoreSession();
  return true;
}

void MissingHelperText() {
  snprintf(g_init_text, sizeof g_init_text,
           "%s is missing: the 64-bit plug-in needs it and the 32-bit QX20481.dll in displays\\%s (see "
           "logs\\QX20481.bridge.log)",
           kHelperProgram, kBridgeFolder);
}

}  // namespace

extern "C" {

const char* WINAPI DISPLAYDLL_Init(uint32_t, uint32_t, const char* parameters, uint8_t* ok) {
  if (ok) *ok = 0;
  const char* text = parameters ? parameters : "";
  ScreenShowStartupText();
  if (strlen(text) > static_cast<size_t>(kBridgeTextSize - 1)) {
    snprintf(g_init_text, sizeof g_init_text, "start-up parameters longer than %d characters",
             static_cast<int>(kBridgeTextSize - 1));
    return g_init_text;
  }
  const HelperCall outcome = CallInit(text);
  if (outcome == HelperCall::kNoHelper) {
    MissingHelperText();
    return g_init_text;
  }
  if (outcome != HelperCall::kAnswered) {
    snprintf(g_init_text, sizeof g_init_text, "%s did not answer; see logs\\QX20481.bridge.log", kHelperProgram);
    return g_init_text;
  }
  const int32_t n = BoundedTextLength(g_record);
  memcpy(g_init_text, g_record.text, static_cast<size_t>(n) + 1);
  if (g_record.ok == 1) {
    ScreenHome();
    g_session = true;
    snprintf(g_parameters, sizeof g_parameters, "%s", text);
    if (ok) *ok = 1;
  }
  return g_init_text;
}

void WINAPI DISPLAYDLL_Done() {
  if (!g_session && HelperNeedsStart()) return;  // nothing was started, nothing to end
  if (HelperReady()) Call(kBridgeDone);
  g_session = false;
}

void WINAPI DISPLAYDLL_Write(const char* text) {
  if (!text) text = "";
  if (!HelperReady()) {
    ScreenStore(text);
    return;
  }
  // Each piece is written at the cursor the one before it left.
  size_t left = strlen(text);
  do {
    const size_t n = left < static_cast<size_t>(kBridgeTextSize - 1) ? left : kBridgeTextSize - 1;
    if (CallWrite(text, n) != HelperCall::kAnswered) return;
    text += n;
    left -= n;
  } while (left > 0);
}

void WINAPI DISPLAYDLL_SetPosition(uint32_t x, uint32_t y) { ScreenSetPosition(x, y); }

void WINAPI DISPLAYDLL_PowerResume() {
  if (HelperReady()) Call(kBridgePowerResume);
}

const char* WINAPI DISPLAYDLL_Usage() { return kUsage; }

const char* WINAPI DISPLAYDLL_DefaultParameters() { return kDefaultParameters; }

const char* WINAPI DISPLAYDLL_DriverName() { return kDriverName; }

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  // Freed by FreeLibrary (not the end of the process, where the job ends
  // the helper): the helper goes with the plug-in, and so do the section's
  // view and events.
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    HelperRelease();
    CommsStop(kBridgeSlot);
    CloseWaitTimer();
  }
  return TRUE;
}

}  // extern "C"
