#include "mqtt/broker_state.h"

#include <algorithm>

namespace orv {

std::string BrokerStateText(const BrokerState& state) {
  std::string text;
  switch (state.phase) {
    case BrokerPhase::kOff:
      text += "off";
      break;
    case BrokerPhase::kTrying:
      text += "trying";
      break;
    case BrokerPhase::kConnected:
      text += "connected";
      break;
    case BrokerPhase::kRefused:
      text += "refused";
      break;
  }
  if (!state.detail.empty()) {
    text += state.phase == BrokerPhase::kRefused ? ": " + state.detail : " (" + state.detail + ")";
  }
  return text;
}

int ReconnectBackoff::Failed() {
  const int wait = next_ms_;
  next_ms_ = std::min(next_ms_ * 2, kLongestMs);
  return wait;
}

void ReconnectBackoff::Accepted(std::int64_t now_ms) {
  accepted_ms_ = now_ms;
  connected_ = true;
}

bool ReconnectBackoff::Settled(std::int64_t now_ms) {
  if (!connected_ || now_ms - accepted_ms_ < kSettledMs) return false;
  next_ms_ = kFirstMs;
  cut_short_ = 0;
  return true;
}

int ReconnectBackoff::Lost(std::int64_t now_ms) {
  if (!Settled(now_ms)) ++cut_short_;
  connected_ = false;
  if (taken_over()) next_ms_ = kLongestMs;
  return Failed();
}

}  // namespace orv
