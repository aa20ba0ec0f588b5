#include "netport/read_pace.h"

#include <algorithm>

namespace orv {

std::int64_t ReadPace::Allowance(std::int64_t now_ms) {
  // A clock that steps back earns nothing; a long quiet earns one burst (and cannot overflow).
  const std::int64_t elapsed = std::clamp<std::int64_t>(now_ms - last_ms_, 0, 60'000);
  last_ms_ = std::max(last_ms_, now_ms);
  credit_ = std::min(kBurst, credit_ + elapsed * kPerSecond / 1000);
  if (credit_ >= kLeastRead) return credit_;
  held_back_ = true;
  return 0;
}

void ReadPace::Took(std::int64_t data_bytes, std::int64_t negotiation_bytes) {
  credit_ -= data_bytes + negotiation_bytes * kNegotiationCost;
}

std::int64_t ReadPace::WaitMs() const {
  if (credit_ >= kLeastRead) return 0;
  return ((kLeastRead - credit_) * 1000 + kPerSecond - 1) / kPerSecond;
}

}  // namespace orv
