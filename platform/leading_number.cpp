#include "platform/leading_number.h"

#include <algorithm>
#include <charconv>

namespace orv {

// The leading decimal number of the text ("3", "3abc", "+2.5", "-1"), rounded half to even; 0
// when the text does not start with one. The whole part saturates at a million, so that no digit
// string can overflow; such a value is far outside any port number anyway.
long LeadingNumber(std::string_view text) {
  constexpr long kSaturation = 1'000'000;
  std::size_t i = 0;
  const auto is_digit = [&] { return i < text.size() && text[i] >= '0' && text[i] <= '9'; };
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long whole = 0;
  for (; is_digit(); ++i)
    whole = std::min(kSaturation, whole * 10 + (text[i] - '0'));
  if (i < text.size() && text[i] == '.') {
    ++i;
    const int first = is_digit() ? text[i++] - '0' : 0;
    bool rest_nonzero = false;
    for (; is_digit(); ++i)
      rest_nonzero = rest_nonzero || text[i] != '0';
    if (first > 5 || (first == 5 && (rest_nonzero || whole % 2 == 1))) ++whole;
  }
  return negative ? -whole : whole;
}

std::optional<long> WholeNumberIn(std::string_view text, long min, long max) {
  if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
  long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (value < min || value > max) return std::nullopt;
  return value;
}

}  // namespace orv
