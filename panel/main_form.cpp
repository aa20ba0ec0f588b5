#include "panel/main_form.h"

#include <cstdio>
#include <string_view>

#include "linkwatch/line_status_text.h"
#include "link/frame.h"
#include "platform/users.h"

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

namespace {

constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kPink{255, 128, 128};
constexpr Rgb kYellow{255, 255, 128};
constexpr Rgb kGreen{128, 255, 128};
constexpr Rgb kCyan{128, 255, 255};

constexpr int kClientWidth = 12270;
constexpr int kClientHeight = 8970;
constexpr int kOuterHeightAtLoad = 7600;

const char* const kZoneCaptions[12] = {"Zone1 A", "Zone1 B", "Zone2 A", "Zone2 B",
                                       "Zone3 A", "Zone3 B", "Zone4 A", "Zone4 B",
                                       "Zone5 A", "Zone5 B", "Zone6 A", "Zone6 B"};

// Rows of the fault lamps and of the zone lamps.
int LampTop(int i) {
  return i < 6 ? 600 + 240 * i : 2160 + 240 * (i - 6);
}
int ZoneTop(int k) {
  return k < 6 ? 600 + 240 * k : 2280 + 240 * (k - 6);
}
int ZoneLampOfRow(int k) {
  return k < 6 ? 17 - k : 29 - k;
}
int RowTop(int r) {
  return 120 + 360 * r;
}

}  // namespace

MainForm::MainForm(MainFormEnvironment env)
    : env_(std::move(env)),
      link_(env_.port, env_.clock),
      config_(env_.program_folder, env_.site_settings_file),
      event_log_(env_.program_folder),
      commands_(link_, SupervisionCheck, Timer_CB),
      trigger_bank_(
          link_,
          TriggerBankControls{VirtualDevice_ComboBox, Trigger_PictureBox, Trigger_VScrollBar,
                              Trigger_CheckBox, TriggerLabel, TriggerNameText, focus},
          config_, commands_),
      decoder_(link_.trigger_states(), env_.clock),
      events_log_view_(EventsLogTextBox, NoDisplayCheck),
      event_recorder_(event_log_, env_.notice) {
  journal_options_ = env_.journal_options;
  if (journal_options_.login.empty()) journal_options_.login = UserName(EffectiveUserId());
  if (journal_options_.host.empty()) journal_options_.host = HostName();
  if (!journal_options_.clock) journal_options_.clock = SystemJournalTime;
  if (env_.keep_journal) {
    journal_ = std::make_unique<Journal>(
        env_.program_folder.empty() ? std::filesystem::path() : env_.program_folder / "DATA",
        env_.notice, journal_options_);
  }
  LayOutControls();
  WireEvents();
  WireSubsystems();
}

void MainForm::Notify(NoticeLevel level, const std::string& text) const {
  if (env_.notice) env_.notice(Notice{level, text});
}

void MainForm::TRTimer_Timer() {
  link_.Tick();
  if (++ticks_since_line_status_ >= LinkWatch::kTicksPerSecond) RefreshLineStatus();
  trigger_bank_.RedrawIfRequested();
  ReportReceiveOverflow();
  event_recorder_.Tick();
  // Everything this tick queued, in one transaction.
  if (journal_) journal_->Commit();
}

std::string MainForm::PortDescription() const {
  const std::string device = env_.port.device();
  return "COM" + std::to_string(config_.SerialComPort) +
         (device.empty() ? "" : " (" + device + ")") + " " + LineSettingsText();
}

void MainForm::Record(JournalKind kind, std::string text, std::string raw_hex) {
  JournalEntry entry{journal_options_.clock(), kind,
                     std::move(text),          std::move(raw_hex),
                     journal_options_.login,   journal_options_.host};
  recorded_(entry);
  if (journal_) journal_->Append(std::move(entry));
}

void MainForm::OnLinkWatchChange(const LinkWatch::Change& change) {
  const std::string text = LinkChangeText(change);
  Record(JournalKind::kLink, text);
  link_alert_(Notice{change.lost ? NoticeLevel::kError : NoticeLevel::kInfo, text});
  RefreshLineStatus();
}

void MainForm::RefreshLineStatus() {
  ticks_since_line_status_ = 0;
  const std::string device = env_.port.device();
  LineStatus status =
      ComposeLineStatus(link_.watch(), link_.counters_since_connect(),
                        "COM" + std::to_string(config_.SerialComPort) +
                            (device.empty() ? "" : " " + device) + " " + LineSettingsText());
  if (status == line_status_) return;
  line_status_ = std::move(status);
  line_status_changed_(line_status_);
}

std::string MainForm::LineSettingsText() const {
  return config_.SerialBaudRate + "," + config_.SerialCheckBit.substr(0, 1) + "," +
         config_.SerialBitLength + "," + config_.SerialStopBit;
}

