#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

struct mosquitto;
struct mosquitto_message;

namespace orv {

// What one connect to a broker needs besides its address.
struct MosquittoOptions {
  std::string client_id;
  std::string will_topic;  // empty: no last will
  std::string will_payload;
  int will_qos = 1;
  bool will_retain = true;
  std::string user;  // empty: no login
  std::optional<std::string> password;
  bool tls = false;
  std::string ca_file;  // with tls; empty: the system's certificate authorities
};

// libmosquitto without its thread and without its own reconnects: the caller watches socket()
// for reading (and for writing while want_write()), calls Read(), Write() and, about once a
// second, Misc() (the keep-alive), and decides itself when to connect again. Each Connect starts
// from a clean client, so nothing queued for an earlier connection is sent on a later one: what
// is still to be sent is the caller's to say. Callbacks run inside these calls.
class MosquittoClient {
 public:
  // Opened at the first Connect.
  static constexpr const char* kLibraryName = "libmosquitto.so.1";

  struct Events {
    // The broker's CONNACK: 0 accepted, else the refusal's code (see ConnackText).
    std::function<void(int code)> connected;
    // The connection ended (0: we asked for it), or a connect that was under way failed.
    std::function<void(int error)> disconnected;
    // A QoS 1 message was acknowledged, or a QoS 0 one was written out.
    std::function<void(int mid)> published;
    // A message on a topic subscribed to.
    std::function<void(std::string_view topic, std::string_view payload)> message;
  };

  explicit MosquittoClient(Events events);
  ~MosquittoClient();
  MosquittoClient(const MosquittoClient&) = delete;
  MosquittoClient& operator=(const MosquittoClient&) = delete;

  // Starts a connect without waiting for the broker (host should be an address: a name is looked
  // up by the system and may wait for its name server). False, with why, when it could not start.
  bool Connect(const MosquittoOptions& options, const std::string& host, int port, int keep_alive_s,
               std::string& why);
  // Sends DISCONNECT; the will is not published.
  void Disconnect();
  // Ends the connection without DISCONNECT (the broker publishes the will) and without losing
  // what was already handed over: what libmosquitto holds is written, our side of the socket is
  // shut, and whatever the broker still sends is read and dropped until it closes its side. A
  // socket closed with unread data in it is reset, and the reset throws away what the broker has
  // not read yet (the last state of a clean stop). Waits at most within_ms; no callbacks run.
  void Close(int within_ms);

  // The socket to watch, or -1.
  int socket() const;
  bool want_write() const;
  void Read();
  void Write();
  void Misc();

  // The message id, or nothing when the client cannot take the message now.
  std::optional<int> Publish(const std::string& topic, const std::string& payload, int qos,
                             bool retain);

  // Asks the broker for the messages on a topic filter; false when the client cannot send it now.
  bool Subscribe(const std::string& filter, int qos);

  static std::string ConnackText(int code);
  static std::string ErrorText(int error);

 private:
  static void OnConnect(mosquitto*, void* self, int code);
  static void OnDisconnect(mosquitto*, void* self, int error);
  static void OnPublish(mosquitto*, void* self, int mid);
  static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);

  Events events_;
  mosquitto* mosq_ = nullptr;
};

}  // namespace orv
