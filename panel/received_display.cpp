#include "panel/received_display.h"

#include <cstdio>
#include <string_view>

#include "platform/text_encoding.h"

namespace orv {
namespace {

// The five codes that Windows-1252 leaves undefined show as ".".
bool Undefined(std::uint8_t byte) {
  return byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
}

std::string CharText(std::uint8_t byte) {
  if (Undefined(byte)) return ".";
  const char c = static_cast<char>(byte);
  return Cp1252ToUtf8(std::string_view(&c, 1));
}

}  // namespace

std::string FormatReceivedByte(std::uint8_t byte, std::uint8_t mode) {
  char text[8];
  switch (mode) {
    case ReceivedDataDisplay::kChar:
      return CharText(byte);
    case ReceivedDataDisplay::kHex:
      std::snprintf(text, sizeof text, "%02XH ", byte);
      return text;
    case ReceivedDataDisplay::kDec:
      std::snprintf(text, sizeof text, "%03u ", byte);
      return text;
    default:
      return {};
  }
}

void ReceivedDataDisplay::AppendReceivedBytes(TextBox& box, const Bytes& bytes) const {
  std::string text;
  for (const std::uint8_t b : bytes)
    text += FormatReceivedByte(b, DisplayMode);
  if (text.empty()) return;
  std::string all = box.text() + text;
  if (all.size() > kMaxTextLength) {
    // Cut at a character boundary, never inside a UTF-8 sequence.
    std::size_t cut = all.size() - kMaxTextLength;
    while (cut < all.size() && (static_cast<unsigned char>(all[cut]) & 0xC0) == 0x80)
      ++cut;
    all.erase(0, cut);
  }
  box.SetText(all);
}

void ReceivedDataDisplay::DisplayType_OptionButton_Click(int index) {
  const auto mode = static_cast<std::uint8_t>(index >= 0 && index <= 2 ? index + 1 : kNone);
  if (mode != DisplayMode) DisplayMode = mode;
}

}  // namespace orv
