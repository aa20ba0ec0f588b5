#pragma once

#include <string>
#include <string_view>

namespace orv {

// Appends text as a JSON string, quotes included, as Qt's JSON writer escapes it (quote,
// backslash and every control character); invalid UTF-8 bytes become U+FFFD first.
void AppendJsonString(std::string& out, std::string_view text);

}  // namespace orv
