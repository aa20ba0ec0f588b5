#include "mqtt/qt/qt_mqtt_client.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>
#include <algorithm>
#include <chrono>

namespace orv {
namespace {

// The refusals of MQTT 3.1.1 in the words an operator can act on.
std::string RefusalText(int code) {
  switch (code) {
    case 1:
      return "protocol version not accepted";
    case 2:
      return "client identifier rejected";
    case 3:
      return "broker unavailable";
    case 4:
      return "bad user name or password";
    case 5:
      return "not authorised";
    default:
      return MosquittoClient::ConnackText(code);
  }
}

}  // namespace

QtMqttClient::QtMqttClient(MqttSettings settings, std::string client_id, MqttPublisher& publisher,
                           StateFn on_state, QObject* parent)
    : QObject(parent),
      settings_(std::move(settings)),
      publisher_(publisher),
      on_state_(std::move(on_state)),
      client_(MosquittoClient::Events{[this](int code) { OnConnected(code); },
                                      [this](int error) { OnDisconnected(error); },
                                      [this](int mid) { publisher_.OnDelivered(mid); },
                                      [this](std::string_view topic, std::string_view payload) {
                                        publisher_.OnBrokerValue(topic, payload);
                                        // Its own topics are subscribed to as well.
                                        if (follow_ && Followed(topic)) follow_(topic, payload);
                                      }}) {
  const MqttMessage will = publisher_.Will();
  options_.client_id = std::move(client_id);
  options_.will_topic = will.topic;
  options_.will_payload = will.payload;
  options_.will_qos = will.qos;
  options_.will_retain = will.retain;
  options_.user = settings_.user;
  options_.password = settings_.password;
  options_.tls = settings_.address.tls;
  options_.ca_file = settings_.ca_file;

  misc_timer_.setInterval(1000);
  connect(&misc_timer_, &QTimer::timeout, this, [this] {
    client_.Misc();
    // Connected only once the connection has lasted, while the id was taken over.
    if (publisher_.connected() && backoff_.Settled(NowMs())) {
      SetState(BrokerPhase::kConnected, settings_.broker);
    }
    UpdateWriteWatch();
  });
  refresh_timer_.setInterval(settings_.keep_alive_s * 2 * 1000);
  connect(&refresh_timer_, &QTimer::timeout, this, [this] {
    publisher_.RepublishRetained();
    Pump();
  });
  retry_timer_.setSingleShot(true);
  connect(&retry_timer_, &QTimer::timeout, this, [this] { TryConnect(); });
  connect_timeout_.setSingleShot(true);
  connect_timeout_.setInterval(kConnectTimeoutMs);
  connect(&connect_timeout_, &QTimer::timeout, this, [this] {
    Unwatch();
    Failed("no answer from the broker within " + std::to_string(kConnectTimeoutMs / 1000) + " s");
  });
}

QtMqttClient::~QtMqttClient() {
  if (lookup_id_ >= 0) QHostInfo::abortHostLookup(lookup_id_);
  // No DISCONNECT: the broker publishes the will (status = offline) once the last state is in.
  client_.Close(kCloseWithinMs);
}

std::int64_t QtMqttClient::NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void QtMqttClient::SetState(BrokerPhase phase, std::string detail) {
  BrokerState next{phase, std::move(detail)};
  if (next == state_) return;
  state_ = std::move(next);
  if (on_state_) on_state_(state_);
}

void QtMqttClient::Follow(std::vector<std::string> filters, MessageFn take,
                          std::function<void()> fresh) {
  follow_filters_ = std::move(filters);
  follow_ = std::move(take);
  follow_fresh_ = std::move(fresh);
}

bool QtMqttClient::Followed(std::string_view topic) const {
  return std::any_of(
      follow_filters_.begin(), follow_filters_.end(),
      [topic](const std::string& filter) { return TopicMatchesFilter(filter, topic); });
}

void QtMqttClient::Start() {
  if (!settings_.enabled) {
    // Said even when off, so the status bar shows where MQTT stands.
    if (on_state_) on_state_(state_);
    return;
  }
  SetState(BrokerPhase::kTrying, settings_.broker);
  TryConnect();
}

void QtMqttClient::TryConnect() {
  refused_ = false;
  const QString host = QString::fromStdString(settings_.address.host);
  if (settings_.address.tls || !QHostAddress(host).isNull()) {
    ConnectTo(settings_.address.host);
    return;
  }
  lookup_id_ = QHostInfo::lookupHost(host, this, [this](const QHostInfo& info) {
    lookup_id_ = -1;
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
      Failed("host not found: " + info.errorString().toStdString());
      return;
    }
    ConnectTo(info.addresses().first().toString().toStdString());
  });
}

