#include "panel/main_form.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "events/event_detail.h"
#include "link/frame.h"
#include "linkwatch/line_status_text.h"

namespace orv {

std::string FrameHex(const ReceivedFrame& frame) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const std::size_t length = std::min<std::size_t>(frame.length, frame.payload.size());
  const Bytes bytes = EncodeFrame(frame.command, frame.payload.first(length));
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const std::uint8_t b : bytes) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 0x0F];
  }
  return hex;
}

MainForm::MainForm(MainFormEnvironment env)
    : env_(std::move(env)),
      link_(env_.port, env_.clock, env_.tick_clock),
      config_(env_.program_folder, env_.site_settings_file),
      event_log_(env_.program_folder),
      commands_(link_, SupervisionCheck, Timer_CB),
      trigger_bank_(
          TriggerBankModel{
              link_.trigger_states(),
              [this](int page) -> std::vector<std::string>& { return config_.Names(page); },
              // The next poll slot asks for the new page's states.
              [this](int page) {
                link_.scheduler().set_poll_step(static_cast<std::int16_t>(page + 2));
              },
              [this](int page, int number) { config_.SaveName(page, number); }},
          TriggerBankControls{VirtualDevice_ComboBox, Trigger_PictureBox, Trigger_VScrollBar,
                              Trigger_CheckBox, TriggerLabel, TriggerNameText, focus}),
      decoder_(link_.trigger_states(), env_.clock),
      events_log_view_(EventsLogTextBox, NoDisplayCheck),
      event_recorder_(event_log_, env_.notice),
      recorder_(env_.program_folder, env_.keep_journal, env_.notice, env_.journal_options),
      line_watcher_(
          link_, [this] { return LinePortText(); }, env_.notice),
      annunciation_(Shape1, {[this](JournalKind kind, std::string text, const Actor& by) {
                               Record(kind, std::move(text), by);
                             },
                             env_.notice, [this] { return recorder_.Now(); }, env_.tick_clock,
                             recorder_.login()}) {
  WireEvents();
  WireSubsystems();
  WireAnnunciation();
  WireConditions();
  WireAccess();
}

void MainForm::Notify(NoticeLevel level, const std::string& text) const {
  if (env_.notice) env_.notice(Notice{level, text});
}

void MainForm::TRTimer_Timer() {
  // Operators idle too long go back to level 1.
  if (env_.gate != nullptr) {
    env_.gate->Tick(AccessNow());
    RecordAccess(refusals_.Tick(AccessNow()));
  }
  link_.Tick();
  line_watcher_.Tick();
  trigger_bank_.RedrawIfRequested();
  event_recorder_.Tick();
  TickAnnunciation();
  // Everything this tick queued, in one transaction.
  recorder_.Commit();
  PublishState();
}

std::string MainForm::PortDescription() const {
  const std::string device = env_.port.device();
  return "COM" + std::to_string(config_.SerialComPort) +
         (device.empty() ? "" : " (" + device + ")") + " " + LineSettingsText();
}

std::string MainForm::LinePortText() const {
  const std::string device = env_.port.device();
  return "COM" + std::to_string(config_.SerialComPort) + (device.empty() ? "" : " " + device) +
         " " + LineSettingsText();
}

std::string MainForm::LineSettingsText() const {
  return config_.SerialBaudRate + "," + config_.SerialCheckBit.substr(0, 1) + "," +
         config_.SerialBitLength + "," + config_.SerialStopBit;
}

std::string MainForm::TriggerName(int page, int number) {
  const std::vector<std::string>& names = config_.Names(page);
  return number >= 1 && static_cast<std::size_t>(number) <= names.size()
             ? names[static_cast<std::size_t>(number - 1)]
             : std::string();
}

