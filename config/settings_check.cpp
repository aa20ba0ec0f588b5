#include "config/settings_check.h"

#include <algorithm>
#include <cctype>

#include "platform/host_port_url.h"
#include "platform/leading_number.h"

namespace orv {
namespace {

// What no value can be: values end at the line break.
constexpr std::string_view kNotSet = "\n";
constexpr std::size_t kValueCapacity = 1024;

bool Allowed(const SiteKey& key, const std::string& value) {
  switch (key.kind) {
    case SiteValue::kNumber:
      return (key.zero_too && value == "0") || WholeNumberIn(value, key.min, key.max).has_value();
    case SiteValue::kSwitch:
      return value == "0" || value == "1";
    case SiteValue::kAddress: {
      const HostPortUrl url = ParseHostPortUrl("listen://" + value);
      return url.problem == UrlProblem::kNone && url.port.has_value();
    }
    case SiteValue::kText:
      break;
  }
  return true;
}

// "Key=value ; note" was the old template's habit; the reader keeps the note in the value.
bool CommentAfterValue(std::string_view value) {
  return value.find(" ;") != std::string_view::npos || value.find("\t;") != std::string_view::npos;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// What the readers never see in one file: unknown and repeated keys of the table's sections, and
// comments after values in the sections of notification rules ("[Notify night]").
void WarnAbout(std::span<const SiteKey> keys, const SettingsSource& source,
               std::vector<std::string>& warnings) {
  struct Seen {
    std::string section, key;
    std::size_t line;
  };
  std::vector<Seen> seen;
  for (const ProfileSnapshot::KeyLine& line : source.profile->KeyLines()) {
    // A comment that holds "=" reads as a key no setting has: "; NoReplySeconds=5".
    if (line.key.starts_with(';')) continue;
    const std::string where =
        source.name + ":" + std::to_string(line.line) + ": [" + line.section + "] " + line.key;
    const bool known_section = std::any_of(keys.begin(), keys.end(), [&](const SiteKey& key) {
      return SameName(key.section, line.section);
    });
    if (!known_section) {
      if (line.section.size() > 7 && SameName(line.section.substr(0, 7), "Notify ") &&
          CommentAfterValue(line.value)) {
        warnings.push_back(where + "=" + line.value +
                           ": a ; after a value is part of the value; put comments on lines of "
                           "their own");
      }
      continue;
    }
    const auto first = std::find_if(seen.begin(), seen.end(), [&](const Seen& s) {
      return SameName(s.section, line.section) && SameName(s.key, line.key);
    });
    if (first != seen.end()) {
      warnings.push_back(where + " is set again: line " + std::to_string(first->line) +
                         " is the one taken");
      continue;
    }
    seen.push_back({line.section, line.key, line.line});
    if (std::none_of(keys.begin(), keys.end(), [&](const SiteKey& key) {
          return SameName(key.section, line.section) && SameName(key.key, line.key);
        })) {
      warnings.push_back(where + " is not a key of [" + line.section + "]");
    }
  }
}

}  // namespace

std::string AllowedText(const SiteKey& key) {
  switch (key.kind) {
    case SiteValue::kNumber:
      return "a number from " + std::to_string(key.min) + " to " + std::to_string(key.max) +
             (key.zero_too ? " (or 0)" : "");
    case SiteValue::kSwitch:
      return "0 or 1";
    case SiteValue::kAddress:
      return "an address and port such as 127.0.0.1:8080 or [::1]:8080";
    case SiteValue::kText:
      break;
  }
  return {};
}

SettingsCheck CheckSettings(std::span<const SiteKey> keys,
                            std::span<const SettingsSource> sources) {
  SettingsCheck check;
  for (const SiteKey& key : keys) {
    const bool numeric = key.kind == SiteValue::kNumber || key.kind == SiteValue::kSwitch;
    CheckedValue checked{&key, numeric ? std::to_string(key.number) : std::string(key.text),
                         "default"};
    for (const SettingsSource& source : sources) {
      if (source.profile == nullptr) continue;
      std::string value = source.profile->Read(key.section, key.key, kNotSet, kValueCapacity);
      if (value == kNotSet) continue;
      const std::string where =
          source.name + ":" +
          std::to_string(source.profile->LineOf(key.section, key.key).value_or(0));
      const std::string said =
          "[" + std::string(key.section) + "] " + std::string(key.key) + "=" + value;
      const bool comment = CommentAfterValue(value);
      // Empty is "not set": the default, as every loader reads it.
      if (!value.empty() && !Allowed(key, value)) {
        check.refusals.push_back(where + ": " + said + " is not " + AllowedText(key) +
                                 (comment ? " (a ; after a value is part of the value)" : ""));
      } else if (comment) {
        check.refusals.push_back(where + ": " + said +
                                 ": a ; after a value is part of the value; put comments on "
                                 "lines of their own");
      }
      if (!value.empty()) checked = CheckedValue{&key, std::move(value), where};
      break;
    }
    check.values.push_back(std::move(checked));
  }
  for (const SettingsSource& source : sources) {
    if (source.profile != nullptr) WarnAbout(keys, source, check.warnings);
  }
  return check;
}

std::string SettingsReport(const SettingsCheck& check) {
  std::string text;
  for (const CheckedValue& value : check.values) {
    text += "[" + std::string(value.key->section) + "] " + std::string(value.key->key) + "=" +
            value.value + "  (" + value.where + ")\n";
  }
  for (const std::string& refusal : check.refusals)
    text += refusal + "\n";
  for (const std::string& warning : check.warnings)
    text += warning + "\n";
  return text;
}

}  // namespace orv
