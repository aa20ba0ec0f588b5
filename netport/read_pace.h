#pragma once

#include <cstdint>

namespace orv {

// How fast a network port reads. A serial line carries at most its baud rate (115,200 baud is
// 11.5 kB a second, twice that with every telnet escape doubled), but a server on the network can
// send a thousand times more, and every byte read costs the program's one loop its time. So the
// port reads at most kPerSecond on average, in bursts of up to kBurst, and a byte of telnet
// negotiation counts kNegotiationCost times: a server sending nothing but negotiation is read at a
// sixteenth of the pace. What comes faster waits in the system, where TCP holds the server back;
// a real line never meets the bound.
class ReadPace {
 public:
  static constexpr std::int64_t kPerSecond = 32 * 1024;
  static constexpr std::int64_t kBurst = 8 * 1024;
  static constexpr std::int64_t kNegotiationCost = 16;
  // A held-back port waits until it may read this much: a few turns a second, not one per byte.
  static constexpr std::int64_t kLeastRead = 1024;

  explicit ReadPace(std::int64_t now_ms = 0) : last_ms_(now_ms) {}

  // Bytes that may be read now: 0 while the port is held back.
  std::int64_t Allowance(std::int64_t now_ms);
  // What the last read held: the serial line's bytes and the rest (telnet's own).
  void Took(std::int64_t data_bytes, std::int64_t negotiation_bytes);
  // Milliseconds from the last Allowance() until reading may go on; 0 when it may now.
  std::int64_t WaitMs() const;
  // Whether the port was ever held back: said once per connection.
  bool held_back() const { return held_back_; }

 private:
  std::int64_t credit_ = kBurst;
  std::int64_t last_ms_ = 0;
  bool held_back_ = false;
};

}  // namespace orv
