#include "plugin32_calls.h"

#include <cstdio>
#include <cstring>

#include "debug_log.h"
#include "display_entry_names.h"
#include "guarded_call.h"
#include "typed_export.h"

namespace {

void SetText(BridgeRecord& record, const char* text) {
  const size_t n = text ? strnlen(text, kBridgeTextSize - 1) : 0;
  if (n) memcpy(record.text, text, n);
  record.text[n] = '\0';
  record.text_length = static_cast<int32_t>(n);
}

void ClearText(BridgeRecord& record) { SetText(record, nullptr); }

// A text the plug-in returned, or a null it returned, which stays null.
void SetAnswer(BridgeRecord& record, const char* text) {
  SetText(record, text);
  record.result = text ? kTextGiven : kTextNull;
}

using TextFn = Plugin32Calls::TextFn;

}  // namespace

// An entry point by its plain name or, where the plug-in has only that,
// its decorated one: the bridge exports the same names as the plug-in, and
// a call through either reaches the plug-in's entry of that name.
namespace {
template <typename Fn>
Fn Entry(HMODULE plugin, DisplayEntry entry) {
  if (Fn fn = LookupExport<Fn>(plugin, kDisplayEntryNames[entry])) return fn;
  return LookupExport<Fn>(plugin, DecoratedEntryName(entry).text);
}
}  // namespace

void Plugin32Calls::Load(HMODULE plugin) {
  loaded_ = true;
  init = Entry<InitFn>(plugin, kEntryInit);
  done = Entry<VoidFn>(plugin, kEntryDone);
  write = Entry<WriteFn>(plugin, kEntryWrite);
  set_position = Entry<PositionFn>(plugin, kEntrySetPosition);
  power_resume = Entry<VoidFn>(plugin, kEntryPowerResume);
  custom_char = Entry<CustomCharFn>(plugin, kEntryCustomChar);
  custom_char_index = Entry<IndexFn>(plugin, kEntryCustomCharIndex);
  read_key = Entry<ReadKeyFn>(plugin, kEntryReadKey);
  set_backlight = Entry<ByteFn>(plugin, kEntrySetBacklight);
  set_contrast = Entry<ByteFn>(plugin, kEntrySetContrast);
  set_brightness = Entry<ByteFn>(plugin, kEntrySetBrightness);
  set_gpo = Entry<TwoBytesFn>(plugin, kEntrySetGpo);
  set_fan = Entry<TwoBytesFn>(plugin, kEntrySetFan);
  set_color = Entry<ThreeBytesFn>(plugin, kEntrySetColor);
  usage = Entry<TextFn>(plugin, kEntryUsage);
  driver_name = Entry<TextFn>(plugin, kEntryDriverName);
  default_parameters = Entry<TextFn>(plugin, kEntryDefaultParameters);
}

void Plugin32Calls::SetLoadProblem(const char* path, unsigned long error, bool file_exists) {
  if (file_exists) {
    snprintf(problem_, sizeof problem_, "the 32-bit plug-in %s could not be loaded (error %lu)", path, error);
  } else {
    snprintf(problem_, sizeof problem_, "32-bit plug-in not found: %s", path);
  }
}

bool Plugin32Calls::Serve(BridgeRecord& record) {
  record.fault_code = 0;
  record.fault_address = 0;
  if (record.opcode == kBridgeQuit) return false;
  struct Call {
    Plugin32Calls* calls;
    BridgeRecord* record;
  } call{this, &record};
  GuardedFault fault;
  if (!GuardedCall([](void* c) { static_cast<Call*>(c)->calls->Make(*static_cast<Call*>(c)->record); }, &call,
                   &fault)) {
    record.fault_code = fault.code;
    record.fault_address = fault.address;
    ClearText(record);
    record.result = record.opcode == kBridgeReadKey ? 0xFF00 : 0;
  }
  return true;
}

void Plugin32Calls::Make(BridgeRecord& record) {
  const uint32_t* a = record.args;
  if (record.position_first && set_position) set_position(record.x, record.y);
  // A text call of a plug-in that could not be loaded says why.
  const auto text_call = [&](TextFn fn) {
    if (loaded_) return SetAnswer(record, fn ? fn() : "");
    SetText(record, problem_);
    record.result = kTextNoPlugin;
  };
  switch (record.opcode) {
    case kBridgeInit: {
      BoundedTextLength(record);
      record.ok = 0;
      if (!loaded_ || !init) {
        text_call(nullptr);
        break;
      }
      // The OK byte lands in the record itself: a fault later in Init
      // leaves it as the plug-in set it.
      const char* answer = init(a[0], a[1], record.text, reinterpret_cast<uint8_t*>(&record.ok));
      SetAnswer(record, answer);
      break;
    }
    case kBridgeDone:
      if (done) done();
      break;
    case kBridgeWrite:
      BoundedTextLength(record);
      if (write) write(record.text);
      ClearText(record);
      break;
    case kBridgeSetPosition: break;  // position_first has made it
    case kBridgeCustomChar: {
      uint8_t data[8];
      memcpy(data, record.data, sizeof data);
      if (custom_char) custom_char(a[0], data);
      break;
    }
    case kBridgeCustomCharIndex: record.result = custom_char_index ? custom_char_index(a[0]) : 0; break;
    case kBridgeReadKey: record.result = read_key ? read_key() : 0xFF00; break;
    case kBridgeSetBacklight:
      if (set_backlight) set_backlight(a[0]);
      break;
    case kBridgeSetContrast:
      if (set_contrast) set_contrast(a[0]);
      break;
    case kBridgeSetBrightness:
      if (set_brightness) set_brightness(a[0]);
      break;
    case kBridgeSetGpo:
      if (set_gpo) set_gpo(a[0], a[1]);
      break;
    case kBridgeSetFan:
      if (set_fan) set_fan(a[0], a[1]);
      break;
    case kBridgeSetColor:
      if (set_color) set_color(a[0], a[1], a[2]);
      break;
    case kBridgePowerResume:
      if (power_resume) power_resume();
      break;
    case kBridgeUsage: text_call(usage); break;
    case kBridgeDriverName: text_call(driver_name); break;
    case kBridgeDefaultParameters: text_call(default_parameters); break;
    default: LogWritef("Helper", "unknown call %d", static_cast<int>(record.opcode)); break;
  }
}
