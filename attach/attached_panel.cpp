#include "attach/attached_panel.h"

#include "config/configuration.h"

namespace orv {

AttachedPanel::AttachedPanel(SendFn send)
    : send_(std::move(send)),
      bank_(TriggerBankModel{states_,
                             [this](int page) -> std::vector<std::string>& {
                               return names_[static_cast<std::size_t>(page)];
                             },
                             {},
                             {}},
            TriggerBankControls{window_.VirtualDevice_ComboBox, window_.Trigger_PictureBox,
                                window_.Trigger_VScrollBar, window_.Trigger_CheckBox,
                                window_.TriggerLabel, window_.TriggerNameText, window_.focus}),
      lamp_color_(window_.Shape1[0].fill_color()) {
  // Loaded before it is wired: what the start sets is not the operator's.
  Load();
  WireWindow();
}

void AttachedPanel::Load() {
  // As the window of the program that holds the line starts, without its settings: the service's
  // come with its first state.
  PanelWindow& w = window_;
  w.MainFormWindow.SetOuterHeight(PanelWindow::kOuterHeightAtLoad);
  w.FillLists();
  bank_.set_ui_enabled(false);
  w.VirtualDevice_ComboBox.SetListIndex(0);
  bank_.set_ui_enabled(true);
  const Configuration defaults({}, {});
  w.RS232BitType_LB.SetCaption(defaults.SerialCheckBit + " Parity , " + defaults.SerialBitLength +
                               " Bits , " + defaults.SerialStopBit + " Stop");
  w.EventsLogTextBox.SetText("");
  w.Receiver_Text.SetText("");
  w.DisplayType_OptionButton[0].SetValue(true);
  w.Trigger_VScrollBar.SetMax(60 - w.Trigger_VScrollBar.large_change());
  for (int i = 0; i < TriggerBank::kRows; ++i) {
    w.TriggerNameText[i].SetVisible(false);
    w.TriggerNameText[i].SetLeft(360);
  }
  for (int p = 0; p < PanelState::kPages; ++p)
    names_[static_cast<std::size_t>(p)] = state_.pages[static_cast<std::size_t>(p)].names;
  bank_.RefreshTriggerBank();
  ShowConnection();
  w.Transmission_CommandButton.SetEnabled(true);
}

void AttachedPanel::WireWindow() {
  PanelWindow& w = window_;
  // The window's own: which page and rows it shows, and a name being typed.
  w.VirtualDevice_ComboBox.Click = [this] { bank_.VirtualDevice_ComboBox_Click(); };
  w.Trigger_VScrollBar.Change = [this] { bank_.Trigger_VScrollBar_Change(); };
  w.Trigger_VScrollBar.Scroll = [this] { bank_.Trigger_VScrollBar_Scroll(); };
  w.Trigger_VScrollBar.GotFocus = [this] { bank_.Trigger_VScrollBar_GotFocus(); };
  w.Transmission_CommandButton.Click = [this] { bank_.Transmission_CommandButton_Click(); };
  w.TriggerLabel.Bind(&Control::DblClick, [this](int r) {
    if (!stale_) bank_.TriggerLabel_DblClick(r);
  });
  w.TriggerNameText.Bind(&Control::Change, [this](int r) { bank_.TriggerNameText_Change(r); });
  w.TriggerNameText.Bind(&Control::Validate, [this](int r) { bank_.TriggerNameText_Validate(r); });
  w.TriggerNameText.Bind(&Control::LostFocus,
                         [this](int r) { bank_.TriggerNameText_LostFocus(r); });
  // A new name is the service's to store, in its INI.
  bank_.set_store_names(false);
  connections_.push_back(bank_.renamed().Connect(
      [this](int page, int number, const std::string&, const std::string& name) {
        if (page >= PanelState::kPages) return;
        ActionRequest action;
        action.kind = ActionKind::kRename;
        action.page = page;
        action.number = number;
        action.name = name;
        send_(action);
      }));

  // Everything else is the service's: asked of it, its state coming back.
  w.ConnectCB.Click = [this] {
    Send(state_.connected ? ActionKind::kDisconnect : ActionKind::kConnect);
  };
  for (const auto& [button, action] : w.OperatorKeys())
    button->Click = [this, key = KeyCodeOf(action)] { Send(ActionKind::kKey, key); };
  w.IMPC_CB.Click = [this] { Send(ActionKind::kImpedanceCheck); };
  w.SupervisionCheck.Click = [this] {
    if (showing_ || stale_) return;
    ActionRequest action;
    action.kind = ActionKind::kSupervision;
    action.state = window_.SupervisionCheck.value() > 0 ? 1 : 0;
    action.name = window_.Timer_CB.text();
    send_(action);
  };
  w.ComPort_CB.Click = [this] { Send(ActionKind::kPort, window_.ComPort_CB.list_index() + 1); };
  w.BaudRate_CB.Click = [this] {
    if (showing_) return;
    ActionRequest action;
    action.kind = ActionKind::kBaud;
    action.baud = window_.BaudRate_CB.text();
    send_(action);
  };
  w.Trigger_CheckBox.Bind(&Control::Click, [this](int row) {
    if (showing_ || stale_) return;
    const std::optional<TriggerSwitch> to = bank_.Trigger_CheckBox_Click(row);
    // Pages past the listed ones (the BGM channels) are not the service's to switch from here.
    if (!to || to->page >= PanelState::kPages) return;
    ActionRequest action;
    action.kind = ActionKind::kTrigger;
    action.page = to->page;
    action.number = to->number;
    action.state = to->state;
    send_(action);
  });
}

void AttachedPanel::Send(ActionKind kind, int a) {
  if (showing_ || stale_) return;
  ActionRequest action;
  action.kind = kind;
  action.key = kind == ActionKind::kKey ? a : 0;
  action.port = kind == ActionKind::kPort ? a : 0;
  send_(action);
}

void AttachedPanel::Show(const PanelState& state, unsigned sections) {
  showing_ = true;
  state_ = state;
  if (sections & (kSectionLamps | kSectionAnnunciation)) ShowLamps();
  bool shown_page_changed = false;
  for (int p = 0; p < PanelState::kPages; ++p) {
    if (!(sections & PageSection(p))) continue;
    const TriggerPageState& page = state.pages[static_cast<std::size_t>(p)];
    TriggerStateTable& table = states_.States(p);
    for (std::size_t n = 1; n <= page.states.size(); ++n)
      table.Set(static_cast<int>(n), page.states[n - 1]);
    names_[static_cast<std::size_t>(p)] = page.names;
    shown_page_changed = shown_page_changed || p == bank_.page();
  }
  if (shown_page_changed) bank_.RefreshTriggerBank();
  // "Without Display" ticked: this window shows no new events, as a window of its own would.
  if ((sections & kSectionEvents) && window_.NoDisplayCheck.value() == 0) {
    std::string text;
    for (std::size_t i = 0; i < state.events.size(); ++i)
      text += (i > 0 ? "\r\n" : "") + state.events[i];
    window_.EventsLogTextBox.SetText(text);
  }
  if (sections & kSectionConnection) ShowConnection();
  showing_ = false;
}

void AttachedPanel::ShowLamps() {
  // The test this window asked for lights its lamps; another's leaves them the controller's.
  if (!state_.lamp_test) lamp_test_asked_ = false;
  const bool all = state_.lamp_test && lamp_test_asked_;
  for (int i = 0; i < kSystemLamps; ++i) {
    const bool lit = all || state_.lamps[static_cast<std::size_t>(i)];
    window_.Shape1[i].SetFillStyle(lit ? Shape::kSolid : Shape::kTransparent);
  }
}

void AttachedPanel::ShowConnection() {
  PanelWindow& w = window_;
  w.ShowConnected(state_.connected && !stale_);
  w.ConnectCB.SetEnabled(!stale_);
  w.ComPort_CB.SetListIndex(state_.port - 1);
  const auto& rates = w.BaudRate_CB.items();
  for (std::size_t i = 0; i < rates.size(); ++i) {
    if (rates[i] == state_.baud) w.BaudRate_CB.SetListIndex(static_cast<int>(i));
  }
  w.SupervisionCheck.SetValue(state_.supervision ? 1 : 0);
  w.Timer_CB.SetText(state_.supervision_time);
  w.Timer_CB.SetEnabled(!state_.supervision && !stale_);
  w.SupervisionCheck.SetEnabled(!stale_);
  ShowTriggerLook();
}

void AttachedPanel::ShowTriggerLook() {
  for (int i = 0; i < kSystemLamps; ++i)
    window_.Shape1[i].SetFillColor(stale_ ? kStaleLamp : lamp_color_);
  for (int r = 0; r < TriggerBank::kRows; ++r)
    window_.TriggerLabel[r].SetEnabled(!stale_);
}

void AttachedPanel::SetStale(bool stale) {
  if (stale == stale_) return;
  stale_ = stale;
  showing_ = true;
  ShowConnection();
  showing_ = false;
}

}  // namespace orv
