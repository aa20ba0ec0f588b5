#include "access/key_pace.h"

#include <algorithm>
#include <utility>

namespace orv {

KeyPace::Verdict KeyPace::Take(std::string_view origin, Clock::time_point now) {
  auto it = buckets_.find(origin);
  if (it != buckets_.end() && it->second.whole_at <= now) {
    // Whole again: the burst is over, the next refusal is said anew.
    it->second = Bucket{now, false};
  }
  if (it == buckets_.end()) {
    if (buckets_.size() >= kOrigins) MakeRoom(now);
    it = buckets_.emplace(std::string(origin), Bucket{now, false}).first;
  }
  Bucket& bucket = it->second;
  // Keys owed after this one, as time to refill: more than the bucket holds is refused.
  if (bucket.whole_at + kInterval - now > kBurst * kInterval)
    return std::exchange(bucket.told, true) ? Verdict::kRefusedAgain : Verdict::kRefused;
  bucket.whole_at += kInterval;
  return Verdict::kAllowed;
}

std::string KeyPace::RefusalText() {
  return "refused: more than " + std::to_string(kPerSecond) + " keys a second";
}

void KeyPace::MakeRoom(Clock::time_point now) {
  std::erase_if(buckets_, [now](const auto& entry) { return entry.second.whole_at <= now; });
  if (buckets_.size() < kOrigins) return;
  buckets_.erase(std::min_element(buckets_.begin(), buckets_.end(), [](auto& a, auto& b) {
    return a.second.whole_at < b.second.whole_at;
  }));
}

}  // namespace orv
