#pragma once

#include <QCoreApplication>
#include <optional>
#include <string>
#include <utility>

#include "mqtt/mqtt_feed.h"
#include "mqtt/mqtt_settings.h"
#include "mqtt/publisher.h"
#include "mqtt/qt/qt_mqtt_client.h"
#include "platform/users.h"

namespace orv {

// The panel's state on an MQTT broker, when the site settings name one: made before the panel's
// start (so that every record from the start on is sent), ticked after
// it, and started once the window is up: start-up does not wait for the network.
class QtMqttService {
 public:
  QtMqttService(PanelStateStore& state, Journal* journal, Signal<const JournalEntry&>& recorded,
                const MqttSettings& settings, QtMqttClient::StateFn on_state)
      : publisher_(settings.base_topic),
        client_(settings,
                "orvandel-" + HostName() + "-" +
                    std::to_string(QCoreApplication::applicationPid()),
                publisher_, std::move(on_state)) {
    // Without a broker nothing is fed: the feed reads the journal, and start-up need not.
    if (settings.enabled) feed_.emplace(state, journal, recorded, publisher_);
  }

  void Start() { client_.Start(); }
  // Where browsers open this panel's web panel, for the site's overview.
  void SetWebAddress(std::string url) { publisher_.SetWebAddress(std::move(url)); }
  void Tick() {
    if (feed_) feed_->Tick();
    client_.Pump();
  }

 private:
  MqttPublisher publisher_;
  QtMqttClient client_;
  std::optional<MqttFeed> feed_;
};

}  // namespace orv
