#include "sim/pacer.h"

#include <algorithm>

namespace orv::sim {

Nanos Pacer::ByteTime(int baud, int bits_per_character) {
  if (baud <= 0) return Nanos{0};
  return Nanos{std::chrono::seconds{1}} * bits_per_character / baud;
}

void Pacer::Add(Transmission transmission, Nanos now) {
  if (transmission.bytes.empty()) return;
  const Nanos start = std::max(now, free_at_) + transmission.pause_before;
  free_at_ = start + byte_time_ * static_cast<long>(transmission.bytes.size());
  queue_.push_back({start, std::move(transmission), 0});
}

Pacer::Due Pacer::TakeDue(Nanos now) {
  Due due;
  while (!queue_.empty() && now >= queue_.front().start) {
    Segment& segment = queue_.front();
    const Bytes& bytes = segment.transmission.bytes;
    const auto ready = static_cast<std::size_t>(
        byte_time_.count() > 0 ? (now - segment.start) / byte_time_ + 1 : bytes.size());
    const std::size_t until = std::min(bytes.size(), ready);
    if (segment.sent == 0) due.begun.push_back(segment.transmission);
    due.bytes.insert(due.bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(segment.sent),
                     bytes.begin() + static_cast<std::ptrdiff_t>(until));
    segment.sent = until;
    if (segment.sent < bytes.size()) break;
    queue_.pop_front();
  }
  return due;
}

std::optional<Nanos> Pacer::NextDue() const {
  if (queue_.empty()) return std::nullopt;
  const Segment& segment = queue_.front();
  return segment.start + byte_time_ * static_cast<long>(segment.sent);
}

}  // namespace orv::sim
