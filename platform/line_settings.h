#pragma once

#include <optional>
#include <string_view>

namespace orv {

enum class Parity { kNone, kEven, kOdd, kMark, kSpace };
enum class StopBits { kOne, kOneAndHalf, kTwo };

// Line parameters of a serial port, as read from a settings text such as "9600,N,8,1".
struct LineSettings {
  int baud_rate = 9600;
  Parity parity = Parity::kNone;
  int data_bits = 8;
  StopBits stop_bits = StopBits::kOne;

  bool operator==(const LineSettings&) const = default;
};

// Reads "baud,parity,data bits,stop bits": a positive baud rate, one of N E O M S in either
// letter case, 5 to 8 data bits and 1, 1.5 or 2 stop bits. Blanks around a field are allowed.
// Anything else gives nullopt, so that the caller keeps the settings it had.
std::optional<LineSettings> ParseLineSettings(std::string_view text);

}  // namespace orv
