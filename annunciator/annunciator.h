// The annunciator: which alarm and fault conditions call for sound, which tone plays, and what
// silences it. Plain state driven by the caller's tick and clock; it plays nothing itself.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "annunciator/tones.h"
#include "link/fault_lamps.h"
#include "platform/signal.h"

namespace orv {

// Every journal record of the annunciator begins so.
inline constexpr std::string_view kAnnunciationRecordPrefix = "Annunciator ";

struct AnnunciatorSettings {
  bool sound = true;        // false: conditions are still tracked and recorded, nothing plays
  int reminder_hours = 24;  // a silenced fault still present sounds again after this; 0: never
};

// What sounds now. With the sound off the tone is kNone while the condition stays named.
struct Annunciation {
  Tone tone = Tone::kNone;
  std::string condition;      // the newest condition behind the tone; empty when nothing calls
  std::int64_t since_ms = 0;  // when that condition began to sound
  bool operator==(const Annunciation&) const = default;
};

class Annunciator {
 public:
  static constexpr std::int64_t kLampTestMs = 5000;

  // Event report codes that count as alarm or fault conditions; every other code is ignored.
  static constexpr std::uint8_t kEmgReport = 0x11;
  static constexpr std::uint8_t kAlertReport = 0x14;
  static constexpr std::uint8_t kAlarmReport = 0x15;
  static constexpr std::uint8_t kEmgPttReport = 0x16;
  static constexpr std::uint8_t kFaultReport = 0x21;

  // One change of what sounds, for the journal, the status bar and the output.
  struct Change {
    enum class Kind {
      kSounds,
      kSilenced,
      kLampTestStarted,
      kLampTestEnded,
      kSoundSetting,
      kShelved,
      kReminder,
      kReminderEnded
    };
    Kind kind = Kind::kSounds;
    // kSounds: the condition; kSilenced: "<who> from <where>"; kSoundSetting: "on" or "off".
    std::string text;
    Annunciation now;  // what sounds after the change
  };

  explicit Annunciator(AnnunciatorSettings settings = {}) : settings_(settings) {}

  // Takes effect at once; a change of the sound setting is said through changed().
  void set_settings(const AnnunciatorSettings& settings);
  const AnnunciatorSettings& settings() const { return settings_; }

  // Inputs. A report and a lost port are momentary: they sound until silenced and are then
  // done. The others are present until switched off; silenced while present, they are reminded.
  void Report(std::uint8_t code, std::int64_t now_ms);
  // Each lamp going from dark to lit is a new condition; going dark ends it.
  void SetLamps(const FaultLamps& lamps, std::int64_t now_ms);
  void SetNoReply(bool on, std::int64_t now_ms);
  void PortLost(std::int64_t now_ms);
  void SetRecordingFailed(bool on, std::int64_t now_ms);
  void SetSounderUnavailable(bool on, std::int64_t now_ms, std::string_view reason = {});

  // Silencing stops the sound of what is there now and nothing else. True when something was
  // silenced (only then is it recorded). The EMG ACK key silences alarms, Fault ACK faults.
  bool Silence(std::string_view who, std::string_view where, std::int64_t now_ms);
  bool SilenceAlarm(std::string_view who, std::string_view where, std::int64_t now_ms);
  bool SilenceFault(std::string_view who, std::string_view where, std::int64_t now_ms);

  // The lamps and the link an operator set aside: while shelved they neither sound nor stay
  // remembered; one still there when its shelf ends sounds again, as new.
  void SetShelved(const FaultLamps& lamps, bool no_reply, std::int64_t now_ms);

  // One fault tone of kReminderMs for a reminder (a shelf about to end), under anything that
  // sounds already and silenced with the faults.
  void Remind(std::string_view what, std::int64_t now_ms);
  static constexpr std::int64_t kReminderMs = 1000;

  // Lights every lamp and sounds the fault tone for kLampTestMs; lamp inputs meanwhile are held
  // and applied when it ends. Ignored while a test runs.
  void LampTest(std::int64_t now_ms);
  // Reminders and the end of the lamp test; call once per tick.
  void Tick(std::int64_t now_ms);

  const Annunciation& state() const { return state_; }
  Tone tone() const { return state_.tone; }
  bool lamp_test_active() const { return lamp_test_active_; }
  // Conditions still standing whose sound was silenced.
  int silenced_standing() const;
  Signal<const Change&>& changed() { return changed_; }

 private:
  enum class Source { kReport, kLamp, kNoReply, kPortLost, kRecording, kSounder };
  struct Condition {
    Source source;
    int index;  // the report code or the lamp; 0 otherwise
    bool alarm;
    bool present;  // false for momentary ones and for those that ended
    bool silenced;
    std::int64_t sounding_since;
    std::int64_t silenced_at;
    std::uint64_t order;  // newest sounds first among those of the same tone
    std::string text;
  };

  Condition* Find(Source source, int index);
  bool Shelved(Source source, int index) const;
  void Raise(Source source, int index, bool alarm, bool present, std::string text,
             std::int64_t now_ms);
  void SetPresent(Source source, int index, bool on, std::string text, std::int64_t now_ms);
  void ApplyLamps(const FaultLamps& lamps, std::int64_t now_ms);
  bool SilenceWhere(bool alarms, bool faults, std::string_view who, std::string_view where,
                    std::int64_t now_ms);
  void Emit(Change::Kind kind, std::string text);
  Annunciation Compute() const;

  AnnunciatorSettings settings_;
  std::vector<Condition> conditions_;
  std::uint64_t next_order_ = 0;
  FaultLamps lamps_;
  FaultLamps held_lamps_;  // what came during the lamp test
  FaultLamps shelved_lamps_;
  bool no_reply_ = false;  // as last said, shelved or not
  bool shelved_no_reply_ = false;
  bool lamp_test_active_ = false;
  bool lamp_test_sounds_ = false;
  std::int64_t reminder_start_ = -1;  // -1: no reminder tone
  std::string reminder_;
  std::int64_t lamp_test_start_ = 0;
  Annunciation state_;
  Signal<const Change&> changed_;
};

// The journal's wording of a change: "sounds: ALARM report", "silenced by Ann from Esc",
// "lamp test", ...
std::string RecordText(const Annunciator::Change& change);

}  // namespace orv