void MainForm::WireEvents() {
  // Every operator action asks the gate first (main_form_access.cpp); a refused one changes
  // nothing and puts its control back.
  ConnectCB.Click = [this] {
    Guarded(Action::kConnection, [this](const Actor& by) { ConnectCB_Click(by); });
  };
  ComPort_CB.Click = [this] {
    Guarded(
        Action::kPortAndBaudRate, [this](const Actor&) { ComPort_CB_Click(); },
        [this] { ComPort_CB.SetListIndex(config_.SerialComPort - 1); });
  };
  for (const auto& [button, action] : OperatorKeys()) {
    button->Click = [this, key_code = KeyCodeOf(action)] {
      Guarded(KeyAction(key_code),
              [this, key_code](const Actor& by) { commands_.SendPanelKey(key_code, by); });
    };
  }
  IMPC_CB.Click = [this] {
    Guarded(Action::kImpedanceCheck, [this](const Actor& by) { commands_.SendImpedanceCheck(by); });
  };
  Clear_CommandButton.Click = [this] { commands_.Clear_CommandButton_Click(); };
  Transmission_CommandButton.Click = [this] { trigger_bank_.Transmission_CommandButton_Click(); };
  SupervisionCheck.Click = [this] {
    Guarded(
        Action::kSupervisionOnOff,
        [this](const Actor& by) { commands_.SupervisionCheck_Click(by); },
        [this] { SupervisionCheck.SetValue(commands_.supervision_enabled() ? 1 : 0); });
  };
  Timer_CB.Change = [this] {
    Guarded(
        Action::kSupervisionTime, [this](const Actor&) { supervision_time_ = Timer_CB.text(); },
        [this] { Timer_CB.SetText(supervision_time_); });
  };
  BaudRate_CB.Click = [this] {
    Guarded(
        Action::kPortAndBaudRate, [this](const Actor&) { BaudRate_CB_Click(); },
        [this] {
          const auto& rates = BaudRate_CB.items();
          const auto found = std::find(rates.begin(), rates.end(), config_.SerialBaudRate);
          if (found != rates.end())
            BaudRate_CB.SetListIndex(static_cast<int>(found - rates.begin()));
        });
  };
  NoDisplayCheck.Click = [this] {
    Guarded(
        Action::kWithoutDisplay, [](const Actor&) {},
        [this] { NoDisplayCheck.SetValue(NoDisplayCheck.value() != 0 ? 0 : 1); });
  };

  VirtualDevice_ComboBox.Click = [this] { trigger_bank_.VirtualDevice_ComboBox_Click(); };
  Trigger_VScrollBar.Change = [this] { trigger_bank_.Trigger_VScrollBar_Change(); };
  Trigger_VScrollBar.Scroll = [this] { trigger_bank_.Trigger_VScrollBar_Scroll(); };
  Trigger_VScrollBar.GotFocus = [this] { trigger_bank_.Trigger_VScrollBar_GotFocus(); };
  Trigger_CheckBox.Bind(&Control::Click, [this](int r) {
    // The bank's own redraws are not clicks.
    if (!trigger_bank_.ui_enabled()) return;
    Guarded(
        Action::kTriggerSwitching,
        [this, r](const Actor& by) {
          const std::optional<TriggerSwitch> to = trigger_bank_.Trigger_CheckBox_Click(r);
          if (!to) return;
          // What the command sets off are not the operator's clicks.
          trigger_bank_.set_ui_enabled(false);
          commands_.SendTriggerCommand(to->page, to->number, to->state, by);
          trigger_bank_.set_ui_enabled(true);
        },
        [this, r] {
          trigger_bank_.set_ui_enabled(false);
          Trigger_CheckBox[r].SetValue(Trigger_CheckBox[r].value() != 0 ? 0 : 1);
          trigger_bank_.set_ui_enabled(true);
        });
  });
  TriggerLabel.Bind(&Control::DblClick, [this](int r) {
    Guarded(Action::kTriggerRenaming,
            [this, r](const Actor&) { trigger_bank_.TriggerLabel_DblClick(r); });
  });
  TriggerNameText.Bind(&Control::Change,
                       [this](int r) { trigger_bank_.TriggerNameText_Change(r); });
  // A typed name is checked again as it is taken: the log-in that opened the editor may have
  // ended since.
  const auto take_name = [this](int r) {
    if (!trigger_bank_.NameEdited(r)) {
      trigger_bank_.TriggerNameText_LostFocus(r);
      return;
    }
    Guarded(
        Action::kTriggerRenaming,
        [this, r](const Actor& by) {
          if (auto rename = trigger_bank_.TriggerNameText_Validate(r)) RecordRename(*rename, by);
        },
        [this, r] { trigger_bank_.DiscardName(r); });
  };
  TriggerNameText.Bind(&Control::Validate, take_name);
  TriggerNameText.Bind(&Control::LostFocus, take_name);

  DisplayType_OptionButton.Bind(&Control::Click,
                                [this](int i) { display_.DisplayType_OptionButton_Click(i); });
}

