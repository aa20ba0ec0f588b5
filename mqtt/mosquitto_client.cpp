#include "mqtt/mosquitto_client.h"

#include <mosquitto.h>

#include <dlfcn.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

namespace orv {
namespace {

// libmosquitto is opened at the first connect, not with the program: it brings OpenSSL, and
// loading that would hold the window's first paint back by milliseconds, even where the site
// names no broker. The functions are looked up once, for the life of the process.
#define ORV_MOSQUITTO_FUNCTIONS(X)                                                                 \
  X(lib_init)                                                                                      \
  X(new)                                                                                           \
  X(destroy) X(reinitialise) X(connect_callback_set) X(disconnect_callback_set)                    \
      X(publish_callback_set) X(message_callback_set) X(int_option) X(will_set) X(username_pw_set) \
          X(tls_set) X(connect_async) X(disconnect) X(socket) X(want_write) X(loop_read)           \
              X(loop_write) X(loop_misc) X(publish) X(subscribe) X(connack_string) X(strerror)

struct Library {
#define ORV_DECLARE(name) decltype(&::mosquitto_##name) mosquitto_##name = nullptr;
  ORV_MOSQUITTO_FUNCTIONS(ORV_DECLARE)
#undef ORV_DECLARE
  std::string problem;  // empty when every function was found
};

Library Load() {
  Library lib;
  void* handle = ::dlopen(MosquittoClient::kLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    lib.problem = why != nullptr ? why : MosquittoClient::kLibraryName;
    return lib;
  }
#define ORV_LOOK_UP(name)                                                                    \
  lib.mosquitto_##name =                                                                     \
      reinterpret_cast<decltype(lib.mosquitto_##name)>(::dlsym(handle, "mosquitto_" #name)); \
  if (lib.mosquitto_##name == nullptr && lib.problem.empty())                                \
    lib.problem = "no mosquitto_" #name " in it";
  ORV_MOSQUITTO_FUNCTIONS(ORV_LOOK_UP)
#undef ORV_LOOK_UP
  // Its one-time set-up (OpenSSL and the like).
  if (lib.problem.empty()) lib.mosquitto_lib_init();
  return lib;
}

const Library& Mosquitto() {
  static const Library lib = Load();
  return lib;
}

}  // namespace

MosquittoClient::MosquittoClient(Events events) : events_(std::move(events)) {}

MosquittoClient::~MosquittoClient() {
  if (mosq_ != nullptr) Mosquitto().mosquitto_destroy(mosq_);
}

bool MosquittoClient::Connect(const MosquittoOptions& options, const std::string& host, int port,
                              int keep_alive_s, std::string& why) {
  if (mosq_ == nullptr) {
    const Library& lib = Mosquitto();
    if (!lib.problem.empty()) {
      why = std::string("the MQTT library cannot be loaded: ") + lib.problem;
      return false;
    }
    mosq_ = lib.mosquitto_new(nullptr, true, this);
  }
  if (mosq_ == nullptr) {
    why = "the MQTT client could not be made";
    return false;
  }
  // A clean client: the previous connection's socket and queued messages go.
  int rc = Mosquitto().mosquitto_reinitialise(mosq_, options.client_id.c_str(), true, this);
  if (rc == MOSQ_ERR_SUCCESS) {
    Mosquitto().mosquitto_connect_callback_set(mosq_, OnConnect);
    Mosquitto().mosquitto_disconnect_callback_set(mosq_, OnDisconnect);
    Mosquitto().mosquitto_publish_callback_set(mosq_, OnPublish);
    Mosquitto().mosquitto_message_callback_set(mosq_, OnMessage);
    Mosquitto().mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // Small messages at once: Nagle's wait behind the broker's delayed ACK would hold a burst
    // of events for tens of milliseconds.
    Mosquitto().mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
  }
  if (rc == MOSQ_ERR_SUCCESS && !options.will_topic.empty()) {
    rc = Mosquitto().mosquitto_will_set(
        mosq_, options.will_topic.c_str(), static_cast<int>(options.will_payload.size()),
        options.will_payload.data(), options.will_qos, options.will_retain);
  }
  if (rc == MOSQ_ERR_SUCCESS && !options.user.empty()) {
    rc = Mosquitto().mosquitto_username_pw_set(
        mosq_, options.user.c_str(), options.password ? options.password->c_str() : nullptr);
  }
  if (rc == MOSQ_ERR_SUCCESS && options.tls) {
    if (options.ca_file.empty()) {
      rc = Mosquitto().mosquitto_int_option(mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    } else {
      rc = Mosquitto().mosquitto_tls_set(mosq_, options.ca_file.c_str(), nullptr, nullptr, nullptr,
                                         nullptr);
    }
  }
  if (rc == MOSQ_ERR_SUCCESS)
    rc = Mosquitto().mosquitto_connect_async(mosq_, host.c_str(), port, keep_alive_s);
  if (rc != MOSQ_ERR_SUCCESS) {
    why = ErrorText(rc);
    return false;
  }
  return true;
}

void MosquittoClient::Disconnect() {
  if (mosq_ != nullptr) Mosquitto().mosquitto_disconnect(mosq_);
}

void MosquittoClient::Close(int within_ms) {
  const int fd = socket();
  if (fd < 0) return;
  Mosquitto().mosquitto_connect_callback_set(mosq_, nullptr);
  Mosquitto().mosquitto_disconnect_callback_set(mosq_, nullptr);
  Mosquitto().mosquitto_publish_callback_set(mosq_, nullptr);
  Mosquitto().mosquitto_message_callback_set(mosq_, nullptr);
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(within_ms);
  const auto wait = [&](short events) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p{fd, events, 0};
    return left.count() > 0 && ::poll(&p, 1, static_cast<int>(left.count())) > 0;
  };
  while (Mosquitto().mosquitto_want_write(mosq_) && wait(POLLOUT)) {
    if (Mosquitto().mosquitto_loop_write(mosq_, 1) != MOSQ_ERR_SUCCESS) return;
  }
  ::shutdown(fd, SHUT_WR);
  char sink[4096];
  while (wait(POLLIN)) {
    const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return;
  }
}

int MosquittoClient::socket() const {
  return mosq_ != nullptr ? Mosquitto().mosquitto_socket(mosq_) : -1;
}

bool MosquittoClient::want_write() const {
  return mosq_ != nullptr && Mosquitto().mosquitto_want_write(mosq_);
}

void MosquittoClient::Read() {
  if (mosq_ != nullptr) Mosquitto().mosquitto_loop_read(mosq_, 1);
}

void MosquittoClient::Write() {
  if (mosq_ != nullptr) Mosquitto().mosquitto_loop_write(mosq_, 1);
}

void MosquittoClient::Misc() {
  if (mosq_ != nullptr) Mosquitto().mosquitto_loop_misc(mosq_);
}

std::optional<int> MosquittoClient::Publish(const std::string& topic, const std::string& payload,
                                            int qos, bool retain) {
  if (mosq_ == nullptr) return std::nullopt;
  int mid = 0;
  const int rc = Mosquitto().mosquitto_publish(
      mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), qos, retain);
  if (rc != MOSQ_ERR_SUCCESS) return std::nullopt;
  return mid;
}

bool MosquittoClient::Subscribe(const std::string& filter, int qos) {
  return mosq_ != nullptr &&
         Mosquitto().mosquitto_subscribe(mosq_, nullptr, filter.c_str(), qos) == MOSQ_ERR_SUCCESS;
}

std::string MosquittoClient::ConnackText(int code) {
  const Library& lib = Mosquitto();
  if (!lib.problem.empty()) return "refused (" + std::to_string(code) + ")";
  return lib.mosquitto_connack_string(code);
}

std::string MosquittoClient::ErrorText(int error) {
  if (error == MOSQ_ERR_ERRNO) return std::strerror(errno);
  const Library& lib = Mosquitto();
  if (!lib.problem.empty()) return "error " + std::to_string(error);
  return lib.mosquitto_strerror(error);
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
