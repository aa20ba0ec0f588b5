#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/profile.h"

namespace orv {

// What a site key may hold. An empty value, or none, is the key's default in every kind.
enum class SiteValue {
  kText,     // anything but a comment after it
  kNumber,   // a whole number from min to max (or 0, with zero_too)
  kSwitch,   // 0 or 1
  kAddress,  // an address and a port: 127.0.0.1:8080, [::1]:8080
};

// One key of the site's settings, with what it may hold, its default (number for numbers and
// switches, text for the rest) and whether a reload of the running service takes it.
struct SiteKey {
  std::string_view section;
  std::string_view key;
  SiteValue kind = SiteValue::kText;
  long min = 0;
  long max = 0;
  bool zero_too = false;
  long number = 0;
  std::string_view text = {};
  bool live = false;
};

// A settings file read, by the name it is reported under; the first that sets a key gives it.
struct SettingsSource {
  std::string name;
  const ProfileSnapshot* profile = nullptr;
};

// The value a key has and where it came from ("FILE:LINE", or "default").
struct CheckedValue {
  const SiteKey* key = nullptr;
  std::string value;
  std::string where;
};

struct SettingsCheck {
  std::vector<CheckedValue> values;  // every key, in the table's order
  // "FILE:LINE: [Section] Key=value is not ...": each refused value, in the table's order.
  std::vector<std::string> refusals;
  // "FILE:LINE: ..." for what no loader reads: a key a section of the table does not have, a key
  // set again (the first is taken), a comment after a value outside the table's keys. Said, but
  // no reason to refuse a start.
  std::vector<std::string> warnings;
  bool ok() const { return refusals.empty(); }
};

// What the key allows, as the end of "is not ..." ("a number from 2 to 100 (or 0)"); empty for
// text, which allows anything but a comment.
std::string AllowedText(const SiteKey& key);

// Every key of the table looked up in the sources and judged.
SettingsCheck CheckSettings(std::span<const SiteKey> keys, std::span<const SettingsSource> sources);

// The report of --check-settings: every value with where it came from, then the refusals.
std::string SettingsReport(const SettingsCheck& check);

}  // namespace orv
