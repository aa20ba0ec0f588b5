#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "config/site_settings.h"
#include "mqtt/mqtt_settings.h"
#include "platform/notice.h"
#include "web/web_settings.h"

namespace orv {

// What the site's overview needs: the broker the panel services publish on (or a central one
// that bridges many sites'), the topics it follows there and where it serves its page.
struct OverviewSettings {
  MqttSettings mqtt;  // [MQTT] Broker, User, PasswordFile, CaFile, KeepAlive
  // Its own status goes out under [Overview] Topic=, default orvandel-overview/<host>: beside
  // the services', never among the topics it follows.
  WebPanelSettings web;             // [Overview] Listen, CertFile, KeyFile, Hosts, MaxClients...
  std::vector<std::string> follow;  // [Overview] Follow=, commas between; default orvandel/#
  std::string refusal;              // why it cannot run; empty when it can
};

inline constexpr std::size_t kMostFollowed = 16;

// The sections [MQTT] and [Overview] of the site's settings. A filter that cannot be used is left
// out with a notice; no broker, no Listen, a web listener refused or no filter left is a refusal.
OverviewSettings LoadOverviewSettings(const SiteSettings& site, const NoticeFn& notice,
                                      std::string_view host_name);

}  // namespace orv
