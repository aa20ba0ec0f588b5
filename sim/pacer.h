#pragma once

#include <chrono>
#include <deque>
#include <optional>
#include <vector>

#include "sim/transmission.h"

namespace orv::sim {

using Nanos = std::chrono::nanoseconds;

// Lets bytes out no faster than the line would carry them: byte i of a transmission becomes due
// one byte time after byte i - 1, and a transmission starts only after the previous one has gone
// and its own pause has passed. Times are on the caller's monotonic clock.
class Pacer {
 public:
  explicit Pacer(Nanos byte_time) : byte_time_(byte_time) {}

  // Byte time of a line: bits_per_character bit times at baud bits per second.
  static Nanos ByteTime(int baud, int bits_per_character);

  void Add(Transmission transmission, Nanos now);

  struct Due {
    Bytes bytes;                      // to write now, in order
    std::vector<Transmission> begun;  // transmissions whose first byte is among them
  };
  Due TakeDue(Nanos now);

  // When the next byte is due; nothing when the queue is empty.
  std::optional<Nanos> NextDue() const;
  bool empty() const { return queue_.empty(); }
  // Forgets everything not yet let out.
  void Clear() {
    queue_.clear();
    free_at_ = Nanos{0};
  }

 private:
  struct Segment {
    Nanos start;
    Transmission transmission;
    std::size_t sent = 0;
  };

  Nanos byte_time_;
  Nanos free_at_{0};
  std::deque<Segment> queue_;
};

}  // namespace orv::sim
