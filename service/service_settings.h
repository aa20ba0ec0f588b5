#pragma once

#include <functional>

#include "mqtt/mqtt_settings.h"
#include "notify/notify_rules.h"
#include "web/web_settings.h"

namespace orv {

// What the service takes from the site's settings, read once at its start.
struct ServiceSettings {
  MqttSettings mqtt;
  WebPanelSettings web;
  NotifySettings notify;
  // Reads the site's settings again (SIGHUP) and applies what can change while running.
  std::function<void()> reload;
};

}  // namespace orv
