#pragma once

#include <string_view>

namespace orv {

// The leading decimal number of a text ("3", "3abc", "+2.5", "-1"), rounded half to even; 0 when
// the text does not start with one. Used wherever the operator or a file gives a number as text.
long LeadingNumber(std::string_view text);

}  // namespace orv
