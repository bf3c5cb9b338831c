#pragma once
// The helper's side of each forwarded call: the 32-bit plug-in's entry
// points, looked up by their plain names as the display host looks them
// up (or by their decorated ones, where the plug-in has only those), and
// the call a record asks for made on them. An entry point the plug-in
// lacks is never called.

#include <windows.h>

#include <cstdint>

#include "bridge_record.h"
#include "display_session_entries.h"

struct Plugin32Calls : DisplaySessionEntries {
  using TextFn = const char*(WINAPI*)();
  using ByteFn = void(WINAPI*)(uint32_t);
  using TwoBytesFn = void(WINAPI*)(uint32_t, uint32_t);
  using ThreeBytesFn = void(WINAPI*)(uint32_t, uint32_t, uint32_t);
  using CustomCharFn = void(WINAPI*)(uint32_t, const uint8_t*);
  using IndexFn = uint8_t(WINAPI*)(uint32_t);
  using ReadKeyFn = uint16_t(WINAPI*)();

  VoidFn power_resume = nullptr;
  CustomCharFn custom_char = nullptr;
  IndexFn custom_char_index = nullptr;
  ReadKeyFn read_key = nullptr;
  ByteFn set_backlight = nullptr, set_contrast = nullptr, set_brightness = nullptr;
  TwoBytesFn set_gpo = nullptr, set_fan = nullptr;
  ThreeBytesFn set_color = nullptr;
  TextFn usage = nullptr, driver_name = nullptr, default_parameters = nullptr;

  void Load(HMODULE plugin);
  // Why the plug-in at `path` could not be loaded: the loader's `error`, or
  // no such file. Init and the setup dialog's texts then say so.
  void SetLoadProblem(const char* path, unsigned long error, bool file_exists);
  // Makes the call `record` asks for and puts its results into it; false
  // when the helper is to end. A fault inside the plug-in that it does not
  // handle itself ends the call, not the helper: the record then says so
  // (fault_code), with the answers of a call that gave none.
  bool Serve(BridgeRecord& record);

 private:
  void Make(BridgeRecord& record);
  bool loaded_ = false;
  char problem_[2 * MAX_PATH] = {};
};
