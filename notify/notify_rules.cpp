#include "notify/notify_rules.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace orv {
namespace {

constexpr std::string_view kSection = "Notify";
constexpr std::size_t kMostRules = 16;
constexpr std::size_t kMostRecipients = 16;
constexpr std::size_t kMostTimes = 16;
constexpr std::int64_t kLongestTimeMs = 24 * 3'600'000;
constexpr unsigned kAllLamps = (1u << 12) - 1;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  return text;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  while (true) {
    const std::size_t at = text.find(separator);
    parts.push_back(Trim(text.substr(0, at)));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

bool Printable(std::string_view text) {
  return std::none_of(text.begin(), text.end(),
                      [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == 0x7f; });
}

bool Lower(std::string_view text, std::string_view word) {
  return text.size() == word.size() &&
         std::equal(text.begin(), text.end(), word.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == b;
         });
}

// One time: a whole number of minutes, or with s, m or h after it.
std::optional<std::int64_t> ParseTime(std::string_view text) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data() || value < 0) return std::nullopt;
  const std::string_view unit = Trim(text.substr(static_cast<std::size_t>(end - text.data())));
  std::int64_t scale = 60'000;
  if (Lower(unit, "s")) {
    scale = 1000;
  } else if (Lower(unit, "h")) {
    scale = 3'600'000;
  } else if (!unit.empty() && !Lower(unit, "m")) {
    return std::nullopt;
  }
  if (value > kLongestTimeMs / scale) return std::nullopt;
  return value * scale;
}

bool ParseConditions(std::string_view text, NotifyRule& rule, std::string& why) {
  for (const std::string_view item : Split(text, ',')) {
    std::vector<std::string_view> words;
    for (const std::string_view word : Split(item, ' '))
      if (!word.empty()) words.push_back(word);
    if (words.empty()) continue;
    const std::string_view what = words[0];
    bool numbers_allowed = false;
    if (Lower(what, "any")) {
      rule.any = true;
    } else if (Lower(what, "alarm")) {
      rule.alarm = true;
    } else if (Lower(what, "link")) {
      rule.link = true;
    } else if (Lower(what, "sounder")) {
      rule.sounder = true;
    } else if (Lower(what, "fault")) {
      numbers_allowed = true;
      if (words.size() == 1) rule.lamps = kAllLamps;
    } else {
      why = "Conditions names \"" + std::string(what) +
            "\"; it takes any, alarm, fault (with lamp numbers 1 to 12), link and sounder";
      return false;
    }
    for (std::size_t i = 1; i < words.size(); ++i) {
      int lamp = 0;
      const auto [end, error] =
          std::from_chars(words[i].data(), words[i].data() + words[i].size(), lamp);
      if (!numbers_allowed || error != std::errc() || end != words[i].data() + words[i].size() ||
          lamp < 1 || lamp > 12) {
        why =
            "Conditions has \"" + std::string(item) + "\"; only fault takes lamp numbers, 1 to 12";
        return false;
      }
      rule.lamps |= 1u << (lamp - 1);
    }
  }
  if (!rule.any && !rule.alarm && !rule.link && !rule.sounder && rule.lamps == 0) {
    why = "Conditions names none";
    return false;
  }
  return true;
}

bool ParseRecipients(std::string_view key, std::string_view text,
                     std::vector<NotifyRecipient>& recipients, std::string& why) {
  for (const std::string_view item : Split(text, ',')) {
    if (item.empty()) continue;
    std::string problem;
    std::optional<NotifyRecipient> recipient = ParseNotifyRecipient(item, problem);
    if (!recipient) {
      why = std::string(key) + " has \"" + std::string(item) + "\": " + problem;
      return false;
    }
    if (std::find(recipients.begin(), recipients.end(), *recipient) == recipients.end())
      recipients.push_back(std::move(*recipient));
  }
  if (recipients.size() > kMostRecipients) {
    why = std::string(key) + " names more than " + std::to_string(kMostRecipients) + " recipients";
    return false;
  }
  return true;
}

bool ValidRuleName(std::string_view name) {
  return !name.empty() && name.size() <= 32 && std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
  });
}

