#include "sim/frame_shaper.h"

#include "sim/numbers.h"

namespace orv::sim {
namespace {

// Any nonzero mask makes the CRC wrong; this one also keeps it from staying an ETX or STX.
constexpr std::uint8_t kCrcSpoil = 0xA5;

}  // namespace

FrameShaper::FrameShaper(const LineFaultOptions& options, Random& random)
    : options_(options), random_(random) {}

void FrameShaper::Shape(Bytes frame, std::string meaning, std::vector<Transmission>& out) {
  ++frames_;
  if (Every(options_.noise_every, frames_)) out.push_back(Noise(kNoiseLength));
  if (TakeBadCrc() && frame.size() >= 2) {
    frame[frame.size() - 2] ^= kCrcSpoil;
    meaning += "  [bad CRC]";
  }
  const std::optional<Millis> pause = TakeSplit();
  if (pause && frame.size() >= 2) {
    Split(frame, meaning, *pause, out);
    return;
  }
  out.push_back({std::move(frame), std::move(meaning), Millis{0}});
}

Transmission FrameShaper::Noise(int count) {
  Transmission noise{{}, "noise", Millis{0}};
  for (int i = 0; i < count; ++i)
    noise.bytes.push_back(static_cast<std::uint8_t>(random_.Below(256)));
  return noise;
}

bool FrameShaper::TakeBadCrc() {
  if (bad_crc_pending_ > 0) {
    --bad_crc_pending_;
    return true;
  }
  return Every(options_.bad_crc_every, frames_);
}

std::optional<Millis> FrameShaper::TakeSplit() {
  if (split_pending_) {
    const std::optional<Millis> pause = split_pending_;
    split_pending_.reset();
    return pause;
  }
  if (Every(options_.split_every, frames_)) return Millis{options_.split_pause_ms};
  return std::nullopt;
}

void FrameShaper::Split(const Bytes& frame, const std::string& meaning, Millis pause,
                        std::vector<Transmission>& out) {
  const auto cut =
      static_cast<std::ptrdiff_t>(1 + random_.Below(static_cast<int>(frame.size()) - 1));
  out.push_back({Bytes(frame.begin(), frame.begin() + cut),
                 meaning + "  [split: first " + std::to_string(cut) + " bytes]", Millis{0}});
  out.push_back({Bytes(frame.begin() + cut, frame.end()), "(rest of the split frame)", pause});
}

}  // namespace orv::sim
