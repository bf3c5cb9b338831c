#include "session_replay.h"

#include <cstring>

namespace {
// Byte arguments: only the low byte of a slot counts.
uint32_t Low(uint32_t slot) { return slot & 0xFF; }
}  // namespace

void SessionReplay::Begin(uint32_t size_x_slot, uint32_t size_y_slot, const char* init_parameters) {
  size_x = size_x_slot;
  size_y = size_y_slot;
  parameters = init_parameters;
  const uint32_t width = Low(size_x_slot), height = Low(size_y_slot);
  lines.assign(height, std::string(width, ' '));
  written.assign(height, false);
  custom_chars.clear();
  contrast = brightness = backlight = fan = color = Setting{};
  gpos.clear();
  x = y = 1;
}

void SessionReplay::SetPosition(uint32_t x_slot, uint32_t y_slot) {
  x = Low(x_slot);
  y = Low(y_slot);
}

void SessionReplay::Write(const char* text, size_t n) {
  if (y >= 1 && y <= lines.size() && x >= 1) {
    std::string& line = lines[y - 1];
    if (x <= line.size()) {
      const size_t fits = line.size() - (x - 1) < n ? line.size() - (x - 1) : n;
      line.replace(x - 1, fits, text, fits);
      written[y - 1] = true;
    }
  }
  x += static_cast<uint32_t>(n > 0xFFFF ? 0xFFFF : n);
}

void SessionReplay::CustomChar(uint32_t character_slot, const uint8_t* data) {
  std::array<uint8_t, 8> bytes;
  memcpy(bytes.data(), data, bytes.size());
  for (auto& defined : custom_chars) {
    if (Low(defined.first) == Low(character_slot)) {
      defined.second = bytes;
      return;
    }
  }
  custom_chars.emplace_back(character_slot, bytes);
}

void SessionReplay::Set(Setting& setting, uint32_t a, uint32_t b, uint32_t c) {
  setting.set = true;
  setting.args[0] = a;
  setting.args[1] = b;
  setting.args[2] = c;
}

void SessionReplay::SetGpo(uint32_t output, uint32_t state) {
  for (auto& gpo : gpos) {
    if (gpo.first == output) {
      gpo.second = state;
      return;
    }
  }
  gpos.emplace_back(output, state);
}
