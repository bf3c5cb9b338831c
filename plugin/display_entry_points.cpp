// The plug-in's entry points: set-up and shut-down of the pad, and the
// screen text sent line by line through the layer.

#include <cmath>
#include <cstdio>
#include <cstring>

#include "display_plugin.h"
#include "layer_binding.h"
#include "layer_functions.h"
#include "library_log.h"
#include "pad_calls.h"
#include "screen_model.h"
#include "wait_seam.h"

namespace {

constexpr char kLoadFailed[] = "Failed to load MediaPadLayer.dll";
constexpr char kNoLayer[] = "MediaPadLayer.dll not loaded";
constexpr char kUsage[] = "32 bit systems only!";
constexpr char kDefaultParameters[] = " ";
constexpr char kDriverNameStem[] = "MediaPad Display v";
constexpr char kDriverVersion[] = "1.2.201.1126";
constexpr char kLogSwitch[] = "Log";
constexpr uint32_t kUidRetryMs = 1000;
// Attempts, a second apart, before Init gives up on a pad that does not
// answer (unplugged, or no vendor library behind the proxy): the display
// host must not wait for ever before it shows its window.
constexpr int kUidAttempts = 30;

int32_t g_initialised;
double g_uid;
char g_driver_name[sizeof kDriverNameStem + sizeof kDriverVersion];
char g_no_pad_text[96];

bool EndsWithLogSwitch(const char* parameters) {
  const size_t n = parameters ? strlen(parameters) : 0;
  const size_t k = sizeof kLogSwitch - 1;
  return n >= k && memcmp(parameters + n - k, kLogSwitch, k) == 0;
}

// The query's floating-point result as a log number: truncated, clamped,
// and 0 for a NaN.
int LogNumber(double value) {
  if (std::isnan(value)) return 0;
  if (value <= -2147483648.0) return INT32_MIN;
  if (value >= 2147483647.0) return INT32_MAX;
  return static_cast<int>(value);
}

// The UID's bytes as they travel; never through a floating-point register.
UidSlots Uid() {
  UidSlots slots;
  memcpy(&slots, &g_uid, sizeof slots);
  return slots;
}

// Both zeros count as zero, every NaN pattern as non-zero. Tested on the
// bits: a floating-point comparison would load the UID into the x87 unit,
// which traps on a signalling-NaN pattern where exceptions are unmasked.
bool UidIsZero() {
  uint64_t bits;
  memcpy(&bits, &g_uid, sizeof bits);
  return (bits << 1) == 0;
}

// Asks the layer for the UID once a second until it is not zero; false
// after kUidAttempts attempts without one.
bool WaitForPad() {
  memset(&g_uid, 0, sizeof g_uid);
  for (int attempt = 1;; ++attempt) {
    const double result = PadQueryUid(&g_uid);
    LogWritef("Init", "getMediapadUID returned %d, UID=0x%08x", LogNumber(result), Uid().low);
    PadControlLed(Uid(), 1);
    if (!UidIsZero()) return true;
    if (attempt == kUidAttempts) return false;
    VornSleep(kUidRetryMs);
  }
}

void SetUpPad() {
  PadMakeBeep(Uid());
  PadControlLed(Uid(), 1);
  PadSetMode(Uid(), 1);
  PadClearScreen(Uid());
  const int32_t icons[] = {0, 1, 3, 2};
  for (int32_t icon : icons) PadSetIconState(Uid(), icon, 0);
  PadSetMode(Uid(), 1);
  PadSendLine(Uid(), 0);
  PadSendLine(Uid(), 1);
}

// Initialised and holding a loaded layer, so the layer may be called. After
// a failed load the flag is set but there is no layer.
bool PadReady() { return g_initialised && LayerLoaded(); }

// First Init since load or Done, or a retry after a failed one: the debug
// level, the layer and the UID are worked out anew. Null when the pad is
// ready, else the text for the display host. A failure leaves no layer, so
// that Done and a later Init find what they find after a failed load.
const char* StartSession(const char* parameters) {
  g_initialised = 1;
  LogSetLevel(EndsWithLogSwitch(parameters) ? 1 : 0);
  LogWrite("Init", "Called ");
  if (LoadMediaPadFunctions() != 0) return kLoadFailed;
  if (!LayerEntry(kGetMediapadUid)) {
    // Without getMediapadUID the pad can never answer: waiting would hang
    // the display host for good.
    LogWrite("Init", "getMediapadUID is not in MediaPadLayer.dll");
    UnloadMediaPadLayer();
    return kLoadFailed;
  }
  if (!WaitForPad()) {
    LogWritef("Init", "no UID from the pad after %d attempts", kUidAttempts);
    UnloadMediaPadLayer();
    snprintf(g_no_pad_text, sizeof g_no_pad_text, "MediaPad did not answer; see logs\\%s.log", ModuleName());
    return g_no_pad_text;
  }
  return nullptr;
}

}  // namespace

extern "C" {

const char* WINAPI DISPLAYDLL_Init(uint32_t, uint32_t, const char* parameters, uint8_t* ok) {
  ScreenShowStartupText();
  if (ok) *ok = 0;
  if (PadReady()) {
    LogWrite("Init", "reCalled ");
  } else if (const char* failure = StartSession(parameters)) {
    return failure;
  }
  ScreenHome();
  SetUpPad();
  DISPLAYDLL_PowerResume();
  LogWrite("Init", "Complete");
  if (ok) *ok = 1;
  return DISPLAYDLL_DriverName();
}

void WINAPI DISPLAYDLL_Done() {
  // Before any Init, or a second Done: no layer and no open log. Logging now
  // would start a new log cycle and empty the last session's file.
  if (!g_initialised) return;
  if (LayerLoaded()) {
    PadControlLed(Uid(), 0);
    PadSetMode(Uid(), 3);
  } else {
    LogWrite("Done", kNoLayer);
  }
  UnloadMediaPadLayer();
  g_initialised = 0;
  LogWrite("Done", "Bye");
  LogClose();
}

void WINAPI DISPLAYDLL_Write(const char* text) {
  ScreenStore(text ? text : "");
  if (!PadReady()) {
    if (g_initialised) LogWrite("Write", kNoLayer);  // only an open log cycle is written to
    return;
  }
  for (int line = 0; line < 2; ++line) {
    PadSetMode(Uid(), 1);
    PadSendLine(Uid(), line);
  }
}

void WINAPI DISPLAYDLL_SetPosition(uint32_t x, uint32_t y) { ScreenSetPosition(x, y); }

void WINAPI DISPLAYDLL_CustomChar(uint32_t, uint32_t) {}

uint8_t WINAPI DISPLAYDLL_CustomCharIndex(uint32_t index) { return CustomCharCode(index); }

const char* WINAPI DISPLAYDLL_Usage() { return kUsage; }

const char* WINAPI DISPLAYDLL_DefaultParameters() { return kDefaultParameters; }

const char* WINAPI DISPLAYDLL_DriverName() {
  snprintf(g_driver_name, sizeof g_driver_name, "%s%s", kDriverNameStem, kDriverVersion);
  return g_driver_name;
}

void WINAPI DISPLAYDLL_PowerResume() { LogWrite("PowerResume", "Entered"); }

}  // extern "C"
