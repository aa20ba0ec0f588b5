#include "mqtt/mqtt_settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/host_port_url.h"
#include "platform/leading_number.h"
#include "platform/safe_file.h"
#include "platform/text_encoding.h"
#include "platform/trusted_file.h"
#include "platform/users.h"

namespace orv {
namespace {

constexpr std::string_view kSection = "MQTT";
constexpr std::size_t kLongestPassword = 4096;

}  // namespace

std::optional<BrokerAddress> ParseBrokerUrl(std::string_view url, std::string& why) {
  const HostPortUrl parsed = ParseHostPortUrl(url);
  if (parsed.problem == UrlProblem::kNoScheme ||
      (parsed.scheme != "mqtt" && parsed.scheme != "mqtts")) {
    why = "it must begin with mqtt:// or mqtts://";
    return std::nullopt;
  }
  switch (parsed.problem) {
    case UrlProblem::kNone: {
      BrokerAddress address;
      address.tls = parsed.scheme == "mqtts";
      address.host = parsed.host;
      address.port = parsed.port.value_or(address.tls ? 8883 : 1883);
      return address;
    }
    case UrlProblem::kNoClosingBracket:
      why = "its IPv6 address has no closing ]";
      break;
    case UrlProblem::kJunkAfterHost:
      why = "only :PORT may follow the host";
      break;
    case UrlProblem::kBadPort:
      why = "its port must be a number from 1 to 65535";
      break;
    case UrlProblem::kNoScheme:
    case UrlProblem::kNotIpv6:
    case UrlProblem::kNoHost:
    case UrlProblem::kBadHost:
      why = "it names no host, or a host with characters a host name cannot have";
      break;
  }
  return std::nullopt;
}

bool CheckBaseTopic(std::string_view topic, std::string& why) {
  if (topic.empty()) {
    why = "it is empty";
  } else if (topic.find_first_of("+#") != std::string_view::npos) {
    why = "it holds a wildcard (+ or #)";
  } else if (topic.starts_with('/') || topic.ends_with('/') ||
             topic.find("//") != std::string_view::npos) {
    why = "it has an empty level (a leading, trailing or doubled /)";
  } else if (topic.starts_with('$')) {
    why = "topics beginning with $ belong to the broker";
  } else if (topic.size() > 32000 || topic.find('\0') != std::string_view::npos ||
             !IsValidUtf8(topic)) {
    why = "it is too long, or not valid UTF-8";
  } else {
    return true;
  }
  return false;
}

std::string TopicFilterProblem(std::string_view text) {
  constexpr std::size_t kLongestFilter = 1024;
  if (text.empty()) return "it is empty";
  if (text.size() > kLongestFilter) return "it is longer than " + std::to_string(kLongestFilter);
  if (text.starts_with('$')) return "topics beginning with $ belong to the broker";
  if (text.find('\0') != std::string_view::npos || !IsValidUtf8(text))
    return "it holds a NUL or is not valid UTF-8";
  for (;;) {
    const std::size_t slash = text.find('/');
    const std::string_view level = text.substr(0, slash);
    if (level.find_first_of("+#") != std::string_view::npos && level.size() > 1)
      return "a wildcard (+ or #) must be a whole level";
    if (level == "#" && slash != std::string_view::npos) return "# must be its last level";
    if (slash == std::string_view::npos) return {};
    text.remove_prefix(slash + 1);
  }
}

bool TopicMatchesFilter(std::string_view filter, std::string_view topic) {
  // A wildcard at the first level never matches the broker's own $ topics.
  if (topic.starts_with('$') && (filter.starts_with('+') || filter.starts_with('#'))) return false;
  for (;;) {
    const std::size_t f = filter.find('/');
    const std::size_t t = topic.find('/');
    const std::string_view level = filter.substr(0, f);
    // "a/#" also matches "a" itself.
    if (level == "#") return true;
    if (level != "+" && level != topic.substr(0, t)) return false;
    if (t == std::string_view::npos)
      return f == std::string_view::npos || filter.substr(f + 1) == "#";
    if (f == std::string_view::npos) return false;
    filter.remove_prefix(f + 1);
    topic.remove_prefix(t + 1);
  }
}

std::optional<std::string> ReadPasswordFile(const std::filesystem::path& file, std::string& why) {
  std::optional<std::string> read =
      ReadTrustedFile(file, FileSecrecy::kSecret, kLongestPassword, why);
  if (!read) return std::nullopt;
  std::string& password = *read;
  if (password.ends_with("\r\n")) {
    password.resize(password.size() - 2);
  } else if (password.ends_with('\n')) {
    password.pop_back();
  }
  return read;
}

MqttSettings LoadMqttSettings(const SiteSettings& site, const NoticeFn& notice,
                              std::string_view host_name, std::string_view instance) {
  MqttSettings settings;
  const auto say = [&notice](NoticeLevel level, const std::string& text) {
    if (notice) notice(Notice{level, text});
  };
  settings.broker = site.Read(kSection, "Broker");
  if (settings.broker.empty()) return settings;
  std::string why;
  const std::optional<BrokerAddress> address = ParseBrokerUrl(settings.broker, why);
  if (!address) {
    say(NoticeLevel::kError,
        "MQTT is off: [MQTT] Broker=" + settings.broker + " is not understood: " + why + ".");
    return settings;
  }
  settings.address = *address;

  settings.base_topic = site.Read(kSection, "Topic");
  if (settings.base_topic.empty()) settings.base_topic = "orvandel/" + std::string(host_name);
  const SettingsGiver giver = site.Giver(kSection, "Topic");
  if (!instance.empty() && giver != SettingsGiver::kInstance && giver != SettingsGiver::kProgram)
    settings.base_topic += "/" + std::string(instance);
  if (!CheckBaseTopic(settings.base_topic, why)) {
    say(NoticeLevel::kError,
        "MQTT is off: [MQTT] Topic=" + settings.base_topic + " cannot be used: " + why + ".");
    return settings;
  }

  settings.user = site.Read(kSection, "User");
  const std::string password_file = site.Read(kSection, "PasswordFile");
  if (!password_file.empty()) {
    settings.password = ReadPasswordFile(password_file, why);
    if (!settings.password) {
      say(NoticeLevel::kError, "MQTT is off: the password file " + password_file + " " + why +
                                   ". It must be a regular file of root or of the user running "
                                   "the program, that others can neither read nor change.");
      return settings;
    }
    if (settings.user.empty()) {
      say(NoticeLevel::kError, "MQTT is off: [MQTT] PasswordFile needs a User.");
      return settings;
    }
  }
  settings.ca_file = site.Read(kSection, "CaFile");

  const std::string keep_alive = site.Read(kSection, "KeepAlive");
  if (!keep_alive.empty()) {
    if (const std::optional<long> value =
            WholeNumberIn(keep_alive, kMinKeepAliveS, kMaxKeepAliveS)) {
      settings.keep_alive_s = static_cast<int>(*value);
    } else {
      say(NoticeLevel::kWarning,
          "[MQTT] KeepAlive=" + keep_alive + " is not a number of seconds from " +
              std::to_string(kMinKeepAliveS) + " to " + std::to_string(kMaxKeepAliveS) + ": " +
              std::to_string(kDefaultKeepAliveS) + " s is used.");
    }
  }
  settings.enabled = true;
  return settings;
}

}  // namespace orv
