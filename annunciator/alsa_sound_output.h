// The headless service's sounder: the tones looped on a named ALSA device, fed from the tick
// without ever waiting for the card.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "annunciator/sound_output.h"

struct _snd_pcm;  // ALSA's device handle, kept out of this header

namespace orv {

class AlsaSoundOutput final : public SoundOutput {
 public:
  // An empty name means no sounder. The device is opened at once, to say early whether it works.
  explicit AlsaSoundOutput(std::string device);
  ~AlsaSoundOutput() override;
  AlsaSoundOutput(const AlsaSoundOutput&) = delete;
  AlsaSoundOutput& operator=(const AlsaSoundOutput&) = delete;

  bool Play(Tone tone) override;
  void Stop() override;
  bool available() const override { return pcm_ != nullptr; }
  std::string reason() const override { return reason_; }
  // Writes as much of the loop as the device takes now.
  void Pump() override;

 private:
  bool Open();
  void Close(std::string reason);
  bool Recover(int error);

  std::string device_;
  _snd_pcm* pcm_ = nullptr;
  std::string reason_;
  std::vector<std::int16_t> loop_;  // empty: not playing
  std::size_t position_ = 0;
};

}  // namespace orv
