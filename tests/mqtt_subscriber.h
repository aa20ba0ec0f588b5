#pragma once

// A subscriber of the test's own on a real broker, for the tests that watch what the program
// publishes there.
#include <gtest/gtest.h>

#include <mosquitto.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace orv::test {

// The base topic the tests give the program.
inline constexpr const char* kMqttBase = "orv/test";

// Waits in steps of 20 ms (no event loop of its own) until done() holds; false past within.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds within) {
  for (const auto deadline = std::chrono::steady_clock::now() + within; !done();) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// A client subscribed to everything under the base topic, on libmosquitto's own thread; it
// connects and subscribes again whenever the broker drops it.
class Subscriber {
 public:
  explicit Subscriber(int port, const std::string& id = "", bool clean_session = true) {
    mosquitto_lib_init();
    mosq_ = mosquitto_new(id.empty() ? nullptr : id.c_str(), clean_session, this);
    mosquitto_connect_callback_set(mosq_, [](mosquitto* m, void*, int rc) {
      if (rc == 0) mosquitto_subscribe(m, nullptr, (std::string(kMqttBase) + "/#").c_str(), 1);
    });
    mosquitto_message_callback_set(
        mosq_, [](mosquitto*, void* self, const mosquitto_message* message) {
          auto* s = static_cast<Subscriber*>(self);
          const std::lock_guard<std::mutex> lock(s->mutex_);
          s->received_.push_back(
              {message->topic, std::string(static_cast<const char*>(message->payload),
                                           static_cast<std::size_t>(message->payloadlen))});
        });
    mosquitto_reconnect_delay_set(mosq_, 1, 1, false);
    EXPECT_EQ(mosquitto_connect(mosq_, "127.0.0.1", port, 5), MOSQ_ERR_SUCCESS);
    mosquitto_loop_start(mosq_);
  }
  ~Subscriber() {
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, true);
    mosquitto_destroy(mosq_);
  }
  Subscriber(const Subscriber&) = delete;
  Subscriber& operator=(const Subscriber&) = delete;

  std::size_t size() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return received_.size();
  }
  // A retained value on the panel's topics, as anyone who may publish could put there.
  void PublishRetained(const std::string& sub, const std::string& payload) {
    mosquitto_publish(mosq_, nullptr, (std::string(kMqttBase) + "/" + sub).c_str(),
                      static_cast<int>(payload.size()), payload.data(), 1, true);
  }
  // The latest payload of a topic ("" when none came).
  std::string Last(const std::string& sub) const {
    const std::vector<std::string> all = Since(0, sub);
    return all.empty() ? "" : all.back();
  }
  bool WaitFor(const std::string& sub, const std::string& payload,
               std::chrono::milliseconds within = std::chrono::milliseconds(10000)) const {
    return WaitUntil([&] { return Last(sub) == payload; }, within);
  }
  // Every message from the index from on, as "sub=payload".
  std::vector<std::string> Since(std::size_t from) const {
    const std::size_t base = std::string(kMqttBase).size() + 1;
    std::vector<std::string> messages;
    const std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t i = from; i < received_.size(); ++i)
      messages.push_back(received_[i].first.substr(base) + "=" + received_[i].second);
    return messages;
  }
  // Messages of a topic from the index from on.
  std::vector<std::string> Since(std::size_t from, const std::string& sub) const {
    const std::string topic = std::string(kMqttBase) + "/" + sub;
    std::vector<std::string> payloads;
    const std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t i = from; i < received_.size(); ++i)
      if (received_[i].first == topic) payloads.push_back(received_[i].second);
    return payloads;
  }

 private:
  mosquitto* mosq_ = nullptr;
  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, std::string>> received_;
};

}  // namespace orv::test
