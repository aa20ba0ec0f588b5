#include "app/site_keys.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <ostream>
#include <set>
#include <utility>

#include "annunciator/annunciation_settings.h"
#include "config/access_settings.h"
#include "config/configuration.h"
#include "journal/journal_retention.h"
#include "mqtt/mqtt_settings.h"
#include "notify/notify_rules.h"
#include "web/web_settings.h"

namespace orv {
namespace {

constexpr SiteKey Text(std::string_view section, std::string_view key) {
  return {section, key, SiteValue::kText, 0, 0, false, 0, {}, false};
}

constexpr SiteKey Number(std::string_view section, std::string_view key, long min, long max,
                         long fallback, bool zero_too = false, bool live = false) {
  return {section, key, SiteValue::kNumber, min, max, zero_too, fallback, {}, live};
}

constexpr std::array kSiteKeys = {
    Text("SerialPorts", "COM1"),
    Text("SerialPorts", "COM2"),
    Text("SerialPorts", "COM3"),
    Text("SerialPorts", "COM4"),
    Text("SerialPorts", "COM5"),
    Text("SerialPorts", "COM6"),
    Text("SerialPorts", "COM7"),
    Text("SerialPorts", "COM8"),
    Text("SerialPorts", "COM9"),
    Text("SerialPorts", "COM10"),
    Number("LinkWatch", "NoReplySeconds", kNoReplySecondsMin, kNoReplySecondsMax,
           kNoReplySecondsDefault, true, true),
    SiteKey{kAnnunciationSection, "Sound", SiteValue::kSwitch, 0, 1, false, 1, {}, true},
    Number(kAnnunciationSection, "ReminderHours", 0, kReminderHoursMax, kReminderHoursDefault,
           false, true),
    Text(kAnnunciationSection, "Device"),
    Text("MQTT", "Broker"),
    Text("MQTT", "Topic"),
    Text("MQTT", "User"),
    Text("MQTT", "PasswordFile"),
    Text("MQTT", "CaFile"),
    Number("MQTT", "KeepAlive", kMinKeepAliveS, kMaxKeepAliveS, kDefaultKeepAliveS),
    Number("Access", "IdleMinutes", 1, kIdleMinutesMax, kIdleMinutesDefault),
    SiteKey{"WebPanel", "Listen", SiteValue::kAddress, 0, 0, false, 0, {}, false},
    Text("WebPanel", "CertFile"),
    Text("WebPanel", "KeyFile"),
    Number("WebPanel", "MaxClients", 1, static_cast<long>(kMostWebClients),
           static_cast<long>(kDefaultWebClients)),
    Number("WebPanel", "ConnectionsPerAddress", 1, static_cast<long>(kMostWebPerAddress),
           static_cast<long>(kDefaultWebPerAddress)),
    Text("WebPanel", "Hosts"),
    Text("WebPanel", "Address"),
    Text("Notify", "Rules"),
    Text("Notify", "Command"),
    Text("Notify", "Sendmail"),
    Text("Notify", "MailFrom"),
    Text("Notify", "CaFile"),
    // 0: no bound of that kind. A reload takes them: the journal measures against them anew.
    Number("Journal", "KeepDays", 1, kJournalKeepDaysMax, kJournalKeepDaysDefault, true, true),
    Number("Journal", "MaxMegabytes", kJournalMaxMegabytesMin, kJournalMaxMegabytesMax,
           kJournalMaxMegabytesDefault, true, true),
};

bool Same(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// The rules' sections are named by [Notify] Rules, so no table holds their keys: the loader
// judges them, and each rule it would leave out refuses the settings at its line.
void CheckNotifyRules(std::span<const SettingsSource> sources, SettingsCheck& check) {
  struct Found {
    std::string where;  // "FILE:LINE", or "" when no file sets it
    std::string value;
  };
  const auto find = [&](std::string_view section, std::string_view key) {
    for (const SettingsSource& source : sources) {
      if (source.profile == nullptr) continue;
      if (const std::optional<std::size_t> line = source.profile->LineOf(section, key))
        return Found{source.name + ":" + std::to_string(*line),
                     source.profile->Read(section, key, "", 4096)};
    }
    return Found{};
  };
  std::vector<NotifySettingProblem> problems;
  const NotifySettings loaded = LoadNotifySettings(
      [&](std::string_view section, std::string_view key) { return find(section, key).value; },
      nullptr, "localhost", &problems);
  for (const NotifySettingProblem& problem : problems) {
    Found at = find(problem.section, problem.key);
    // A key not set (To names nobody): the rule's name in Rules is where it is asked for.
    if (at.where.empty()) at = find("Notify", "Rules");
    check.refusals.push_back(at.where + ": " + problem.why);
  }
  for (const SettingsSource& source : sources) {
    if (source.profile == nullptr) continue;
    for (const ProfileSnapshot::KeyLine& line : source.profile->KeyLines()) {
      if (line.section.size() <= 7 || !Same(line.section.substr(0, 7), "Notify ")) continue;
      const std::string where =
          source.name + ":" + std::to_string(line.line) + ": [" + line.section + "] " + line.key;
      const std::string name = line.section.substr(7);
      if (std::none_of(kNotifyRuleKeys.begin(), kNotifyRuleKeys.end(),
                       [&](std::string_view key) { return Same(key, line.key); }))
        check.warnings.push_back(where + " is not a key of a rule");
      else if (std::none_of(loaded.rules.begin(), loaded.rules.end(),
                            [&](const NotifyRule& r) { return Same(r.name, name); }) &&
               std::none_of(problems.begin(), problems.end(), [&](const NotifySettingProblem& p) {
                 return Same(p.section, line.section);
               }))
        check.warnings.push_back(where + ": [Notify] Rules does not name " + name +
                                 ", so the rule is not used");
    }
  }
}

void PrintRefusals(const SettingsCheck& check, std::ostream& err) {
  for (const std::string& refusal : check.refusals)
    err << "orvandel: " << refusal << "\n";
}

}  // namespace

std::span<const SiteKey> SiteKeys() {
  return kSiteKeys;
}

SettingsCheck CheckSiteSettings(std::span<const SettingsSource> sources) {
  SettingsCheck check = CheckSettings(SiteKeys(), sources);
  CheckNotifyRules(sources, check);
  return check;
}

int RunCheckSettings(const std::optional<std::filesystem::path>& file, const SiteSettings& site,
                     std::ostream& out, std::ostream& err) {
  std::vector<SettingsSource> sources = site.Sources();
  std::optional<ProfileSnapshot> named;
  if (file) {
    // The file as it is, whoever owns it: a check of what it says, before it is installed.
    named.emplace(*file);
    if (named->state() != ProfileFileState::kRead) {
      err << "orvandel: " << file->string() << " "
          << (named->state() == ProfileFileState::kMissing ? "is missing" : named->Problem())
          << "\n";
      return 1;
    }
    sources = {{file->string(), &*named}};
  }
  const SettingsCheck check = CheckSiteSettings(sources);
  out << SettingsReport(check);
  // A site file that is there but not taken (its owner, its mode) leaves every key at its
  // default: the check says so (the reason went to err) rather than calling that right.
  const bool site_taken = file || site.site_file_trust() == SettingsTrust::kTrusted ||
                          site.site_file_trust() == SettingsTrust::kMissing;
  if (!site_taken) out << "The site's settings file is not read: see above.\n";
  const bool right = site_taken && check.ok() && check.warnings.empty();
  out << (right ? std::string("The settings are right.\n")
                : std::to_string(check.refusals.size()) + " wrong, " +
                      std::to_string(check.warnings.size()) + " to look at.\n");
  return right ? 0 : 1;
}

bool SiteSettingsAccepted(const SiteSettings& site, std::ostream& err) {
  const SettingsCheck check = CheckSiteSettings(site.Sources());
  for (const std::string& warning : check.warnings)
    err << "orvandel: " << warning << "\n";
  if (check.ok()) return true;
  PrintRefusals(check, err);
  err << "orvandel: the service is not started: its settings are wrong (orvandel "
         "--check-settings says more)\n";
  err.flush();
  return false;
}

void SayWrongSettings(const SiteSettings& site, const NoticeFn& notice) {
  if (!notice) return;
  const SettingsCheck check = CheckSiteSettings(site.Sources());
  for (const std::string& refusal : check.refusals)
    notice(Notice{NoticeLevel::kWarning, refusal + " (orvandel --check-settings)"});
  for (const std::string& warning : check.warnings)
    notice(Notice{NoticeLevel::kWarning, warning});
}

SettingsReload::SettingsReload(ReadFn read, SayFn say, std::function<void(bool taken)> apply)
    : read_(std::move(read)), say_(std::move(say)), apply_(std::move(apply)) {
  running_ = read_();
}

void SettingsReload::Reload() {
  SettingsCheck check = read_();
  if (!check.ok()) {
    for (const std::string& refusal : check.refusals)
      say_("settings " + refusal, true);
    say_("settings not reloaded: the running settings are kept", true);
    if (apply_) apply_(false);
    return;
  }
  for (const std::string& warning : check.warnings)
    say_("settings " + warning, true);
  bool changed = false;
  std::set<std::string_view> later;
  for (std::size_t i = 0; i < check.values.size() && i < running_.values.size(); ++i) {
    const CheckedValue& now = check.values[i];
    if (now.value == running_.values[i].value) continue;
    changed = true;
    if (now.key->live) {
      say_("settings [" + std::string(now.key->section) + "] " + std::string(now.key->key) + "=" +
               now.value + " from now on",
           false);
    } else if (later.insert(now.key->section).second) {
      say_("settings [" + std::string(now.key->section) + "] changes take effect at the next start",
           false);
    }
  }
  if (!changed) say_("settings re-read: nothing changed", false);
  if (apply_) apply_(true);
  running_ = std::move(check);
}

}  // namespace orv
