// The sound driver: the annunciator's tone onto an output.
#include "annunciator/sound_output.h"

namespace orv {

void SoundDriver::Tick(std::int64_t now_ms) {
  output_.Pump();
  const Tone want = annunciator_.tone();
  if (want == requested_) {
    // An output can fail while it plays (a device unplugged).
    if (want != Tone::kNone && !output_.available()) {
      annunciator_.SetSounderUnavailable(true, now_ms, output_.reason());
    }
    return;
  }
  requested_ = want;
  if (want == Tone::kNone) {
    output_.Stop();
  } else if (output_.Play(want)) {
    annunciator_.SetSounderUnavailable(false, now_ms);
  } else {
    annunciator_.SetSounderUnavailable(true, now_ms, output_.reason());
  }
}

}  // namespace orv
