#pragma once

#include <string>

namespace orv {

// Where the program stands with its broker, for the status bar and the headless output.
enum class BrokerPhase {
  kOff,        // no broker configured, or its settings are refused
  kTrying,     // a connect is under way, or the next one is waiting
  kConnected,  // the broker accepted us
  kRefused,    // the broker answered the connect with a refusal (login, identifier …)
};

struct BrokerState {
  BrokerPhase phase = BrokerPhase::kOff;
  std::string detail;  // why, for refused and for a failed try; the broker, when connected

  bool operator==(const BrokerState&) const = default;
};

// "connected (mqtt://host:1883)", "trying (connection lost: …)", "refused: not authorised" …
std::string BrokerStateText(const BrokerState& state);

// The wait before the next connect: 1 s after the first failure, doubling up to 60 s, and back to
// 1 s once a connect is accepted. A broker that refuses the login counts as a failure too, so a
// wrong password never turns into a storm of connects.
class ReconnectBackoff {
 public:
  static constexpr int kFirstMs = 1000;
  static constexpr int kLongestMs = 60000;

  // The wait after one more failure.
  int Failed();
  void Succeeded() { next_ms_ = kFirstMs; }
  int next_ms() const { return next_ms_; }

 private:
  int next_ms_ = kFirstMs;
};

}  // namespace orv
