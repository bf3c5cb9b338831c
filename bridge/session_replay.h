#pragma once
// What the display host has asked of the display in this session, kept in
// the bridge, which sees every call: Init's sizes and parameters,
// the custom characters defined so far, the contrast, brightness,
// backlight, outputs, fan and colour last set, the text of every line
// written so far (each from its first column), and the cursor. Each item
// also says whether the 32-bit plug-in still owes it: a new helper's
// plug-in owes everything; a call that could not reach the plug-in (its
// helper busy with an earlier call, or gone) leaves what it changed owed.
// What is owed is given in this order, the current state only and not the
// calls that led to it: custom characters, contrast, brightness,
// backlight, outputs, fan, colour, lines, cursor.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct SessionReplay {
  // A call that sets something, with its last arguments (byte values).
  struct Setting {
    bool set = false;
    bool owed = false;
    uint32_t args[3] = {};
  };
  struct CustomCharacter {
    uint32_t slot;
    std::array<uint8_t, 8> data;
    bool owed;
  };
  struct Output {
    uint32_t number, state;
    bool owed;
  };

  uint32_t size_x = 0, size_y = 0;  // Init's arguments as the display host passed them
  std::string parameters;
  std::vector<std::string> lines;  // size_y lines of size_x characters
  std::vector<bool> written;
  std::vector<bool> line_owed;
  std::vector<CustomCharacter> custom_chars;  // in the order first defined
  Setting contrast, brightness, backlight, fan, color;
  std::vector<Output> gpos;  // in the order first set
  uint32_t x = 1, y = 1;     // the cursor, 1-based
  bool cursor_owed = false;

  void Begin(uint32_t size_x_slot, uint32_t size_y_slot, const char* init_parameters);
  // Each change says whether the plug-in was given it (`given`); if not,
  // it is owed.
  void SetPosition(uint32_t x_slot, uint32_t y_slot, bool given);
  // Puts `text` at the cursor, cut at the line's end, and moves the cursor on.
  void Write(const char* text, size_t n, bool given);
  void CustomChar(uint32_t character_slot, const uint8_t* data, bool given);
  static void Set(Setting& setting, bool given, uint32_t a, uint32_t b = 0, uint32_t c = 0);
  void SetGpo(uint32_t output, uint32_t state, bool given);
  // A new plug-in has been given nothing yet: everything set is owed.
  void OweAll();
  bool Owes() const;
};
