#include "platform/leading_number.h"

#include <algorithm>

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

}  // namespace orv
