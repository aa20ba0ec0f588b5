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

}  // namespace orv
