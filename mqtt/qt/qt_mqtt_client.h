#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "mqtt/broker_state.h"
#include "mqtt/mosquitto_client.h"
#include "mqtt/mqtt_settings.h"
#include "mqtt/publisher.h"

class QSocketNotifier;
class QHostInfo;

namespace orv {

// The broker client in the program's one event loop: socket notifiers on libmosquitto's socket
// for reading and (while it has something to write) writing, a one-second timer for its
// keep-alive, and its own reconnects with back-off. Nothing here waits for the network: the
// connect is libmosquitto's non-blocking one, a host name is looked up by Qt in the background
// first (for mqtts the name is handed on as it is, for the certificate check), and a connect with
// no answer is given up after ConnectTimeoutMs.
//
// The retained state is held against the broker: the client subscribes to the panel's own state
// topics (a value that differs from the panel's goes out again at once) and sends all of it again
// every KeepAlive x 2. A client id that another client takes over is given way to (see
// ReconnectBackoff) and said once in the broker's state, not fought over.
class QtMqttClient : public QObject {
  Q_OBJECT

 public:
  static constexpr int kConnectTimeoutMs = 10000;
  // How long the end of a connection may wait for the broker to take the last state.
  static constexpr int kCloseWithinMs = 1000;
  using StateFn = std::function<void(const BrokerState& state)>;

  // client_id must be unique per running program at one broker.
  QtMqttClient(MqttSettings settings, std::string client_id, MqttPublisher& publisher,
               StateFn on_state, QObject* parent = nullptr);
  ~QtMqttClient() override;

  // Whatever the broker delivers on filters goes to take as well, subscribed at every connect,
  // with fresh called first (the broker sends every retained value again): how the site's
  // overview reads the other services' state. Before Start.
  using MessageFn = std::function<void(std::string_view topic, std::string_view payload)>;
  void Follow(std::vector<std::string> filters, MessageFn take, std::function<void()> fresh);

  // The first connect; with no broker configured the state stays off.
  void Start();
  // Hands the publisher's due messages to the broker; called after every tick.
  void Pump();

  const BrokerState& state() const { return state_; }

 private:
  bool Followed(std::string_view topic) const;
  void TryConnect();
  void ConnectTo(const std::string& host);
  void OnConnected(int code);
  void OnDisconnected(int error);
  void Failed(const std::string& why);
  void Watch();
  void Unwatch();
  void UpdateWriteWatch();
  void SetState(BrokerPhase phase, std::string detail);
  static std::int64_t NowMs();

  MqttSettings settings_;
  MosquittoOptions options_;
  MqttPublisher& publisher_;
  StateFn on_state_;
  std::vector<std::string> follow_filters_;
  MessageFn follow_;
  std::function<void()> follow_fresh_;
  BrokerState state_;
  MosquittoClient client_;
  ReconnectBackoff backoff_;
  QSocketNotifier* read_watch_ = nullptr;
  QSocketNotifier* write_watch_ = nullptr;
  QTimer misc_timer_;
  QTimer retry_timer_;
  QTimer connect_timeout_;
  QTimer refresh_timer_;
  int lookup_id_ = -1;
  bool attempt_open_ = false;  // a connect is under way or connected
  bool refused_ = false;       // the broker refused this attempt
};

}  // namespace orv
