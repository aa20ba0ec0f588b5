#pragma once

// Operators' PINs: the rule a new PIN must meet, and yescrypt hashes made and checked by the
// system's libcrypt, so that the users file never holds a PIN itself.

#include <optional>
#include <string>
#include <string_view>

namespace orv {

// At least 4 digits, digits only (a PIN pad can type it). At most 64, so that nobody feeds the
// hash a novel.
bool IsValidPin(std::string_view pin);

// A fresh yescrypt hash ("$y$...") with a random salt from the system, or none when libcrypt
// fails.
std::optional<std::string> HashPin(std::string_view pin);

// Whether pin hashes to hash. False for any hash libcrypt cannot use.
bool VerifyPin(std::string_view pin, std::string_view hash);

}  // namespace orv
