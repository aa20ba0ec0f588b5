#include "mqtt/mosquitto_client.h"

#include <mosquitto.h>

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

namespace orv {
namespace {

// libmosquitto's one-time set-up (OpenSSL and the like), for the life of the process.
void InitLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

}  // namespace

MosquittoClient::MosquittoClient(Events events) : events_(std::move(events)) {
  InitLibrary();
  mosq_ = mosquitto_new(nullptr, true, this);
}

MosquittoClient::~MosquittoClient() {
  if (mosq_ != nullptr) mosquitto_destroy(mosq_);
}

bool MosquittoClient::Connect(const MosquittoOptions& options, const std::string& host, int port,
                              int keep_alive_s, std::string& why) {
  if (mosq_ == nullptr) {
    why = "the MQTT client could not be made";
    return false;
  }
  // A clean client: the previous connection's socket and queued messages go.
  int rc = mosquitto_reinitialise(mosq_, options.client_id.c_str(), true, this);
  if (rc == MOSQ_ERR_SUCCESS) {
    mosquitto_connect_callback_set(mosq_, OnConnect);
    mosquitto_disconnect_callback_set(mosq_, OnDisconnect);
    mosquitto_publish_callback_set(mosq_, OnPublish);
    mosquitto_message_callback_set(mosq_, OnMessage);
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // Small messages at once: Nagle's wait behind the broker's delayed ACK would hold a burst
    // of events for tens of milliseconds.
    mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
  }
  if (rc == MOSQ_ERR_SUCCESS && !options.will_topic.empty()) {
    rc = mosquitto_will_set(mosq_, options.will_topic.c_str(),
                            static_cast<int>(options.will_payload.size()),
                            options.will_payload.data(), options.will_qos, options.will_retain);
  }
  if (rc == MOSQ_ERR_SUCCESS && !options.user.empty()) {
    rc = mosquitto_username_pw_set(mosq_, options.user.c_str(),
                                   options.password ? options.password->c_str() : nullptr);
  }
  if (rc == MOSQ_ERR_SUCCESS && options.tls) {
    if (options.ca_file.empty()) {
      rc = mosquitto_int_option(mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    } else {
      rc = mosquitto_tls_set(mosq_, options.ca_file.c_str(), nullptr, nullptr, nullptr, nullptr);
    }
  }
  if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_connect_async(mosq_, host.c_str(), port, keep_alive_s);
  if (rc != MOSQ_ERR_SUCCESS) {
    why = ErrorText(rc);
    return false;
  }
  return true;
}

void MosquittoClient::Disconnect() {
  if (mosq_ != nullptr) mosquitto_disconnect(mosq_);
}

void MosquittoClient::Close(int within_ms) {
  const int fd = socket();
  if (fd < 0) return;
  mosquitto_connect_callback_set(mosq_, nullptr);
  mosquitto_disconnect_callback_set(mosq_, nullptr);
  mosquitto_publish_callback_set(mosq_, nullptr);
  mosquitto_message_callback_set(mosq_, nullptr);
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(within_ms);
  const auto wait = [&](short events) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p{fd, events, 0};
    return left.count() > 0 && ::poll(&p, 1, static_cast<int>(left.count())) > 0;
  };
  while (mosquitto_want_write(mosq_) && wait(POLLOUT)) {
    if (mosquitto_loop_write(mosq_, 1) != MOSQ_ERR_SUCCESS) return;
  }
  ::shutdown(fd, SHUT_WR);
  char sink[4096];
  while (wait(POLLIN)) {
    const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return;
  }
}

int MosquittoClient::socket() const {
  return mosq_ != nullptr ? mosquitto_socket(mosq_) : -1;
}

bool MosquittoClient::want_write() const {
  return mosq_ != nullptr && mosquitto_want_write(mosq_);
}

void MosquittoClient::Read() {
  if (mosq_ != nullptr) mosquitto_loop_read(mosq_, 1);
}

void MosquittoClient::Write() {
  if (mosq_ != nullptr) mosquitto_loop_write(mosq_, 1);
}

void MosquittoClient::Misc() {
  if (mosq_ != nullptr) mosquitto_loop_misc(mosq_);
}

std::optional<int> MosquittoClient::Publish(const std::string& topic, const std::string& payload,
                                            int qos, bool retain) {
  if (mosq_ == nullptr) return std::nullopt;
  int mid = 0;
  const int rc = mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                                   payload.data(), qos, retain);
  if (rc != MOSQ_ERR_SUCCESS) return std::nullopt;
  return mid;
}

bool MosquittoClient::Subscribe(const std::string& filter, int qos) {
  return mosq_ != nullptr &&
         mosquitto_subscribe(mosq_, nullptr, filter.c_str(), qos) == MOSQ_ERR_SUCCESS;
}

std::string MosquittoClient::ConnackText(int code) {
  return mosquitto_connack_string(code);
}

std::string MosquittoClient::ErrorText(int error) {
  if (error == MOSQ_ERR_ERRNO) return std::strerror(errno);
  return mosquitto_strerror(error);
}

void MosquittoClient::OnConnect(mosquitto*, void* self, int code) {
  auto* client = static_cast<MosquittoClient*>(self);
  if (client->events_.connected) client->events_.connected(code);
}

void MosquittoClient::OnDisconnect(mosquitto*, void* self, int error) {
  auto* client = static_cast<MosquittoClient*>(self);
  if (client->events_.disconnected) client->events_.disconnected(error);
}

void MosquittoClient::OnPublish(mosquitto*, void* self, int mid) {
  auto* client = static_cast<MosquittoClient*>(self);
  if (client->events_.published) client->events_.published(mid);
}

void MosquittoClient::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
  auto* client = static_cast<MosquittoClient*>(self);
  if (!client->events_.message || message == nullptr || message->topic == nullptr) return;
  const std::string_view payload(
      static_cast<const char*>(message->payload),
      message->payload != nullptr ? static_cast<std::size_t>(message->payloadlen) : std::size_t{0});
  client->events_.message(message->topic, payload);
}

}  // namespace orv
