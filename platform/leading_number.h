#pragma once

#include <optional>
#include <string_view>

namespace orv {

// The leading decimal number of a text ("3", "3abc", "+2.5", "-1"), rounded half to even; 0 when
// the text does not start with one. Used wherever the operator or a file gives a number as text.
long LeadingNumber(std::string_view text);

// The whole text as a decimal number from min to max; none for anything else (a sign, a blank, a
// fraction, a number out of range, however many digits). The site settings' numbers read so.
std::optional<long> WholeNumberIn(std::string_view text, long min, long max);

}  // namespace orv