// The key a rule's refusal is about: its first word, or To for the recipient it cannot reach.
std::string_view RuleKeyOf(std::string_view why) {
  const std::string_view first = why.substr(0, why.find(' '));
  return std::find(kNotifyRuleKeys.begin(), kNotifyRuleKeys.end(), first) != kNotifyRuleKeys.end()
             ? first
             : "To";
}

// One rule from its section; nothing, with why, when any part of it is wrong.
std::optional<NotifyRule> ParseRule(const NotifyKeyReader& read, std::string_view name,
                                    const NotifySettings& settings, std::string& why) {
  const std::string section = "Notify " + std::string(name);
  NotifyRule rule;
  rule.name = std::string(name);
  const auto key = [&](std::string_view k) { return read(section, k); };
  if (!ParseConditions(key("Conditions"), rule, why)) return std::nullopt;
  const auto time = [&](std::string_view k, std::int64_t& into) {
    const std::string text = key(k);
    if (text.empty()) return true;
    const std::optional<std::int64_t> parsed = ParseTime(Trim(text));
    if (!parsed) why = std::string(k) + " is \"" + text + "\", not a time of at most 24 h";
    if (parsed) into = *parsed;
    return parsed.has_value();
  };
  if (!time("After", rule.after_ms) || !time("Interval", rule.interval_ms)) return std::nullopt;
  if (const std::string repeat = key("Repeat"); !repeat.empty()) {
    std::optional<std::vector<std::int64_t>> times = ParseNotifyTimes(repeat, why);
    if (!times) {
      why = "Repeat " + why;
      return std::nullopt;
    }
    rule.repeat_ms = std::move(*times);
  }
  if (!ParseRecipients("To", key("To"), rule.to, why)) return std::nullopt;
  if (rule.to.empty()) {
    why = "To names nobody";
    return std::nullopt;
  }
  if (const std::string escalate = key("EscalateAfter"); !escalate.empty()) {
    std::int64_t after = 0;
    if (!time("EscalateAfter", after)) return std::nullopt;
    rule.escalate_after_ms = after;
    if (!ParseRecipients("EscalateTo", key("EscalateTo"), rule.escalate_to, why))
      return std::nullopt;
    if (rule.escalate_to.empty()) {
      why = "EscalateAfter is set and EscalateTo names nobody";
      return std::nullopt;
    }
  }
  const std::string done = key("Done");
  if (Lower(done, "no") || Lower(done, "false") || done == "0") {
    rule.done = false;
  } else if (!done.empty() && !Lower(done, "yes") && !Lower(done, "true") && done != "1") {
    why = "Done is \"" + done + "\", not yes or no";
    return std::nullopt;
  }
  for (const auto* list : {&rule.to, &rule.escalate_to}) {
    for (const NotifyRecipient& r : *list) {
      if (r.channel == NotifyChannel::kCommand && settings.command.empty()) {
        why = "it names the command and [Notify] sets no Command";
        return std::nullopt;
      }
    }
  }
  return rule;
}

}  // namespace

std::string NotifyRecipient::Text() const {
  switch (channel) {
    case NotifyChannel::kCommand:
      return "command";
    case NotifyChannel::kMail:
      return "mail:" + target;
    case NotifyChannel::kWebHook:
      return target;
  }
  return {};
}

std::optional<NotifyRecipient> ParseNotifyRecipient(std::string_view text, std::string& why) {
  NotifyRecipient recipient;
  if (Lower(text, "command")) return recipient;
  if (!Printable(text) || text.size() > 2048) {
    why = "a recipient has no blanks or control characters and at most 2,048 characters";
    return std::nullopt;
  }
  if (text.substr(0, 5) == "mail:") {
    const std::string_view address = text.substr(5);
    const std::size_t at = address.find('@');
    if (address.size() > 254 || at == 0 || at == std::string_view::npos ||
        at + 1 == address.size() || address.find('@', at + 1) != std::string_view::npos ||
        address.front() == '-' || address.find_first_of("<>,;\"'\\()") != std::string_view::npos) {
      why = "mail: takes one plain address, local@domain";
      return std::nullopt;
    }
    recipient.channel = NotifyChannel::kMail;
    recipient.target = std::string(address);
    return recipient;
  }
  if ((text.substr(0, 7) == "http://" && text.size() > 7) ||
      (text.substr(0, 8) == "https://" && text.size() > 8)) {
    recipient.channel = NotifyChannel::kWebHook;
    recipient.target = std::string(text);
    return recipient;
  }
  why = "a recipient is command, mail:ADDRESS or an http:// or https:// URL";
  return std::nullopt;
}