void MainForm::ReportReceiveOverflow() {
  constexpr int kQuietTicks = 100;
  if (ticks_since_overflow_notice_ < kQuietTicks) ++ticks_since_overflow_notice_;
  const std::uint64_t lost = link_.receiver().overflow_bytes();
  if (lost == overflow_said_) return;
  if (overflow_said_ > 0 && ticks_since_overflow_notice_ < kQuietTicks) return;
  Notify(NoticeLevel::kError, std::to_string(lost) +
                                  " bytes from the controller were lost: they came faster than "
                                  "the program could take them.");
  overflow_said_ = lost;
  ticks_since_overflow_notice_ = 0;
}

void MainForm::Register(Control& control, Control* container) {
  control.set_container(container);
  controls_.push_back(&control);
}

Control* MainForm::FindControl(const std::string& qualified_name) const {
  for (Control* c : controls_) {
    if (c->QualifiedName() == qualified_name) return c;
  }
  return nullptr;
}

void MainForm::LayOutControls() {
  MainFormWindow.SetBounds(0, 0, kClientWidth, kClientHeight);

  // Trigger bank.
  Register(VirtualDevice_ComboBox);
  VirtualDevice_ComboBox.SetBounds(120, 120, 3255, 360);
  VirtualDevice_ComboBox.SetText("Combo1");
  Register(Trigger_PictureBox);
  Trigger_PictureBox.SetBounds(120, 600, 3255, 4575);
  Register(Trigger_VScrollBar, &Trigger_PictureBox);
  Trigger_VScrollBar.SetBounds(2820, 0, 375, 4530);
  Trigger_VScrollBar.SetLargeChange(12);
  for (int r = 0; r < 12; ++r) {
    Register(Trigger_CheckBox[r], &Trigger_PictureBox);
    Trigger_CheckBox[r].SetBounds(120, RowTop(r), 255, 255);
    Trigger_CheckBox[r].SetCaption("Real Trigger " + std::to_string(r + 1));
    Trigger_CheckBox[r].SetEnabled(false);
    Register(TriggerLabel[r], &Trigger_PictureBox);
    TriggerLabel[r].SetBounds(405, RowTop(r), 2295, 255);
    TriggerLabel[r].SetCaption("EMG Trigger " + std::to_string(r + 1));
    Register(TriggerNameText[r], &Trigger_PictureBox);
    TriggerNameText[r].SetBounds(1440, RowTop(r), 2415, 285);
    TriggerNameText[r].SetText("Text1");
  }
  Register(Transmission_CommandButton);
  Transmission_CommandButton.SetBounds(1440, 8400, 2895, 495);
  Transmission_CommandButton.SetCaption("Clear All Trigger");
  Transmission_CommandButton.SetVisible(false);

  // Fault indicators; the zone lamps and their captions are designed hidden.
  Register(Label1);
  Label1.SetBounds(3720, 120, 2055, 255);
  Label1.SetCaption("Fault Indicators");
  Register(Line1);
  Line1.SetEnds(3600, 480, 6000, 480);
  for (int i = 0; i < 12; ++i) {
    Register(Shape1[i]);
    Shape1[i].SetBounds(3720, LampTop(i), 255, 135);
    Shape1[i].SetFillColor(kRed);
    Register(Label2[i]);
    Label2[i].SetBounds(4200, LampTop(i), i % 2 == 0 ? 1695 : 1455, 255);
    Label2[i].SetCaption(kFaultLampCaptions[static_cast<std::size_t>(i)]);
  }
  for (int k = 0; k < 12; ++k) {
    Shape& zone = Shape1[ZoneLampOfRow(k)];
    Register(zone);
    zone.SetBounds(6120, ZoneTop(k), 255, 135);
    zone.SetFillColor(kBlack);
    zone.SetVisible(false);
    Register(Label3[k]);
    Label3[k].SetBounds(6600, ZoneTop(k), 975, 255);
    Label3[k].SetCaption(kZoneCaptions[k]);
    Label3[k].SetVisible(false);
  }

  // Operator keys.
  struct Key {
    PushButton& button;
    const char* caption;
    Rgb color;
    int left, top, width, height;
  };
  const Key keys[] = {
      {EMG_CB, "EMG", kPink, 3480, 3720, 1215, 615},
      {EMGMessage_CB, "EMG Message", kPink, 4920, 3720, 1215, 615},
      {EMGAck_CB, "EMG ACK", kYellow, 3480, 4440, 1215, 615},
      {FaultAck_CB, "Fault ACK", kYellow, 4920, 4440, 1215, 615},
      {EMGReset_CB, "EMG Reset", kGreen, 3480, 5160, 1215, 615},
      {FaultReset_CB, "Fault Reset", kGreen, 4920, 5160, 1215, 615},
      {IMPC_CB, "Impedance Check", kCyan, 4680, 7320, 975, 615},
  };
  for (const Key& key : keys) {
    Register(key.button);
    key.button.SetBounds(key.left, key.top, key.width, key.height);
    key.button.SetCaption(key.caption);
    key.button.SetBackColor(key.color);
  }
  IMPC_CB.SetVisible(false);
  Register(Clear_CommandButton);
  Clear_CommandButton.SetBounds(120, 8280, 1215, 615);
  Clear_CommandButton.SetCaption("Test");
  Clear_CommandButton.SetVisible(false);

  // Connection and serial settings.
  Register(ConnectCB);
  ConnectCB.SetBounds(3480, 6000, 2655, 975);
  ConnectCB.SetCaption("Connection");
  Register(RS232Setting_Frame);
  RS232Setting_Frame.SetBounds(120, 5280, 3255, 1750);
  RS232Setting_Frame.SetCaption("RS232 Configuration");
  Register(ComPort_LB, &RS232Setting_Frame);
  ComPort_LB.SetBounds(120, 360, 1095, 255);
  ComPort_LB.SetCaption("Com  Port");
  Register(ComPort_CB, &RS232Setting_Frame);
  ComPort_CB.SetBounds(1440, 360, 1575, 360);
  Register(BaudRate_LB, &RS232Setting_Frame);
  BaudRate_LB.SetBounds(120, 870, 1095, 255);
  BaudRate_LB.SetCaption("Baud Rate");
  Register(BaudRate_CB, &RS232Setting_Frame);
  BaudRate_CB.SetBounds(1440, 840, 1575, 360);
  Register(RS232BitType_LB, &RS232Setting_Frame);
  RS232BitType_LB.SetBounds(2880, 1440, 255, 255);
  RS232BitType_LB.SetCaption("Bit Type");
  RS232BitType_LB.SetVisible(false);
  Register(SupervisionCheck, &RS232Setting_Frame);
  SupervisionCheck.SetBounds(240, 1320, 1695, 255);
  SupervisionCheck.SetCaption("Supervision");
  Register(Timer_CB, &RS232Setting_Frame);
  Timer_CB.SetBounds(2160, 1320, 855, 360);
  Timer_CB.SetText("10");
  for (int i = 0; i < 2; ++i) {
    Register(imgRS232[i]);
    imgRS232[i].SetBounds(10440, i == 0 ? 8520 : 8160, 465, 210);
    imgRS232[i].SetVisible(false);
  }

  // Events log and received data.
  Register(EventsLogLabel);
  EventsLogLabel.SetBounds(6240, 120, 1935, 375);
  EventsLogLabel.SetCaption("Events Log");
  Register(EventsLogTextBox);
  EventsLogTextBox.SetBounds(6240, 480, 6015, 6525);
  EventsLogTextBox.SetText("Received data");
  Register(NoDisplayCheck);
  NoDisplayCheck.SetBounds(8640, 120, 3015, 255);
  NoDisplayCheck.SetCaption("Without Display");
  Register(Receiver_Text);
  Receiver_Text.SetBounds(4440, 8400, 1215, 375);
  Receiver_Text.SetText("Text1");
  Register(Frame1);
  Frame1.SetBounds(7680, 8160, 2655, 735);
  Frame1.SetCaption("Display Type");
  Frame1.SetVisible(false);
  const char* const option_captions[3] = {"Char", "Hex", "Dec"};
  const int option_left[3] = {120, 960, 1800};
  const int option_width[3] = {855, 855, 735};
  std::vector<OptionButton*> group;
  for (int i = 0; i < 3; ++i) {
    Register(DisplayType_OptionButton[i], &Frame1);
    DisplayType_OptionButton[i].SetBounds(option_left[i], 360, option_width[i], 255);
    DisplayType_OptionButton[i].SetCaption(option_captions[i]);
    group.push_back(&DisplayType_OptionButton[i]);
  }
  for (OptionButton* option : group)
    option->SetGroup(group);
}

