// The tones on Qt Multimedia.
#include "annunciator/qt/qt_sound_output.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

namespace orv {
namespace {

std::unique_ptr<QSoundEffect> LoadTone(const char* url) {
  auto effect = std::make_unique<QSoundEffect>();
  effect->setLoopCount(QSoundEffect::Infinite);
  // Loaded now, so that the first alarm is heard without waiting for the file.
  effect->setSource(QUrl(QString::fromLatin1(url)));
  return effect;
}

}  // namespace

QtSoundOutput::QtSoundOutput()
    : alarm_(LoadTone("qrc:/orvandel/tones/alarm.wav")),
      fault_(LoadTone("qrc:/orvandel/tones/fault.wav")) {}

QtSoundOutput::~QtSoundOutput() = default;

std::string QtSoundOutput::reason() const {
  if (QMediaDevices::audioOutputs().isEmpty()) return "no sound output (no sound server or card)";
  if (alarm_->status() == QSoundEffect::Error || fault_->status() == QSoundEffect::Error) {
    return "the tones cannot be played";
  }
  return {};
}

bool QtSoundOutput::Play(Tone tone) {
  Stop();
  if (tone == Tone::kNone) return true;
  if (!available()) return false;
  (tone == Tone::kAlarm ? alarm_ : fault_)->play();
  return true;
}

void QtSoundOutput::Stop() {
  alarm_->stop();
  fault_->stop();
}

}  // namespace orv
