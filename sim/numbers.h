#pragma once

#include <optional>
#include <string>

namespace orv::sim {

// The whole text as an integer (base 0 also takes 0x.. for hexadecimal), or nothing.
std::optional<long> ParseInteger(const std::string& text, int base = 0);
// The whole text as a number of seconds, 0 or more, or nothing.
std::optional<double> ParseSeconds(const std::string& text);

}  // namespace orv::sim
