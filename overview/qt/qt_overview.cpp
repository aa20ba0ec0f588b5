#include "overview/qt/qt_overview.h"

#include <QCoreApplication>

#include "mqtt/qt/qt_mqtt_client.h"
#include "overview/overview_book.h"
#include "platform/qt/qt_quit_signals.h"
#include "web/qt/qt_web_server.h"

namespace orv {

int RunQtOverview(const OverviewSettings& settings, const std::string& host_name,
                  const std::function<void(const std::string&)>& print) {
  const QtQuitSignals quit_signals([](int) { QCoreApplication::quit(); });
  OverviewBook book;
  BrokerState broker;
  // Its own status (online, and offline as its will) is all the publisher has to say.
  MqttPublisher publisher(settings.mqtt.base_topic);
  QtMqttClient client(
      settings.mqtt,
      "orvandel-overview-" + host_name + "-" + std::to_string(QCoreApplication::applicationPid()),
      publisher, [&broker, &print](const BrokerState& state) {
        broker = state;
        print("mqtt " + BrokerStateText(state));
      });
  client.Follow(
      settings.follow,
      [&book](std::string_view topic, std::string_view payload) { book.Take(topic, payload); },
      [&book] { book.Clear(); });

  QtWebServer::Hooks hooks;
  hooks.overview = [&book, &broker] {
    return book.Json(BrokerStateText(broker), broker.phase == BrokerPhase::kConnected);
  };
  QtWebServer web(settings.web, std::move(hooks),
                  [&print](const Notice& notice) { print(notice.text); });
  if (std::string error; !web.Listen(error)) {
    print("the overview is not started: " + error);
    return 1;
  }
  print(std::string("overview at ") + (settings.web.tls() ? "https://" : "http://") +
        settings.web.listen + "/, following " + std::to_string(settings.follow.size()) +
        " topic filter(s)");
  client.Start();
  return QCoreApplication::exec();
}

}  // namespace orv
