#pragma once

#include "mqtt/mqtt_settings.h"
#include "notify/notify_rules.h"
#include "web/web_settings.h"

namespace orv {

// What the service takes from the site's settings, read once at its start.
struct ServiceSettings {
  MqttSettings mqtt;
  WebPanelSettings web;
  NotifySettings notify;
};

}  // namespace orv
