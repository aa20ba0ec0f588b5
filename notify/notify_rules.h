#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "panelstate/condition.h"
#include "platform/notice.h"

namespace orv {

enum class NotifyChannel { kCommand, kMail, kWebHook };

// Who a rule reaches: "command" (the site's command), "mail:ADDRESS" or an http(s):// URL.
struct NotifyRecipient {
  NotifyChannel channel = NotifyChannel::kCommand;
  std::string target;  // the address or the URL; empty for the command

  // As the settings and the journal write it.
  std::string Text() const;
  bool operator==(const NotifyRecipient&) const = default;
};
// Nothing, with why set to the end of a sentence, when the text is none of the three.
std::optional<NotifyRecipient> ParseNotifyRecipient(std::string_view text, std::string& why);

// "0, 5, 15" (minutes), or with a unit each: "30s", "5m", "2h"; ascending, at most 24 h each.
std::optional<std::vector<std::int64_t>> ParseNotifyTimes(std::string_view text, std::string& why);

struct NotifyRule {
  std::string name;
  // Which conditions: every one, or the alarms, fault lamps by number (1 to 12), the link, the
  // sounder.
  bool any = false;
  bool alarm = false;
  bool link = false;
  bool sounder = false;
  unsigned lamps = 0;                      // bit N-1 for fault lamp N
  std::int64_t after_ms = 0;               // how long it must stand before the first
  std::vector<std::int64_t> repeat_ms{0};  // from then on: the first and each repeat
  std::vector<NotifyRecipient> to;
  std::optional<std::int64_t> escalate_after_ms;  // unacknowledged this long after the first
  std::vector<NotifyRecipient> escalate_to;
  bool done = true;                   // a done message when acknowledged or cleared
  std::int64_t interval_ms = 60'000;  // one notification at most, per rule, in this time

  bool Matches(const Condition& condition) const;
  bool operator==(const NotifyRule&) const = default;
};

// The channels' settings, the same for every rule.
struct NotifySettings {
  std::string command;  // an absolute path; empty: no command
  std::string sendmail = "/usr/sbin/sendmail";
  std::string mail_from;
  std::string ca_file;  // empty: the system's certificate authorities
  std::vector<NotifyRule> rules;
  std::string instance;  // every message names it (NotifyMessage::instance)
};

// One key of the settings: Read(section, key), "" when not set.
using NotifyKeyReader = std::function<std::string(std::string_view section, std::string_view key)>;

// The keys of a rule's section.
inline constexpr std::array<std::string_view, 8> kNotifyRuleKeys{
    "Conditions", "After", "Repeat", "To", "EscalateAfter", "EscalateTo", "Done", "Interval"};

// A setting the loader did not take: where it is, and why (the notice's words).
struct NotifySettingProblem {
  std::string section;  // "Notify", "Notify NAME"
  std::string key;
  std::string why;
};

// [Notify] Rules=NAME, NAME (each a section [Notify NAME]), Command, Sendmail, MailFrom, CaFile;
// each rule's keys above. A rule with a mistake is left out, with a notice that names it and
// says why; the others stand. Each problem is also added to problems, when given.
NotifySettings LoadNotifySettings(const NotifyKeyReader& read, const NoticeFn& notice,
                                  std::string_view host_name,
                                  std::vector<NotifySettingProblem>* problems = nullptr);

}  // namespace orv
