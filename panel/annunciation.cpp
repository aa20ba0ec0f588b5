// The annunciator wired into the panel: its records, the lamp test on the panel's lamps, and
// the sound output.
#include "panel/annunciation.h"

#include "access/access_gate.h"

#include <utility>

namespace orv {

PanelAnnunciation::PanelAnnunciation(ControlArray<Shape>& lamps, Environment env)
    : lamps_(lamps), env_(std::move(env)) {
  if (env_.wall_clock) since_ = env_.wall_clock();
  connection_ =
      annunciator_.changed().Connect([this](const Annunciator::Change& c) { OnChange(c); });
}

std::int64_t PanelAnnunciation::Now() const {
  return env_.tick_clock ? env_.tick_clock() : ticks_ * LinkWatch::kMsPerTick;
}

void PanelAnnunciation::set_settings(const AnnunciationSettings& settings) {
  settings_ = settings;
  annunciator_.set_settings(settings.annunciator);
}

void PanelAnnunciation::set_output(SoundOutput* output) {
  if (output_ != nullptr) output_->Stop();
  driver_.reset();
  output_ = output;
  if (output_ != nullptr) driver_.emplace(annunciator_, *output_);
}

void PanelAnnunciation::Tick(bool no_reply, bool recording_failed) {
  ++ticks_;
  const std::int64_t now = Now();
  annunciator_.SetNoReply(no_reply, now);
  annunciator_.SetRecordingFailed(recording_failed, now);
  annunciator_.Tick(now);
  if (!driver_) return;
  driver_->Tick(now);
  // Said once while it lasts: the condition itself sounds (or is shown) like any other fault.
  const bool available = output_->available();
  const bool unavailable = annunciator_.tone() != Tone::kNone && !available;
  if (unavailable && !unavailable_said_ && env_.notice) {
    env_.notice(Notice{NoticeLevel::kError, "Sounder unavailable: " + output_->reason()});
  }
  if (available) unavailable_said_ = false;
  if (unavailable) unavailable_said_ = true;
}

void PanelAnnunciation::ShowLamp(int index, bool lit) {
  const int style = lit ? Shape::kSolid : Shape::kTransparent;
  if (lit_here_) {
    held_styles_[static_cast<std::size_t>(index)] = style;
  } else {
    lamps_[index].SetFillStyle(style);
  }
}

std::string PanelAnnunciation::Who(const Actor& by) const {
  const std::string login = OriginLogin(by.origin);
  return login.empty() ? env_.login : login;
}

bool PanelAnnunciation::RecordOperatorChange(bool changed, const Actor& by) {
  if (std::optional<std::string> text = std::exchange(operator_change_, std::nullopt);
      text && env_.record) {
    env_.record(JournalKind::kOperator, std::move(*text), by);
  }
  return changed;
}

bool PanelAnnunciation::Silence(std::string_view where, const Actor& by) {
  return RecordOperatorChange(annunciator_.Silence(Who(by), where, Now()), by);
}

bool PanelAnnunciation::SilenceAlarm(std::string_view where, const Actor& by) {
  return RecordOperatorChange(annunciator_.SilenceAlarm(Who(by), where, Now()), by);
}

bool PanelAnnunciation::SilenceFault(std::string_view where, const Actor& by) {
  return RecordOperatorChange(annunciator_.SilenceFault(Who(by), where, Now()), by);
}

void PanelAnnunciation::LampTest(const Actor& by, bool light_here) {
  light_next_ = light_here;
  annunciator_.LampTest(Now());
  light_next_ = false;
  RecordOperatorChange(true, by);
}

void PanelAnnunciation::OnChange(const Annunciator::Change& change) {
  using Kind = Annunciator::Change::Kind;
  if (change.kind == Kind::kLampTestStarted && light_next_ && !lit_here_) {
    lit_here_ = true;
    for (int i = 0; i < kLamps; ++i) {
      held_styles_[static_cast<std::size_t>(i)] = lamps_[i].fill_style();
      lamps_[i].SetFillStyle(Shape::kSolid);
    }
  } else if (change.kind == Kind::kLampTestEnded && lit_here_) {
    lit_here_ = false;
    for (int i = 0; i < kLamps; ++i)
      lamps_[i].SetFillStyle(held_styles_[static_cast<std::size_t>(i)]);
  }
  // The operator's own actions are operator records; what the annunciator does of itself is
  // the program's.
  const bool by_operator = change.kind == Kind::kSilenced || change.kind == Kind::kLampTestStarted;
  std::string text = std::string(kAnnunciationRecordPrefix) + RecordText(change);
  if (by_operator) {
    operator_change_ = std::move(text);  // recorded by the call that asked, with who asked
  } else if (env_.record) {
    env_.record(JournalKind::kProgram, std::move(text), Actor{});
  }
  // Timed again only when what sounds is another (or the quiet): a lamp test, a silence of
  // something else or a wall clock set meanwhile leaves the time of what still sounds.
  if (env_.wall_clock &&
      (change.now.condition != timed_.condition || change.now.since_ms != timed_.since_ms)) {
    timed_ = change.now;
    // The wall-clock time of the tick clock's moment: a fault silenced under an alarm is shown
    // since it began, not since the silence.
    since_ = env_.wall_clock();
    if (!change.now.condition.empty()) since_.utc_ms -= Now() - change.now.since_ms;
  }
  changed_(view());
}

}  // namespace orv
