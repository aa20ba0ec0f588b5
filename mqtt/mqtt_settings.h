#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "config/site_settings.h"
#include "platform/notice.h"

namespace orv {

// mqtt://HOST:PORT or mqtts://HOST:PORT, as the section [MQTT] names the broker.
struct BrokerAddress {
  bool tls = false;
  std::string host;  // without the brackets of an IPv6 address
  int port = 0;      // 1883, or 8883 for mqtts, when the URL names none

  bool operator==(const BrokerAddress&) const = default;
};

// Nothing, with why set to the end of a sentence, when the URL is not one of the two forms.
std::optional<BrokerAddress> ParseBrokerUrl(std::string_view url, std::string& why);

// A base topic under which every topic is published: not empty, no wildcard (+ #), no empty
// level (a leading, trailing or doubled /), not a broker topic ($…), no NUL, valid UTF-8.
bool CheckBaseTopic(std::string_view topic, std::string& why);

// Why text is not a topic filter a subscriber may use (empty, a wildcard inside a level or #
// before the end, a broker's $ topic, too long): the end of a sentence; empty when it is one.
std::string TopicFilterProblem(std::string_view text);
// Whether a topic is one of filter's (+ one level, # the rest), as the broker matches them.
bool TopicMatchesFilter(std::string_view filter, std::string_view topic);

// The password from a file that only its owner and group may read: a regular file, not a link,
// with one name, owned by root or by the user running the program (the service's own user),
// writable by its owner alone and not readable by others (mode & 026 == 0). One trailing line
// break is not part of it. Nothing, with why set, otherwise. The file's name must come from a
// trusted settings file (SiteSettings), which is what makes the rule worth anything.
std::optional<std::string> ReadPasswordFile(const std::filesystem::path& file, std::string& why);

struct MqttSettings {
  bool enabled = false;  // a broker is configured and its settings were taken
  std::string broker;    // the URL as written, for the status line
  BrokerAddress address;
  std::string base_topic;
  std::string user;
  std::optional<std::string> password;
  std::string ca_file;  // empty: the system's certificate authorities
  int keep_alive_s = 30;
};

inline constexpr int kDefaultKeepAliveS = 30;
inline constexpr int kMinKeepAliveS = 5;
inline constexpr int kMaxKeepAliveS = 3600;

// The section [MQTT] of the site-wide settings: Broker (empty or absent: no MQTT), Topic (default
// orvandel/<host name>), User, PasswordFile, CaFile, KeepAlive (5 to 3600 s, default 30). A
// broker, topic or password file that cannot be taken leaves MQTT off; a bad keep-alive takes the
// default; each with a notice. An instance (one controller of several) publishes below
// /<instance> of the default or of a topic the shared file sets, so that no two instances share
// a topic; a topic of its own file is taken as it is.
MqttSettings LoadMqttSettings(const SiteSettings& site, const NoticeFn& notice,
                              std::string_view host_name, std::string_view instance = {});

}  // namespace orv
