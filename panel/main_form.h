#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "access/access_gate.h"
#include "access/refusal_summary.h"
#include "conditions/condition_book.h"
#include "config/configuration.h"
#include "events/event_decoder.h"
#include "events/event_log_file.h"
#include "journal/journal_recorder.h"
#include "link/fault_lamps.h"
#include "link/link.h"
#include "linkwatch/line_watcher.h"
#include "panel/annunciation.h"
#include "panel/operator_commands.h"
#include "panel/received_display.h"
#include "panelstate/panel_core.h"
#include "panelstate/panel_state_store.h"
#include "platform/clock.h"
#include "platform/controls.h"
#include "platform/message_box.h"
#include "platform/notice.h"
#include "platform/serial_port.h"
#include "platform/signal.h"
#include "window/events_log_view.h"
#include "window/panel_window.h"
#include "window/trigger_bank.h"

namespace orv {

// A good frame's bytes in upper-case hex, as it came on the line: "0203A012000047 03" without the
// space.
std::string FrameHex(const ReceivedFrame& frame);

// What the window needs from the outside world; tests hand in fakes.
struct MainFormEnvironment {
  SerialPort& port;
  std::filesystem::path program_folder;
  MessageBoxFn message_box;
  ClockFn clock;
  // Every failure the operator would otherwise not learn of: files that cannot be written, why a
  // port failed.
  NoticeFn notice;
  // DATA/Journal.sqlite beside EventLog.txt; off only to compare a run without it.
  bool keep_journal = true;
  // Empty login and host are filled with the program's user and this machine's name.
  JournalOptions journal_options{};
  // Where the site-wide settings are kept (the link watch's time is one).
  SiteFiles site_settings_file{};
  // The tick's clock for the link watch (SteadyMilliseconds); empty: every tick is 100 ms.
  TickClockFn tick_clock{};
  // The program's one access gate; none: access levels off, every action allowed as ever.
  AccessGate* gate = nullptr;
  // The gate's clock (idle timeout, PIN back-off); empty: the steady clock.
  std::function<AccessClock::time_point()> access_clock{};
};

// The main window of the program that holds the line: its controls (PanelWindow), the start-up
// and shutdown steps, the timer tick, and the connection handling. The subsystems get references
// to the controls they drive.
class MainForm final : public PanelWindow, public PanelCore {
 public:
  explicit MainForm(MainFormEnvironment env);
  MainForm(const MainForm&) = delete;
  MainForm& operator=(const MainForm&) = delete;

  void Form_Load();
  void Form_Unload();
  // The 100 ms tick of TRTimer: assemble and dispatch, one poll step, then the trigger bank
  // redraw a status reply asked for.
  void TRTimer_Timer();

  // Connection management.
  // Connection or Disconnection, as by asked: the records carry who.
  void ConnectCB_Click(const Actor& by = {});
  // The site settings that change without a restart, read again: the link watch's limit, the
  // sounder's settings and the journal's bounds. The line stays as it is.
  void ReloadSiteSettings();
  // After a reload the service refused: a connect keeps what runs (the link watch's limit, the
  // sounder's settings) rather than reading the wrong file, until a reload is taken.
  void KeepSiteSettings() { site_settings_kept_ = true; }
  bool OpenSerialPort();
  void CloseSerialPort();
  void ComPort_CB_Click();
  void BaudRate_CB_Click();
  void UpdateConnectionControls();
  // Another port for this run only (the headless mode's --port): a correction made at start-up
  // is saved first, so the port given here is never written to the configuration.
  void UsePortForThisRun(int port_number) override;

  Link& link() { return link_; }
  Configuration& config() { return config_; }
  EventLogFile& event_log() { return event_log_; }
  OperatorCommands& commands() { return commands_; }
  TriggerBank& trigger_bank() { return trigger_bank_; }
  EventDecoder& decoder() { return decoder_; }
  EventLogRecorder& event_recorder() { return event_recorder_; }
  bool serial_settings_changed() const { return SerialSettingsChanged; }
  // Null when the program runs without a journal.
  Journal* journal() override { return recorder_.journal(); }
  JournalRecorder& recorder() { return recorder_; }
  // Queues one journal record; the tick commits what it queued.
  void Record(JournalKind kind, std::string text, std::string raw_hex = {},
              std::string detail = {}) {
    recorder_.Record(kind, std::move(text), std::move(raw_hex), std::move(detail));
  }
  // A record of an action, carrying who did it: the origin's login (empty for the window's: the
  // program's) and, as its detail, the operator and level.
  void Record(JournalKind kind, std::string text, const Actor& by);
  void RecordRename(const TriggerRename& rename, const Actor& by);
  // Every record as it is made, with or without a journal (the headless mode prints them).
  Signal<const JournalEntry&>& recorded() override { return recorder_.recorded(); }
  // Now, by the journal's clock.
  JournalTime Now() const override { return recorder_.Now(); }

  // The serial line beside the notices: port, link state and counters; said when it changes, at
  // most once a tick, and recomposed every second.
  const LineStatus& line_status() const { return line_watcher_.status(); }
  Signal<const LineStatus&>& line_status_changed() { return line_watcher_.status_changed(); }
  // The controller stopped answering, or answers again: for a desktop notification.
  Signal<const Notice&>& link_alert() { return line_watcher_.link_alert(); }
  // The title the window shows: the caption, and while the link is lost, what says so.
  std::string WindowTitle() const { return MainFormWindow.caption() + line_status().title_suffix; }
  // The annunciator: what sounds, silencing and the lamp test (main_form_annunciation.cpp).
  PanelAnnunciation& annunciation() { return annunciation_; }
  // The panel's state as values, published at the end of every tick and of the start: what every
  // other view and report reads (main_form_state.cpp).
  PanelStateStore& state_store() override { return state_store_; }

