// The annunciator in the program that holds the line: fed from the panel's inputs, recorded in
// the journal, shown on the panel's lamps during the lamp test and played on a sound output.
// Whatever window shows it (this program's own, or one attached to it) only reads its state and
// asks for a silence or a lamp test.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "access/operator_actions.h"
#include "annunciator/annunciation_settings.h"
#include "annunciator/annunciator.h"
#include "annunciator/sound_output.h"
#include "journal/journal.h"
#include "link/fault_lamps.h"
#include "link/link_watch.h"
#include "platform/controls.h"
#include "platform/notice.h"
#include "platform/signal.h"

namespace orv {

// Where a silence came from, as the journal names it.
inline constexpr std::string_view kSilenceFromWindow = "window";
inline constexpr std::string_view kSilenceFromEsc = "Esc";
inline constexpr std::string_view kSilenceFromEmgAck = ActionName(Action::kEmgAck);
inline constexpr std::string_view kSilenceFromFaultAck = ActionName(Action::kFaultAck);

// What sounds now, for whoever shows or publishes it: the state and the wall-clock time its
// condition began to sound (or the sound stopped).
struct AnnunciationView {
  Annunciation state;
  JournalTime since;
};

class PanelAnnunciation {
 public:
  struct Environment {
    std::function<void(JournalKind kind, std::string text, const Actor& by)> record;
    NoticeFn notice;
    JournalClockFn wall_clock;
    TickClockFn tick_clock;  // empty: every tick is 100 ms
    std::string login;       // who silences from this program's own window
  };

  // lamps: the panel's 24 lamps, the twelve system fault lamps first.
  PanelAnnunciation(ControlArray<Shape>& lamps, Environment env);
  PanelAnnunciation(const PanelAnnunciation&) = delete;
  PanelAnnunciation& operator=(const PanelAnnunciation&) = delete;

  void set_settings(const AnnunciationSettings& settings);
  const AnnunciationSettings& settings() const { return settings_; }
  // Where the tone is played; null: nowhere (the conditions are still tracked and recorded).
  // The output must outlive this object or be replaced first.
  void set_output(SoundOutput* output);

  // ---- The panel's inputs. ----
  void OnReport(std::uint8_t code) { annunciator_.Report(code, Now()); }
  void OnLamps(const FaultLamps& lamps) { annunciator_.SetLamps(lamps, Now()); }
  void OnPortLost() { annunciator_.PortLost(Now()); }
  // Once per tick, before the journal's commit: the conditions that are states, reminders, the
  // end of the lamp test, and the output.
  void Tick(bool no_reply, bool recording_failed);
  // The panel shows a system lamp through here: during a lamp test lit here it is held and shown
  // when the test ends.
  void ShowLamp(int index, bool lit);

  // ---- What a window asks for, and who: its record carries them. The silence names the
  // origin's login (a local socket's user, a web peer), the window's the program's own. ----
  bool Silence(std::string_view where, const Actor& by = {});
  bool SilenceAlarm(std::string_view where, const Actor& by = {});
  bool SilenceFault(std::string_view where, const Actor& by = {});
  // The annunciator's lamp test (its tone, its records, the state's flag); light_here: this
  // window asked, so its own lamps light. Another window's test lights only that window's.
  void LampTest(const Actor& by = {}, bool light_here = true);
  bool lamp_test_active() const { return annunciator_.lamp_test_active(); }
  int silenced_standing() const { return annunciator_.silenced_standing(); }
  // A tone is called for and the output cannot play it (said once as a notice).
  bool sounder_unavailable() const { return unavailable_said_; }

  AnnunciationView view() const { return {annunciator_.state(), since_}; }
  // Said at every change of what sounds, of its condition, and at the lamp test's start and end.
  Signal<const AnnunciationView&>& changed() { return changed_; }
  Annunciator& annunciator() { return annunciator_; }
  // The annunciator's clock: the tick clock's, in ms.
  std::int64_t Now() const;

 private:
  static constexpr int kLamps = 24;
  void OnChange(const Annunciator::Change& change);
  std::string Who(const Actor& by) const;
  // The record of what the operator asked for, said by the change it made, with who asked.
  bool RecordOperatorChange(bool changed, const Actor& by);

  ControlArray<Shape>& lamps_;
  Environment env_;
  AnnunciationSettings settings_;
  Annunciator annunciator_;
  SoundOutput* output_ = nullptr;
  std::optional<SoundDriver> driver_;
  bool unavailable_said_ = false;
  std::int64_t ticks_ = 0;
  std::array<int, kLamps> held_styles_{};  // the lamps as they are to be after the lamp test
  bool lit_here_ = false;                  // the lamp test runs on this window's lamps
  bool light_next_ = false;                // the lamp test being started was asked for here
  JournalTime since_;
  Annunciation timed_;  // what since_ is the time of
  // The operator's change the annunciator just said, for the record of who asked for it.
  std::optional<std::string> operator_change_;
  Connection connection_;
  Signal<const AnnunciationView&> changed_;
};

}  // namespace orv
