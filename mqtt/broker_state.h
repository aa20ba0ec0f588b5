#pragma once

#include <cstdint>
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
// 1 s once a connection has lasted kSettledMs. A broker that refuses the login counts as a failure
// too, so a wrong password never turns into a storm of connects.
//
// A connection that the broker ends before kSettledMs does not start the waits over: that is
// what another client using the same client id looks like (the broker drops the older of two
// connections with one id, and under MQTT 3.1.1 says nothing about why). Connecting again at
// once would only drop the other one in turn, for ever; so after kCutShortForTakeover such
// connections in a row the id counts as taken over, and every wait is the longest one until a
// connection lasts.
class ReconnectBackoff {
 public:
  static constexpr int kFirstMs = 1000;
  static constexpr int kLongestMs = 60000;
  static constexpr std::int64_t kSettledMs = 10000;
  static constexpr int kCutShortForTakeover = 2;

  // The wait after one more failed or refused connect.
  int Failed();
  // The broker accepted a connect at now_ms (any monotonic milliseconds).
  void Accepted(std::int64_t now_ms);
  // True once the accepted connection has lasted kSettledMs: the waits start over, and an id
  // taken over is ours again.
  bool Settled(std::int64_t now_ms);
  // The accepted connection ended at now_ms: the wait before the next connect.
  int Lost(std::int64_t now_ms);
  bool taken_over() const { return cut_short_ >= kCutShortForTakeover; }
  int next_ms() const { return next_ms_; }

 private:
  int next_ms_ = kFirstMs;
  std::int64_t accepted_ms_ = 0;
  bool connected_ = false;
  int cut_short_ = 0;  // connections in a row that ended before kSettledMs
};

}  // namespace orv
