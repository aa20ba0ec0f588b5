#pragma once

#include <optional>
#include <string>

namespace orv::sim {

// The whole text as an integer (base 0 also takes 0x.. for hexadecimal), or nothing.
std::optional<long> ParseInteger(const std::string& text, int base = 0);
// The whole text as a number of seconds, 0 or more, or nothing.
std::optional<double> ParseSeconds(const std::string& text);
// Whether the count-th of something is one of every period-th; never for a period of 0.
inline bool Every(int period, int count) {
  return period > 0 && count % period == 0;
}

}  // namespace orv::sim
