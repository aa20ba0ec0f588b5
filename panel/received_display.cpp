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
  // Counted in characters, the box's own count included: a Char byte may take three bytes of
  // UTF-8, and the box's text may have been replaced since the last chunk.
  const std::size_t shown = box.char_count();
  const std::size_t total = shown + Utf8Length(text);
  std::size_t drop = total > kMaxTextLength ? total - kMaxTextLength : 0;
  if (drop > shown) {
    // The chunk alone is over the bound: only its newest characters go in.
    text.erase(0, Utf8Offset(text, drop - shown));
    drop = shown;
  }
  box.AppendText(text, drop);
}

void ReceivedDataDisplay::DisplayType_OptionButton_Click(int index) {
  const auto mode = static_cast<std::uint8_t>(index >= 0 && index <= 2 ? index + 1 : kNone);
  if (mode != DisplayMode) DisplayMode = mode;
}

}  // namespace orv
