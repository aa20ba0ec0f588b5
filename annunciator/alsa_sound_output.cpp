// The ALSA sounder: non-blocking writes of the tone loop, refilled each tick.
#include "annunciator/alsa_sound_output.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <utility>

namespace orv {
namespace {

// Kept well above the 100 ms tick, so a late tick does not starve the card.
constexpr unsigned kLatencyUs = 400'000;

std::string AlsaError(const char* what, const std::string& device, int error) {
  return std::string(what) + " \"" + device + "\": " + snd_strerror(error);
}

}  // namespace

AlsaSoundOutput::AlsaSoundOutput(std::string device) : device_(std::move(device)) {
  Open();
}

AlsaSoundOutput::~AlsaSoundOutput() {
  Close({});
}

bool AlsaSoundOutput::Open() {
  if (pcm_ != nullptr) return true;
  if (device_.empty()) {
    reason_ = "no sound device configured";
    return false;
  }
  snd_pcm_t* pcm = nullptr;
  int error = snd_pcm_open(&pcm, device_.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  if (error < 0) {
    reason_ = AlsaError("cannot open sound device", device_, error);
    return false;
  }
  error = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, 1,
                             kToneSampleRate, 1, kLatencyUs);
  if (error < 0) {
    snd_pcm_close(pcm);
    reason_ = AlsaError("cannot set up sound device", device_, error);
    return false;
  }
  pcm_ = pcm;
  reason_.clear();
  return true;
}

void AlsaSoundOutput::Close(std::string reason) {
  if (pcm_ != nullptr) snd_pcm_close(pcm_);
  pcm_ = nullptr;
  loop_.clear();
  reason_ = std::move(reason);
}

bool AlsaSoundOutput::Play(Tone tone) {
  if (tone == Tone::kNone) {
    Stop();
    return true;
  }
  // A device that failed earlier may be back.
  if (!Open()) return false;
  snd_pcm_drop(pcm_);
  const int error = snd_pcm_prepare(pcm_);
  if (error < 0) {
    Close(AlsaError("cannot start sound device", device_, error));
    return false;
  }
  loop_ = ToneSamples(tone);
  position_ = 0;
  Pump();
  return pcm_ != nullptr;
}

void AlsaSoundOutput::Stop() {
  if (pcm_ != nullptr) snd_pcm_drop(pcm_);
  loop_.clear();
}

// An underrun or a suspend is recovered; anything else means the device is gone. Not
// snd_pcm_recover: it sleeps while a suspended device resumes. False: no more writes this tick.
bool AlsaSoundOutput::Recover(int error) {
  if (error == -ESTRPIPE) {
    error = snd_pcm_resume(pcm_);
    if (error == -EAGAIN) return false;  // still resuming
    if (error < 0) error = -EPIPE;       // cannot resume in place: start over
  }
  if (error == -EPIPE) error = snd_pcm_prepare(pcm_);
  if (error < 0) {
    Close(AlsaError("sound device failed", device_, error));
    return false;
  }
  return true;
}

void AlsaSoundOutput::Pump() {
  if (pcm_ == nullptr || loop_.empty()) return;
  // Bounded: at most a few rounds of recovery per tick.
  for (int round = 0; round < 8; ++round) {
    const std::size_t count = std::min<std::size_t>(loop_.size() - position_, 4096);
    const snd_pcm_sframes_t written = snd_pcm_writei(pcm_, loop_.data() + position_, count);
    if (written == -EAGAIN) return;  // the buffer is full: the rest next tick
    if (written < 0) {
      if (!Recover(static_cast<int>(written))) return;
      continue;
    }
    position_ = (position_ + static_cast<std::size_t>(written)) % loop_.size();
  }
}

}  // namespace orv
