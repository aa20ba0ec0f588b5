#pragma once

// Operator keys at a hand's pace. A hand on a panel presses a few keys a second; a program on a
// socket or behind a browser can send thousands, and each one allowed goes out on the serial line
// (a few milliseconds of it at 9600 baud, queued behind the polls) and into the journal. Each
// origin gets a bucket of kBurst keys that refills at kPerSecond: a quick series of presses
// passes whole, a brisk hand pressing steadily never waits, and a flood gets kPerSecond through
// while the rest is refused.

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace orv {

class KeyPace {
 public:
  using Clock = std::chrono::steady_clock;
  // Eight: a row of a trigger page ticked as fast as a mouse goes, or a key pressed twice over a
  // few keys. Four a second: one press each 250 ms, as fast as a hand keeps it up on purpose.
  static constexpr int kBurst = 8;
  static constexpr int kPerSecond = 4;
  static constexpr Clock::duration kInterval =
      std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)) / kPerSecond;
  // Origins whose bucket is not whole, kept at once. A whole bucket is forgotten: it is the same as
  // none. Past the bound the origin nearest to whole goes, which forgives it a few keys at most.
  static constexpr std::size_t kOrigins = 128;

  enum class Verdict {
    kAllowed,
    kRefused,       // the first refusal of a burst: say it
    kRefusedAgain,  // the origin was told so already in this burst
  };

  // One key from the origin (any text that names it alone).
  Verdict Take(std::string_view origin, Clock::time_point now);
  std::size_t tracked() const { return buckets_.size(); }

  // What a refused key is answered: "refused: more than 4 keys a second".
  static std::string RefusalText();

 private:
  struct Bucket {
    // When the bucket is whole again; each key taken moves it on by kInterval.
    Clock::time_point whole_at;
    bool told = false;  // a refusal was said in this burst
  };

  void MakeRoom(Clock::time_point now);

  std::map<std::string, Bucket, std::less<>> buckets_;
};

}  // namespace orv
