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
  line_owed.assign(height, false);
  custom_chars.clear();
  contrast = brightness = backlight = fan = color = Setting{};
  gpos.clear();
  x = y = 1;
  cursor_owed = false;
}

void SessionReplay::SetPosition(uint32_t x_slot, uint32_t y_slot, bool given) {
  x = Low(x_slot);
  y = Low(y_slot);
  if (!given) cursor_owed = true;
}

void SessionReplay::Write(const char* text, size_t n, bool given) {
  if (y >= 1 && y <= lines.size() && x >= 1) {
    std::string& line = lines[y - 1];
    if (x <= line.size()) {
      const size_t fits = line.size() - (x - 1) < n ? line.size() - (x - 1) : n;
      line.replace(x - 1, fits, text, fits);
      written[y - 1] = true;
      if (!given) line_owed[y - 1] = true;
    }
  }
  x += static_cast<uint32_t>(n > 0xFFFF ? 0xFFFF : n);
  if (!given) cursor_owed = true;
}

void SessionReplay::CustomChar(uint32_t character_slot, const uint8_t* data, bool given) {
  std::array<uint8_t, 8> bytes;
  memcpy(bytes.data(), data, bytes.size());
  for (auto& defined : custom_chars) {
    if (Low(defined.slot) == Low(character_slot)) {
      defined.data = bytes;
      defined.owed = defined.owed || !given;
      return;
    }
  }
  custom_chars.push_back(CustomCharacter{character_slot, bytes, !given});
}

void SessionReplay::Set(Setting& setting, bool given, uint32_t a, uint32_t b, uint32_t c) {
  setting.set = true;
  setting.owed = setting.owed || !given;
  setting.args[0] = a;
  setting.args[1] = b;
  setting.args[2] = c;
}

void SessionReplay::SetGpo(uint32_t output, uint32_t state, bool given) {
  for (auto& gpo : gpos) {
    if (gpo.number == output) {
      gpo.state = state;
      gpo.owed = gpo.owed || !given;
      return;
    }
  }
  gpos.push_back(Output{output, state, !given});
}

void SessionReplay::OweAll() {
  for (auto& defined : custom_chars) defined.owed = true;
  for (Setting* setting : {&contrast, &brightness, &backlight, &fan, &color}) setting->owed = setting->set;
  for (auto& gpo : gpos) gpo.owed = true;
  for (size_t i = 0; i < lines.size(); ++i) line_owed[i] = written[i];
  cursor_owed = true;
}

bool SessionReplay::Owes() const {
  for (const auto& defined : custom_chars)
    if (defined.owed) return true;
  for (const Setting* setting : {&contrast, &brightness, &backlight, &fan, &color})
    if (setting->owed) return true;
  for (const auto& gpo : gpos)
    if (gpo.owed) return true;
  for (bool owed : line_owed)
    if (owed) return true;
  return cursor_owed;
}
