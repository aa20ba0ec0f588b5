#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/random.h"
#include "sim/transmission.h"

namespace orv::sim {

// Line faults applied to frames on their way out. "every" counts are over all frames sent;
// 0 means never.
struct LineFaultOptions {
  int bad_crc_every = 0;
  int split_every = 0;
  int split_pause_ms = 200;
  int noise_every = 0;
};

// Turns each frame into what goes on the wire: whole, with a wrong CRC, split in two with a
// pause between the parts, or after a stretch of noise.
class FrameShaper {
 public:
  static constexpr int kNoiseLength = 5;

  FrameShaper(const LineFaultOptions& options, Random& random);

  // The next count frames carry a wrong CRC.
  void BadCrcNext(int count) { bad_crc_pending_ += count; }
  // The next frame is split with this pause between its parts.
  void SplitNext(Millis pause) { split_pending_ = pause; }
  // Appends the transmissions for one frame.
  void Shape(Bytes frame, std::string meaning, std::vector<Transmission>& out);
  // count random bytes that belong to no frame.
  Transmission Noise(int count);

  int frames_shaped() const { return frames_; }

 private:
  bool TakeBadCrc();
  std::optional<Millis> TakeSplit();
  void Split(const Bytes& frame, const std::string& meaning, Millis pause,
             std::vector<Transmission>& out);

  LineFaultOptions options_;
  Random& random_;
  int frames_ = 0;
  int bad_crc_pending_ = 0;
  std::optional<Millis> split_pending_;
};

}  // namespace orv::sim
