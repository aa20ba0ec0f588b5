// The window's sounder: the two tones through Qt Multimedia, each a looping sound effect loaded
// once from the program's resources, played on the desktop's default sound output.
#pragma once

#include <memory>
#include <string>

#include "annunciator/sound_output.h"

class QSoundEffect;

namespace orv {

class QtSoundOutput final : public SoundOutput {
 public:
  QtSoundOutput();
  ~QtSoundOutput() override;
  QtSoundOutput(const QtSoundOutput&) = delete;
  QtSoundOutput& operator=(const QtSoundOutput&) = delete;

  bool Play(Tone tone) override;
  void Stop() override;
  // False without a sound output (no sound server, no card) or when a tone cannot be loaded.
  bool available() const override { return reason().empty(); }
  std::string reason() const override;

 private:
  std::unique_ptr<QSoundEffect> alarm_;
  std::unique_ptr<QSoundEffect> fault_;
};

}  // namespace orv