  // ---- The panel as the service drives it (PanelCore), by the window's own steps. ----
  void Load() override { Form_Load(); }
  void Unload() override { Form_Unload(); }
  void Tick() override { TRTimer_Timer(); }
  bool line_connected() const override { return link_.port_connected(); }
  void ToggleConnection(const Actor& by) override { ConnectCB_Click(by); }
  void CloseLine() override {
    CloseSerialPort();
    UpdateConnectionControls();
  }
  std::string sound_device() const override { return annunciation_.settings().device; }
  void set_sound_output(SoundOutput* output) override { annunciation_.set_output(output); }
  std::unique_ptr<ActionPerformer> MakeActions(ServiceLine line) override;
  // "9600,N,8,1": the line settings a connect opens the port with.
  std::string LineSettingsText() const;

  // ---- Access levels (main_form_access.cpp). ----
  // Null with levels off.
  AccessGate* gate() override { return env_.gate; }
  // This window's own place at the gate.
  static inline const Origin kWindowOrigin{OriginKind::kWindow, {}};
  AccessClock::time_point AccessNow() const override;
  // Does act as this window's operator when the gate allows action, act handing who on to the
  // records it makes. Else revert puts the control back as it was, a notice says why and
  // login_wanted asks for a log in; keys faster than a hand's are said once a burst and ask for
  // none. Control changes made while loading pass as the window's; changes made while reverting
  // or by Quietly are nobody's and do nothing.
  bool Guarded(Action action, const std::function<void(const Actor&)>& act,
               const std::function<void()>& revert = {});
  // Changes controls as an action performed for another origin does, their handlers not acting:
  // the performer does the action itself, as whoever the gate said.
  void Quietly(const std::function<void()>& change);
  // The supervision box and its time as by set them: the time as typed while the box is off;
  // sent on the line at once while connected, else at the next connect.
  void SetSupervision(bool on, const std::string& time, const Actor& by);
  // Input at the window: keeps its log-in alive.
  void Touch();
  // The action refused for its level.
  Signal<Action>& login_wanted() { return login_wanted_; }
  ConditionBook& conditions() { return conditions_; }
  // An operator's acknowledgement and shelf, recorded with the actor; "done" or why not.
  std::string AcknowledgeCondition(const std::string& id, const std::string& comment,
                                   const Actor& by);
  std::string ShelveCondition(const std::string& id, const std::string& reason,
                              std::int64_t until_ms, const Actor& by);
  // The same from this window's own list, as its operator, a refusal said in the status bar.
  void AcknowledgeFromWindow(const std::string& id, const std::string& comment);
  void ShelveFromWindow(const std::string& id, const std::string& reason, int minutes);

 private:
  void WireEvents();
  void WireSubsystems();
  void WireAnnunciation();
  void LoadAnnunciationSettings();
  void LoadJournalRetention();
  void TickAnnunciation();
  void WireAccess();
  // main_form_conditions.cpp: the alarms from the reports; each tick the rest from the state.
  void WireConditions();
  void TickConditions(PanelState& state);
  // The name a condition keeps of who acted: the operator, else the origin's user.
  std::string ConditionActor(const Actor& by) const;
  void RecordConditionNews(const std::vector<ConditionNews>& news, const Actor& by);
  // Records what the refusals' summary leaves to record, each with its origin's login.
  void RecordAccess(const std::vector<RefusalRecord>& records);
  // "COM1 (/dev/ttyUSB0) 9600,N,8,1": the port for the record.
  std::string PortDescription() const;
  void ShowFaultLamps(FaultLamps lamps);
  // The state now, from the panel's values (never from a control), and its publication.
  PanelState StateNow() const;
  void PublishState();
  void DarkenFaultLamps();
  void Notify(NoticeLevel level, const std::string& text) const;
  // "COM1 /dev/ttyUSB0 9600,N,8,1": the port for the status bar.
  std::string LinePortText() const;
  // The name of trigger number of page as the configuration holds it now; empty outside it.
  std::string TriggerName(int page, int number);

  MainFormEnvironment env_;

  Link link_;
  Configuration config_;
  EventLogFile event_log_;
  OperatorCommands commands_;
  TriggerBank trigger_bank_;
  ReceivedDataDisplay display_;
  EventDecoder decoder_;
  EventsLogView events_log_view_;
  EventLogRecorder event_recorder_;
  JournalRecorder recorder_;
  LineWatcher line_watcher_;
  PanelAnnunciation annunciation_;
  ConditionBook conditions_;
  PanelStateStore state_store_;
  // The controller's lamps as last shown, dark while disconnected, whatever a lamp test lights.
  FaultLamps controller_lamps_;
  // The events' lines as the box would hold them, whatever the window's Clear and Without Display.
  std::string events_text_;
  // Before the connections, so that it outlives them.
  RefusalSummary refusals_;
  Connections connections_;
  Signal<Action> login_wanted_;
  bool loaded_ = false;
  bool site_settings_kept_ = false;
  // Set while a refused change is put back, or controls are changed quietly.
  bool reverting_ = false;
  // While an allowed control's act runs, who it is for: a control it changes in turn (a name
  // editor losing the focus to another) is part of the same action, not asked again.
  std::optional<Actor> in_act_;
  // The supervision time as last allowed, to put back a refused edit.
  std::string supervision_time_;

  bool SerialSettingsChanged = false;
};

}  // namespace orv
