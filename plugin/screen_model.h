#pragma once
// The plug-in's image of the 2x16 display and its cursor. The character at
// row r, column c is at position 16*r + c of the screen text.

#include <cstdint>

constexpr int kScreenColumns = 16;
constexpr int kScreenRows = 2;
constexpr int kScreenChars = kScreenColumns * kScreenRows;

struct Screen {
  char text[kScreenChars + 1];
  int32_t row;
  int32_t column;
};

const Screen& CurrentScreen();

// Puts the start-up text in the screen text; the cursor is not moved.
void ScreenShowStartupText();
void ScreenHome();
// Stores each character at the cursor and advances it, wrapping from the
// end of a line to the next and from the bottom line to the top.
void ScreenStore(const char* text);
// 1-based x and y, low byte only, clamped to the display.
void ScreenSetPosition(uint32_t x, uint32_t y);
// Line 0 or 1 as 16 characters and a NUL.
void ScreenCopyLine(int line, char out[kScreenColumns + 1]);

// The character code of custom character `index` (low byte only).
uint8_t CustomCharCode(uint32_t index);