void MainForm::WireEvents() {
  ConnectCB.Click = [this] { ConnectCB_Click(); };
  ComPort_CB.Click = [this] { ComPort_CB_Click(); };
  const std::pair<PushButton*, std::uint8_t> keys[] = {
      {&EMG_CB, OperatorCommands::kEmg},
      {&EMGAck_CB, OperatorCommands::kEmgAck},
      {&EMGReset_CB, OperatorCommands::kEmgReset},
      {&FaultAck_CB, OperatorCommands::kFaultAck},
      {&FaultReset_CB, OperatorCommands::kFaultReset},
      {&EMGMessage_CB, OperatorCommands::kEmgMessage}};
  for (const auto& [button, code] : keys) {
    button->Click = [this, key_code = code] { commands_.SendPanelKey(key_code); };
  }
  IMPC_CB.Click = [this] { commands_.SendImpedanceCheck(); };
  Clear_CommandButton.Click = [this] { commands_.Clear_CommandButton_Click(); };
  Transmission_CommandButton.Click = [this] { trigger_bank_.Transmission_CommandButton_Click(); };
  SupervisionCheck.Click = [this] { commands_.SupervisionCheck_Click(); };
  BaudRate_CB.Click = [this] { BaudRate_CB_Click(); };

  VirtualDevice_ComboBox.Click = [this] { trigger_bank_.VirtualDevice_ComboBox_Click(); };
  Trigger_VScrollBar.Change = [this] { trigger_bank_.Trigger_VScrollBar_Change(); };
  Trigger_VScrollBar.Scroll = [this] { trigger_bank_.Trigger_VScrollBar_Scroll(); };
  Trigger_VScrollBar.GotFocus = [this] { trigger_bank_.Trigger_VScrollBar_GotFocus(); };
  Trigger_CheckBox.Bind(&Control::Click,
                        [this](int r) { trigger_bank_.Trigger_CheckBox_Click(r); });
  TriggerLabel.Bind(&Control::DblClick, [this](int r) { trigger_bank_.TriggerLabel_DblClick(r); });
  TriggerNameText.Bind(&Control::Change,
                       [this](int r) { trigger_bank_.TriggerNameText_Change(r); });
  TriggerNameText.Bind(&Control::Validate,
                       [this](int r) { trigger_bank_.TriggerNameText_Validate(r); });
  TriggerNameText.Bind(&Control::LostFocus,
                       [this](int r) { trigger_bank_.TriggerNameText_LostFocus(r); });

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
  keep(decoder_.decoded().Connect(
      [this](const EventRecord& record) { events_log_view_.Show(record); }));
  keep(decoder_.decoded().Connect(
      [this](const EventRecord& record) { event_recorder_.Record(record); }));
  keep(decoder_.decoded().Connect([this](const EventRecord& record) {
    const ReceivedFrame* frame = link_.dispatcher().current_frame();
    Record(JournalKind::kEvent, record.text, frame != nullptr ? FrameHex(*frame) : "");
  }));
  keep(commands_.sent().Connect(
      [this](const std::string& what) { Record(JournalKind::kOperator, what); }));
  keep(trigger_bank_.renamed().Connect(
      [this](int page, int number, const std::string& old_name, const std::string& new_name) {
        Record(JournalKind::kOperator,
               "Renamed " +
                   std::string(kTriggerPages[static_cast<std::size_t>(page)].default_name_prefix) +
                   std::to_string(number) + ": \"" + old_name + "\" to \"" + new_name + "\"");
      }));
  keep(link_.receiver().chunk_received().Connect(
      [this](const Bytes& chunk) { display_.AppendReceivedBytes(Receiver_Text, chunk); }));
  keep(link_.watch().changed().Connect(
      [this](const LinkWatch::Change& change) { OnLinkWatchChange(change); }));
  keep(link_.connection_changed().Connect([this](bool) { RefreshLineStatus(); }));
  keep(env_.port.failed().Connect([this](const PortError& error) {
    const std::string what = std::string(PortErrorKindText(error.kind)) + " (" + error.text + ")";
    Notify(NoticeLevel::kError, "COM" + std::to_string(config_.SerialComPort) + ": " + what);
    Record(JournalKind::kLink, "Port failure: " + PortDescription() + ": " + what);
  }));
}

