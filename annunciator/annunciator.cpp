// The annunciator's conditions: raised, ended, silenced, reminded, and the lamp test.
#include "annunciator/annunciator.h"

#include <algorithm>
#include <utility>

namespace orv {
namespace {

constexpr std::int64_t kMsPerHour = 3'600'000;

std::string LampText(int lamp) {
  return std::string("Fault lamp ") + kFaultLampCaptions[static_cast<std::size_t>(lamp)] + " lit";
}

}  // namespace

void Annunciator::set_settings(const AnnunciatorSettings& settings) {
  const bool sound_changed = settings.sound != settings_.sound;
  settings_ = settings;
  if (sound_changed) Emit(Change::Kind::kSoundSetting, settings_.sound ? "on" : "off");
}

void Annunciator::Report(std::uint8_t code, std::int64_t now_ms) {
  const char* name = nullptr;
  switch (code) {
    case kEmgReport:
      name = "EMG report";
      break;
    case kAlertReport:
      name = "ALERT report";
      break;
    case kAlarmReport:
      name = "ALARM report";
      break;
    case kEmgPttReport:
      name = "EMG PTT report";
      break;
    case kFaultReport:
      Raise(Source::kReport, code, false, false, "Fault report", now_ms);
      return;
    default:
      return;
  }
  Raise(Source::kReport, code, true, false, name, now_ms);
}

void Annunciator::SetLamps(const FaultLamps& lamps, std::int64_t now_ms) {
  if (lamp_test_active_) {
    held_lamps_ = lamps;
    return;
  }
  ApplyLamps(lamps, now_ms);
}

void Annunciator::SetNoReply(bool on, std::int64_t now_ms) {
  no_reply_ = on;
  SetPresent(Source::kNoReply, 0, on, "Controller does not answer", now_ms);
}

void Annunciator::PortLost(std::int64_t now_ms) {
  Raise(Source::kPortLost, 0, false, false, "Port lost", now_ms);
}

void Annunciator::SetRecordingFailed(bool on, std::int64_t now_ms) {
  SetPresent(Source::kRecording, 0, on, "Recording failed", now_ms);
}

void Annunciator::SetSounderUnavailable(bool on, std::int64_t now_ms, std::string_view reason) {
  std::string text = "Sounder unavailable";
  if (!reason.empty()) text.append(" (").append(reason).append(")");
  SetPresent(Source::kSounder, 0, on, std::move(text), now_ms);
}

bool Annunciator::Silence(std::string_view who, std::string_view where, std::int64_t now_ms) {
  return SilenceWhere(true, true, who, where, now_ms);
}

bool Annunciator::SilenceAlarm(std::string_view who, std::string_view where, std::int64_t now_ms) {
  return SilenceWhere(true, false, who, where, now_ms);
}

bool Annunciator::SilenceFault(std::string_view who, std::string_view where, std::int64_t now_ms) {
  return SilenceWhere(false, true, who, where, now_ms);
}

void Annunciator::LampTest(std::int64_t now_ms) {
  if (lamp_test_active_) return;
  lamp_test_active_ = true;
  lamp_test_sounds_ = true;
  lamp_test_start_ = now_ms;
  held_lamps_ = lamps_;
  Emit(Change::Kind::kLampTestStarted, {});
}

void Annunciator::Remind(std::string_view what, std::int64_t now_ms) {
  reminder_start_ = now_ms;
  reminder_ = std::string(what);
  Emit(Change::Kind::kReminder, reminder_);
}

void Annunciator::Tick(std::int64_t now_ms) {
  if (settings_.reminder_hours > 0) {
    const std::int64_t after = settings_.reminder_hours * kMsPerHour;
    std::vector<std::string> reminded;
    // A silenced condition is a present one: the others were forgotten when silenced or ended.
    for (Condition& c : conditions_) {
      if (!c.silenced || now_ms - c.silenced_at < after) continue;
      c.silenced = false;
      c.sounding_since = now_ms;
      c.order = ++next_order_;
      reminded.push_back(c.text);
    }
    // Said only after the loop: a listener may come back with a new condition.
    for (std::string& text : reminded)
      Emit(Change::Kind::kSounds, std::move(text));
  }
  if (reminder_start_ >= 0 && now_ms - reminder_start_ >= kReminderMs) {
    reminder_start_ = -1;
    Emit(Change::Kind::kReminderEnded, std::exchange(reminder_, {}));
  }
  if (lamp_test_active_ && now_ms - lamp_test_start_ >= kLampTestMs) {
    lamp_test_active_ = false;
    lamp_test_sounds_ = false;
    Emit(Change::Kind::kLampTestEnded, {});
    ApplyLamps(held_lamps_, now_ms);
  }
}

Annunciator::Condition* Annunciator::Find(Source source, int index) {
  for (Condition& c : conditions_) {
    if (c.source == source && c.index == index) return &c;
  }
  return nullptr;
}

void Annunciator::Raise(Source source, int index, bool alarm, bool present, std::string text,
                        std::int64_t now_ms) {
  if (Condition* known = Find(source, index)) {
    // Still unsilenced from before (a silenced one is present, and a present one is raised only
    // when it comes): the same condition, with nothing new to hear.
    known->present = known->present || present;
    known->text = std::move(text);
    state_ = Compute();
    return;
  }
  conditions_.push_back(
      Condition{source, index, alarm, present, false, now_ms, 0, ++next_order_, text});
  Emit(Change::Kind::kSounds, std::move(text));
}

void Annunciator::SetPresent(Source source, int index, bool on, std::string text,
                             std::int64_t now_ms) {
  if (Shelved(source, index)) return;
  Condition* c = Find(source, index);
  if (on == (c != nullptr && c->present)) return;
  if (on) {
    Raise(source, index, false, true, std::move(text), now_ms);
    return;
  }
  // Ended: forgotten once silenced; until then it goes on sounding, as nothing silences itself.
  c->present = false;
  if (c->silenced) std::erase_if(conditions_, [c](const Condition& x) { return &x == c; });
}

bool Annunciator::Shelved(Source source, int index) const {
  if (source == Source::kLamp) return shelved_lamps_[static_cast<std::size_t>(index)];
  return source == Source::kNoReply && shelved_no_reply_;
}

void Annunciator::SetShelved(const FaultLamps& lamps, bool no_reply, std::int64_t now_ms) {
  std::string quieted;
  const auto quiet = [&](Source source, int index) {
    const auto it = std::find_if(conditions_.begin(), conditions_.end(), [&](const Condition& c) {
      return c.source == source && c.index == index;
    });
    if (it == conditions_.end()) return;
    if (!it->silenced) quieted += (quieted.empty() ? "" : ", ") + it->text;
    conditions_.erase(it);
  };
  for (int i = 0; i < kSystemLamps; ++i)
    if (lamps[static_cast<std::size_t>(i)]) quiet(Source::kLamp, i);
  if (no_reply) quiet(Source::kNoReply, 0);
  const FaultLamps back = shelved_lamps_ & ~lamps;
  const bool link_back = shelved_no_reply_ && !no_reply;
  shelved_lamps_ = lamps;
  shelved_no_reply_ = no_reply;
  for (int i = 0; i < kSystemLamps; ++i) {
    const auto bit = static_cast<std::size_t>(i);
    if (back[bit] && lamps_[bit]) SetPresent(Source::kLamp, i, true, LampText(i), now_ms);
  }
  if (link_back && no_reply_) SetNoReply(true, now_ms);
  if (!quieted.empty()) Emit(Change::Kind::kShelved, quieted);
}

void Annunciator::ApplyLamps(const FaultLamps& lamps, std::int64_t now_ms) {
  const FaultLamps before = lamps_;
  lamps_ = lamps;
  for (int i = 0; i < kSystemLamps; ++i) {
    const auto bit = static_cast<std::size_t>(i);
    if (lamps[bit] == before[bit]) continue;
    SetPresent(Source::kLamp, i, lamps[bit], LampText(i), now_ms);
  }
}

bool Annunciator::SilenceWhere(bool alarms, bool faults, std::string_view who,
                               std::string_view where, std::int64_t now_ms) {
  bool silenced = false;
  if (faults && lamp_test_sounds_) {
    lamp_test_sounds_ = false;
    silenced = true;
  }
  if (faults && reminder_start_ >= 0) {
    reminder_start_ = -1;
    silenced = true;
  }
  for (Condition& c : conditions_) {
    if (c.silenced || !(c.alarm ? alarms : faults)) continue;
    c.silenced = true;
    c.silenced_at = now_ms;
    silenced = true;
  }
  std::erase_if(conditions_, [](const Condition& c) { return c.silenced && !c.present; });
  if (silenced) Emit(Change::Kind::kSilenced, std::string(who) + " from " + std::string(where));
  return silenced;
}

void Annunciator::Emit(Change::Kind kind, std::string text) {
  state_ = Compute();
  changed_(Change{kind, std::move(text), state_});
}

Annunciation Annunciator::Compute() const {
  const Condition* newest = nullptr;
  for (const Condition& c : conditions_) {
    if (c.silenced) continue;
    if (newest == nullptr || c.alarm > newest->alarm ||
        (c.alarm == newest->alarm && c.order > newest->order)) {
      newest = &c;
    }
  }
  Annunciation a;
  if (newest != nullptr) {
    a = {newest->alarm ? Tone::kAlarm : Tone::kFault, newest->text, newest->sounding_since};
  } else if (lamp_test_sounds_) {
    a = {Tone::kFault, "Lamp test", lamp_test_start_};
  } else if (reminder_start_ >= 0) {
    a = {Tone::kFault, reminder_, reminder_start_};
  }
  if (!settings_.sound) a.tone = Tone::kNone;
  return a;
}

int Annunciator::silenced_standing() const {
  int standing = 0;
  for (const Condition& c : conditions_)
    standing += c.present && c.silenced ? 1 : 0;
  return standing;
}

std::string RecordText(const Annunciator::Change& change) {
  using Kind = Annunciator::Change::Kind;
  switch (change.kind) {
    case Kind::kSounds:
      return "sounds: " + change.text;
    case Kind::kSilenced:
      return "silenced by " + change.text;
    case Kind::kLampTestStarted:
      return "lamp test";
    case Kind::kLampTestEnded:
      return "lamp test ended";
    case Kind::kShelved:
      return "shelved: " + change.text;
    case Kind::kReminder:
      return "reminds: " + change.text;
    case Kind::kReminderEnded:
      return "reminder ended";
    case Kind::kSoundSetting:
      break;
  }
  return "sound " + change.text;
}

}  // namespace orv
