#include "pad_calls.h"

#include "layer_binding.h"
#include "layer_functions.h"
#include "library_log.h"
#include "screen_model.h"

namespace {

constexpr int32_t kLineStyle = 2;

char g_line[kScreenColumns + 1];

// A function the layer lacks is not called. Said once per function and
// loaded layer: the display host writes several times a second, and a line
// each time would grow the log without end.
bool Present(LayerFunction function) {
  if (LayerEntry(function)) return true;
  if (FirstSkipOf(function)) LogWritef("Skipped", "%s is not in MediaPadLayer.dll", kLayerFunctionNames[function]);
  return false;
}

void Check(const char* failed_tag, int32_t result) {
  if (result != 0) LogValue(failed_tag, result);
}

}  // namespace

double PadQueryUid(double* uid) {
  if (!Present(kGetMediapadUid)) return 0.0;
  return LayerEntryAs<GetMediapadUidFn>(kGetMediapadUid)(uid);
}

void PadMakeBeep(UidSlots uid) {
  if (Present(kMakeBeep)) Check("makeBeep failed", LayerEntryAs<UidOnlyFn>(kMakeBeep)(uid));
}

void PadControlLed(UidSlots uid, int32_t state) {
  if (Present(kControlLed)) Check("controlLed failed", LayerEntryAs<UidValueFn>(kControlLed)(uid, state));
}

void PadSetMode(UidSlots uid, int32_t mode) {
  if (Present(kSetMode)) Check("SetMode failed", LayerEntryAs<UidValueFn>(kSetMode)(uid, mode));
}

void PadClearScreen(UidSlots uid) {
  if (Present(kClearScreen)) Check("clearScreen failed", LayerEntryAs<UidOnlyFn>(kClearScreen)(uid));
}

void PadSetIconState(UidSlots uid, int32_t icon, int32_t state) {
  if (Present(kSetIconState))
    Check("SetIconState failed", LayerEntryAs<SetIconStateFn>(kSetIconState)(uid, icon, state));
}

void PadSendLine(UidSlots uid, int line) {
  ScreenCopyLine(line, g_line);
  if (!Present(kSetLine)) return;
  const int32_t result = LayerEntryAs<SetLineFn>(kSetLine)(uid, line, g_line, kLineStyle);
  if (result != 0) {
    LogValue("setLine failed", result);
    LogValue("Line", line + 1);
  }
}