void MainForm::Form_Load() {
  MainFormWindow.SetCaption(kWindowCaption);
  MainFormWindow.SetOuterHeight(kOuterHeightAtLoad);
  for (int n = 1; n <= 10; ++n)
    ComPort_CB.AddItem("COM" + std::to_string(n));
  for (const std::string_view rate : kBaudRates)
    BaudRate_CB.AddItem(std::string(rate));
  for (int t = 10; t <= 90; t += 10)
    Timer_CB.AddItem(std::to_string(t));
  for (int page = 0; page < kListedPages; ++page) {
    const TriggerPage& p = kTriggerPages[static_cast<std::size_t>(page)];
    VirtualDevice_ComboBox.AddItem(p.list_prefix + std::to_string(p.size));
  }
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
  RefreshLineStatus();
  Record(JournalKind::kProgram,
         std::string("Program started: ") + kWindowCaption + ", user " + journal_options_.login);
  if (journal_) journal_->Commit();
}

void MainForm::Form_Unload() {
  if (SerialSettingsChanged) {
    config_.SaveConfigGroup("RS232Config");
    SerialSettingsChanged = false;
  }
  Record(JournalKind::kProgram,
         std::string("Program stopped: ") + kWindowCaption + ", user " + journal_options_.login);
  if (journal_) journal_->Commit();
}

}  // namespace orv
