#pragma once

#include <cstdint>
#include <string>

#include "platform/controls.h"
#include "platform/serial_port.h"

namespace orv {

// The text of one received byte in a display mode: 1 Char (Windows-1252, "." for the five
// undefined codes), 2 Hex ("2BH "), 3 Dec ("043 "), anything else nothing.
std::string FormatReceivedByte(std::uint8_t byte, std::uint8_t mode);

// Shows every received chunk raw, before any frame is assembled.
class ReceivedDataDisplay {
 public:
  enum Mode : std::uint8_t { kNone = 0, kChar = 1, kHex = 2, kDec = 3 };
  // Weeks of traffic must not grow the box without bound: only the newest characters stay
  // (characters as shown, whatever their length in UTF-8).
  static constexpr std::size_t kMaxTextLength = 65536;

  void AppendReceivedBytes(TextBox& box, const Bytes& bytes) const;
  void DisplayType_OptionButton_Click(int index);

  std::uint8_t display_mode() const { return DisplayMode; }
  void set_display_mode(std::uint8_t mode) { DisplayMode = mode; }

 private:
  std::uint8_t DisplayMode = kNone;
};

}  // namespace orv