std::optional<std::vector<std::int64_t>> ParseNotifyTimes(std::string_view text, std::string& why) {
  std::vector<std::int64_t> times;
  for (const std::string_view item : Split(text, ',')) {
    const std::optional<std::int64_t> time = ParseTime(item);
    if (!time) {
      why = "has \"" + std::string(item) + "\", not a time of at most 24 h (5, 30s, 5m, 2h)";
      return std::nullopt;
    }
    if (!times.empty() && *time <= times.back()) {
      why = "must go up: \"" + std::string(item) + "\" comes after a time as late";
      return std::nullopt;
    }
    times.push_back(*time);
  }
  if (times.size() > kMostTimes) {
    why = "has more than " + std::to_string(kMostTimes) + " times";
    return std::nullopt;
  }
  return times;
}

bool NotifyRule::Matches(const Condition& c) const {
  if (any) return true;
  switch (c.kind) {
    case ConditionKind::kAlarm:
      return alarm;
    case ConditionKind::kLink:
      return link;
    case ConditionKind::kSounder:
      return sounder;
    case ConditionKind::kFault: {
      int lamp = 0;
      const std::string_view id = c.id;
      if (id.substr(0, 6) != "fault-") return false;
      std::from_chars(id.data() + 6, id.data() + id.size(), lamp);
      return lamp >= 1 && lamp <= 12 && (lamps & (1u << (lamp - 1))) != 0;
    }
    case ConditionKind::kService:
      return false;
  }
  return false;
}

NotifySettings LoadNotifySettings(const NotifyKeyReader& read, const NoticeFn& notice,
                                  std::string_view host_name,
                                  std::vector<NotifySettingProblem>* problems) {
  NotifySettings settings;
  const auto say_at = [&](std::string section, std::string_view key, const std::string& text) {
    if (notice) notice(Notice{NoticeLevel::kWarning, text});
    if (problems) problems->push_back({std::move(section), std::string(key), text});
  };
  const auto say = [&](std::string_view key, const std::string& text) {
    say_at(std::string(kSection), key, text);
  };
  if (const std::string command = read(kSection, "Command"); !command.empty()) {
    if (command.front() != '/' || !Printable(command))
      say("Command", "[Notify] Command is not an absolute path without blanks; no command is run");
    else
      settings.command = command;
  }
  if (const std::string sendmail = read(kSection, "Sendmail"); !sendmail.empty()) {
    if (sendmail.front() != '/' || !Printable(sendmail))
      say("Sendmail",
          "[Notify] Sendmail is not an absolute path without blanks; /usr/sbin/sendmail is used");
    else
      settings.sendmail = sendmail;
  }
  settings.mail_from = read(kSection, "MailFrom");
  std::string why;
  if (settings.mail_from.empty() ||
      !ParseNotifyRecipient("mail:" + settings.mail_from, why).has_value()) {
    if (!settings.mail_from.empty())
      say("MailFrom", "[Notify] MailFrom is not a plain address; orvandel@" +
                          std::string(host_name) + " is used");
    settings.mail_from = "orvandel@" + std::string(host_name);
  }
  settings.ca_file = read(kSection, "CaFile");
  const std::string names = read(kSection, "Rules");
  for (const std::string_view name : Split(names, ',')) {
    if (name.empty()) continue;
    if (!ValidRuleName(name)) {
      say("Rules", "[Notify] Rules names \"" + std::string(name) +
                       "\"; a rule's name is letters, digits, - and _, at most 32");
      continue;
    }
    if (settings.rules.size() == kMostRules) {
      say("Rules", "[Notify] Rules names more than " + std::to_string(kMostRules) +
                       " rules; the first are used");
      break;
    }
    if (std::optional<NotifyRule> rule = ParseRule(read, name, settings, why))
      settings.rules.push_back(std::move(*rule));
    else
      say_at("Notify " + std::string(name), RuleKeyOf(why),
             "[Notify " + std::string(name) + "] is not used: " + why);
  }
  return settings;
}

}  // namespace orv