void QtMqttClient::ConnectTo(const std::string& host) {
  std::string why;
  if (!client_.Connect(options_, host, settings_.address.port, settings_.keep_alive_s, why)) {
    Failed("cannot connect: " + why);
    return;
  }
  attempt_open_ = true;
  Watch();
  connect_timeout_.start();
}

void QtMqttClient::Watch() {
  Unwatch();
  const int fd = client_.socket();
  if (fd < 0) return;
  read_watch_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
  connect(read_watch_, &QSocketNotifier::activated, this, [this] {
    client_.Read();
    // Acknowledgements make room for the next events.
    Pump();
  });
  write_watch_ = new QSocketNotifier(fd, QSocketNotifier::Write, this);
  connect(write_watch_, &QSocketNotifier::activated, this, [this] {
    client_.Write();
    UpdateWriteWatch();
  });
  misc_timer_.start();
  UpdateWriteWatch();
}

void QtMqttClient::Unwatch() {
  // May run inside a notifier's own signal: the notifiers go when control is back in the loop.
  for (QSocketNotifier** watch : {&read_watch_, &write_watch_}) {
    if (*watch == nullptr) continue;
    (*watch)->setEnabled(false);
    (*watch)->deleteLater();
    *watch = nullptr;
  }
  misc_timer_.stop();
  refresh_timer_.stop();
}

void QtMqttClient::UpdateWriteWatch() {
  if (write_watch_ != nullptr) write_watch_->setEnabled(client_.want_write());
}

void QtMqttClient::Pump() {
  if (!publisher_.connected()) return;
  publisher_.Pump([this](const MqttMessage& message) {
    return client_.Publish(message.topic, message.payload, message.qos, message.retain);
  });
  UpdateWriteWatch();
}

void QtMqttClient::OnConnected(int code) {
  connect_timeout_.stop();
  if (code != 0) {
    // The broker closes the connection next; the retry waits as after any failure.
    refused_ = true;
    SetState(BrokerPhase::kRefused, RefusalText(code));
    return;
  }
  backoff_.Accepted(NowMs());
  // While another client holds the id, this connection is said only once it lasts.
  if (!backoff_.taken_over()) SetState(BrokerPhase::kConnected, settings_.broker);
  publisher_.OnConnected();
  Pump();
  // After the state went out, so that what the broker shows back is mostly our own.
  for (const std::string& filter : publisher_.StateFilters())
    client_.Subscribe(filter, 0);
  if (follow_fresh_) follow_fresh_();
  for (const std::string& filter : follow_filters_)
    client_.Subscribe(filter, 0);
  refresh_timer_.start();
  UpdateWriteWatch();
}

void QtMqttClient::OnDisconnected(int error) {
  if (!attempt_open_) return;
  attempt_open_ = false;
  connect_timeout_.stop();
  Unwatch();
  const bool was_connected = publisher_.connected();
  if (was_connected) publisher_.OnDisconnected();
  if (refused_) {
    retry_timer_.start(backoff_.Failed());
    return;
  }
  if (!was_connected) {
    Failed("cannot connect: " + MosquittoClient::ErrorText(error));
    return;
  }
  const int wait = backoff_.Lost(NowMs());
  if (backoff_.taken_over()) {
    // The same words for the whole episode: said once.
    SetState(BrokerPhase::kTrying, "the client id " + options_.client_id +
                                       " is taken over by another client; giving way, trying "
                                       "again every " +
                                       std::to_string(ReconnectBackoff::kLongestMs / 1000) + " s");
  } else {
    SetState(BrokerPhase::kTrying, "connection lost: " + MosquittoClient::ErrorText(error));
  }
  retry_timer_.start(wait);
}

void QtMqttClient::Failed(const std::string& why) {
  attempt_open_ = false;
  if (publisher_.connected()) publisher_.OnDisconnected();
  SetState(BrokerPhase::kTrying, why);
  retry_timer_.start(backoff_.Failed());
}

}  // namespace orv
