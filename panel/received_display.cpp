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
  for (const std::uint8_t b : bytes) text += FormatReceivedByte(b, DisplayMode);
  if (text.empty()) return;
  const std::string& shown = box.text();
  const std::size_t total = shown.size() + text.size();
  std::size_t drop = total > kMaxTextLength ? total - kMaxTextLength : 0;
  // Cut at a character boundary, never inside a UTF-8 sequence.
  auto continuation = [&](std::size_t at) {
    const char c = at < shown.size() ? shown[at] : text[at - shown.size()];
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
  };
  while (drop > 0 && drop < total && continuation(drop)) ++drop;
  if (drop > shown.size()) {
    text.erase(0, drop - shown.size());
    drop = shown.size();
  }
  box.AppendText(text, drop);
}

void ReceivedDataDisplay::DisplayType_OptionButton_Click(int index) {
  const auto mode = static_cast<std::uint8_t>(index >= 0 && index <= 2 ? index + 1 : kNone);
  if (mode != DisplayMode) DisplayMode = mode;
}

}  // namespace orv
