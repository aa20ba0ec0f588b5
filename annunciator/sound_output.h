// Where the annunciator's tone is heard: an output behind an interface (a sound card, Qt's
// player, a test's fake), and the driver that keeps it playing what the annunciator calls for.
#pragma once

#include <cstdint>
#include <string>

#include "annunciator/annunciator.h"
#include "annunciator/tones.h"

namespace orv {

class SoundOutput {
 public:
  virtual ~SoundOutput() = default;
  // Starts the tone looping, in place of any other; false when it cannot be played.
  virtual bool Play(Tone tone) = 0;
  virtual void Stop() = 0;
  virtual bool available() const = 0;
  // Why it is not available; empty when it is.
  virtual std::string reason() const = 0;
  // Once per tick, for outputs that must be fed; never blocks.
  virtual void Pump() {}
};

// Applies the annunciator's tone to the output once per tick, and tells the annunciator when the
// output cannot play ("sounder unavailable") and when it plays again. A failed tone is tried
// again only when the tone changes, so a missing device is not opened once per tick.
class SoundDriver {
 public:
  SoundDriver(Annunciator& annunciator, SoundOutput& output)
      : annunciator_(annunciator), output_(output) {}

  // After the annunciator's own tick.
  void Tick(std::int64_t now_ms);

 private:
  Annunciator& annunciator_;
  SoundOutput& output_;
  Tone requested_ = Tone::kNone;
};

}  // namespace orv
