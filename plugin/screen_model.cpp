#include "screen_model.h"

#include <cstring>

namespace {

constexpr char kStartupText[kScreenChars + 1] = "   LCDSmartie    MediaPad plugin";
static_assert(sizeof kStartupText == kScreenChars + 1, "the start-up text fills both lines exactly");

Screen g_screen;

}  // namespace

const Screen& CurrentScreen() { return g_screen; }

void ScreenShowStartupText() {
  memcpy(g_screen.text, kStartupText, kScreenChars);
  g_screen.text[kScreenChars] = '\0';
}

void ScreenHome() {
  g_screen.row = 0;
  g_screen.column = 0;
}

void ScreenStore(const char* text) {
  for (const char* c = text; *c; ++c) {
    g_screen.text[kScreenColumns * g_screen.row + g_screen.column] = *c;
    if (++g_screen.column > kScreenColumns - 1) {
      g_screen.column = 0;
      if (++g_screen.row > kScreenRows - 1) g_screen.row = 0;
    }
  }
}

void ScreenSetPosition(uint32_t x, uint32_t y) {
  const uint8_t column = static_cast<uint8_t>(x);
  const uint8_t row = static_cast<uint8_t>(y);
  g_screen.column = column > kScreenColumns ? kScreenColumns - 1 : (column == 0 ? 0 : column - 1);
  g_screen.row = row > kScreenRows ? kScreenRows - 1 : (row == 0 ? 0 : row - 1);
}

void ScreenCopyLine(int line, char out[kScreenColumns + 1]) {
  memcpy(out, g_screen.text + kScreenColumns * line, kScreenColumns);
  out[kScreenColumns] = '\0';
}

uint8_t CustomCharCode(uint32_t index) {
  const uint8_t i = static_cast<uint8_t>(index);
  return i == 1 ? 8 : static_cast<uint8_t>(i - 1);
}