void MainForm::WireSubsystems() {
  config_.set_notice(env_.notice);
  link_.SetShownPageSource([this] { return trigger_bank_.page(); });
  auto keep = [this](Connection connection) { connections_.push_back(std::move(connection)); };
  keep(link_.fault_lamps_changed().Connect([this](FaultLamps lamps) { ShowFaultLamps(lamps); }));
  keep(link_.trigger_states_updated().Connect(
      [this](int page) { trigger_bank_.OnTriggerStatesUpdated(page); }));
  keep(link_.dispatcher().event_report().Connect(
      [this](std::uint8_t kind, std::int32_t value) { decoder_.DecodeEventReport(kind, value); }));
  // A report's trigger states show first, then its line, then it goes to the file.
  keep(decoder_.decoded().Connect([this](const EventRecord& record) {
    trigger_bank_.OnTriggersReported(record.trigger_updates);
  }));
  keep(decoder_.decoded().Connect([this](const EventRecord& record) {
    events_log_view_.Show(record);
    events_text_ = EventsLogView::Prepend(events_text_, record.text);
  }));
  keep(decoder_.decoded().Connect(
      [this](const EventRecord& record) { event_recorder_.Record(record); }));
  // The journal keeps the line as it is and, beside it, the event in words with the trigger
  // names as they are now.
  keep(decoder_.decoded().Connect([this](const EventRecord& record) {
    const ReceivedFrame* frame = link_.dispatcher().current_frame();
    Record(JournalKind::kEvent, record.text, frame != nullptr ? FrameHex(*frame) : "",
           EventDetail(record, [this](int page, int number) { return TriggerName(page, number); }));
  }));
  keep(commands_.sent().Connect([this](const std::string& what, const Actor& by) {
    Record(JournalKind::kOperator, what, by);
  }));
  keep(link_.receiver().chunk_received().Connect(
      [this](const Bytes& chunk) { display_.AppendReceivedBytes(Receiver_Text, chunk); }));
  keep(line_watcher_.link_alert().Connect([this](const Notice& alert) {
    Record(JournalKind::kLink, alert.text);
    recorder_.RequestAnchor();
  }));
  keep(env_.port.failed().Connect([this](const PortError& error) {
    const std::string what = std::string(PortErrorKindText(error.kind)) + " (" + error.text + ")";
    Notify(NoticeLevel::kError, "COM" + std::to_string(config_.SerialComPort) + ": " + what);
    Record(JournalKind::kLink, "Port failure: " + PortDescription() + ": " + what);
  }));
  keep(env_.port.said().Connect([this](const std::string& text) {
    Notify(NoticeLevel::kWarning, "COM" + std::to_string(config_.SerialComPort) + ": " + text);
    Record(JournalKind::kLink, "Port: " + PortDescription() + ": " + text);
  }));
}

void MainForm::Form_Load() {
  MainFormWindow.SetOuterHeight(kOuterHeightAtLoad);
  FillLists();
  for (int page = 0; page < kPageCount; ++page)
    link_.trigger_states().States(page).Clear();

  trigger_bank_.set_ui_enabled(false);
  VirtualDevice_ComboBox.SetListIndex(0);
  trigger_bank_.set_ui_enabled(true);
  link_.SetPortConnected(false);
  UpdateConnectionControls();

  // The six groups in their order, from one reading of the file.
  config_.LoadConfigGroups(
      {"MainForm", "RS232Config", "ETrgName", "BTrgName", "VTrgName", "BGMName"});
  ComPort_CB.SetListIndex(config_.SerialComPort - 1);
  for (int i = 0; i < static_cast<int>(BaudRate_CB.items().size()); ++i) {
    if (BaudRate_CB.items()[static_cast<std::size_t>(i)] == config_.SerialBaudRate) {
      BaudRate_CB.SetListIndex(i);
    }
  }
  RS232BitType_LB.SetCaption(config_.SerialCheckBit + " Parity , " + config_.SerialBitLength +
                             " Bits , " + config_.SerialStopBit + " Stop");

  EventsLogTextBox.SetText("");
  Receiver_Text.SetText("");
  DisplayType_OptionButton[0].SetValue(true);
  display_.set_display_mode(ReceivedDataDisplay::kChar);
  Trigger_VScrollBar.SetMax(60 - Trigger_VScrollBar.large_change());
  for (int i = 0; i < 12; ++i) {
    TriggerNameText[i].SetVisible(false);
    TriggerNameText[i].SetLeft(360);
  }
  trigger_bank_.RefreshTriggerBank();

  if (!event_log_.CheckDataFolderWritable() && env_.message_box) {
    env_.message_box("System can not write any file.", kProgramTitle, MessageIcon::kNone);
  }
  // The list selections above stored the values they showed; only a correction made while
  // loading counts as a change to save.
  SerialSettingsChanged = config_.settings_corrected();
  UpdateConnectionControls();
  Transmission_CommandButton.SetEnabled(true);
  line_watcher_.Refresh();
  link_.watch().set_no_reply_seconds(config_.NoReplySeconds());
  LoadAnnunciationSettings();
  LoadJournalRetention();
  supervision_time_ = Timer_CB.text();
  loaded_ = true;
  PublishState();
  // Committed by the first tick: the window shows without waiting for the disk.
  Record(JournalKind::kProgram,
         std::string("Program started: ") + kWindowCaption + ", user " + recorder_.login());
}

void MainForm::Form_Unload() {
  if (SerialSettingsChanged) {
    config_.SaveConfigGroup("RS232Config");
    SerialSettingsChanged = false;
  }
  // Refusals still being counted are said before the stop.
  RecordAccess(refusals_.Flush(AccessNow()));
  Record(JournalKind::kProgram,
         std::string("Program stopped: ") + kWindowCaption + ", user " + recorder_.login());
  recorder_.Commit();
  PublishState();
}

}  // namespace orv
