#include "sim/numbers.h"

#include <exception>

namespace orv::sim {

std::optional<long> ParseInteger(const std::string& text, int base) {
  try {
    std::size_t used = 0;
    const long value = std::stol(text, &used, base);
    if (used == text.size()) return value;
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

std::optional<double> ParseSeconds(const std::string& text) {
  try {
    std::size_t used = 0;
    const double value = std::stod(text, &used);
    if (used == text.size() && value >= 0) return value;
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

}  // namespace orv::sim
