#pragma once
// What a new helper's 32-bit plug-in is given when the one before it has
// died during a session, so that the display shows what it showed: Init
// with the session's sizes and parameters, the custom characters defined
// so far, the contrast, brightness, backlight, outputs, fan and colour last
// set, the text of every line written so far (each from its first column),
// then the cursor where the display host left it. Kept in the 64-bit
// bridge, which sees every call.

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct SessionReplay {
  // A call that sets something, with its last arguments (byte values).
  struct Setting {
    bool set = false;
    uint32_t args[3] = {};
  };

  uint32_t size_x = 0, size_y = 0;  // Init's arguments as the display host passed them
  std::string parameters;
  std::vector<std::string> lines;  // size_y lines of size_x characters
  std::vector<bool> written;
  std::vector<std::pair<uint32_t, std::array<uint8_t, 8>>> custom_chars;  // in the order first defined
  Setting contrast, brightness, backlight, fan, color;
  std::vector<std::pair<uint32_t, uint32_t>> gpos;  // (output, state), in the order first set
  uint32_t x = 1, y = 1;                            // the cursor, 1-based

  void Begin(uint32_t size_x_slot, uint32_t size_y_slot, const char* init_parameters);
  void SetPosition(uint32_t x_slot, uint32_t y_slot);
  // Puts `text` at the cursor, cut at the line's end, and moves the cursor on.
  void Write(const char* text, size_t n);
  void CustomChar(uint32_t character_slot, const uint8_t* data);
  static void Set(Setting& setting, uint32_t a, uint32_t b = 0, uint32_t c = 0);
  void SetGpo(uint32_t output, uint32_t state);
};
