#pragma once

#include <string>
#include <string_view>

namespace orv {

// The text with every byte that does not belong to a well-formed UTF-8 sequence (a stray
// continuation byte, a truncated or overlong sequence, a surrogate, a code point past U+10FFFF)
// replaced by U+FFFD, so that what leaves the program is always valid UTF-8.
std::string ValidUtf8(std::string_view text);

// Appends text as a JSON string, quotes included: quote, backslash and every control character
// escaped, other characters passed through as UTF-8 (invalid bytes become U+FFFD first).
void AppendJsonString(std::string& out, std::string_view text);

}  // namespace orv
