#include "attach/attached_panel.h"

namespace orv {

AttachedPanel::AttachedPanel(MainForm& form, SendFn send)
    : form_(form), send_(std::move(send)), lamp_color_(form.Shape1[0].fill_color()) {
  form_.ConnectCB.Click = [this] {
    Send(state_.connected ? ActionKind::kDisconnect : ActionKind::kConnect);
  };
  const std::pair<PushButton*, int> keys[] = {
      {&form_.EMG_CB, OperatorCommands::kEmg},
      {&form_.EMGAck_CB, OperatorCommands::kEmgAck},
      {&form_.EMGReset_CB, OperatorCommands::kEmgReset},
      {&form_.FaultAck_CB, OperatorCommands::kFaultAck},
      {&form_.FaultReset_CB, OperatorCommands::kFaultReset},
      {&form_.EMGMessage_CB, OperatorCommands::kEmgMessage}};
  for (const auto& [button, code] : keys)
    button->Click = [this, key = code] { Send(ActionKind::kKey, key); };
  form_.IMPC_CB.Click = [this] { Send(ActionKind::kImpedanceCheck); };
  // The box and its time are the service's: a click asks the service, whose state comes back.
  form_.SupervisionCheck.Click = [this] {
    if (showing_ || stale_) return;
    ActionRequest action;
    action.kind = ActionKind::kSupervision;
    action.state = form_.SupervisionCheck.value() > 0 ? 1 : 0;
    action.name = form_.Timer_CB.text();
    send_(action);
  };
  form_.ComPort_CB.Click = [this] { Send(ActionKind::kPort, form_.ComPort_CB.list_index() + 1); };
  form_.BaudRate_CB.Click = [this] {
    if (showing_) return;
    ActionRequest action;
    action.kind = ActionKind::kBaud;
    action.baud = form_.BaudRate_CB.text();
    send_(action);
  };
  form_.Trigger_CheckBox.Bind(&Control::Click, [this](int row) {
    TriggerBank& bank = form_.trigger_bank();
    if (showing_ || !bank.ui_enabled() || stale_) return;
    ActionRequest action;
    action.kind = ActionKind::kTrigger;
    action.page = bank.page();
    action.number = bank.scroll_offset() + row + 1;
    action.state = form_.Trigger_CheckBox[row].value() != 0 ? 1 : 0;
    // Pages past the listed ones (the BGM channels) are not the service's to switch from here.
    if (action.page < PanelState::kPages) send_(action);
  });
  // A new name is the service's to store, in its INI.
  form_.trigger_bank().set_store_names(false);
  connections_.push_back(form_.trigger_bank().renamed().Connect(
      [this](int page, int number, const std::string&, const std::string& name) {
        if (page >= PanelState::kPages) return;
        ActionRequest action;
        action.kind = ActionKind::kRename;
        action.page = page;
        action.number = number;
        action.name = name;
        send_(action);
      }));
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
    TriggerStateTable& table = form_.link().trigger_states().States(p);
    for (std::size_t n = 1; n <= page.states.size(); ++n)
      table.Set(static_cast<int>(n), page.states[n - 1]);
    form_.config().Names(p) = page.names;
    shown_page_changed = shown_page_changed || p == form_.trigger_bank().page();
  }
  if (shown_page_changed) form_.trigger_bank().RefreshTriggerBank();
  // "Without Display" ticked: this window shows no new events, as a window of its own would.
  if ((sections & kSectionEvents) && form_.NoDisplayCheck.value() == 0) {
    std::string text;
    for (std::size_t i = 0; i < state.events.size(); ++i)
      text += (i > 0 ? "\r\n" : "") + state.events[i];
    form_.EventsLogTextBox.SetText(text);
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
    form_.Shape1[i].SetFillStyle(lit ? Shape::kSolid : Shape::kTransparent);
  }
}

void AttachedPanel::ShowConnection() {
  form_.link().SetPortConnected(state_.connected && !stale_);
  form_.UpdateConnectionControls();
  form_.ConnectCB.SetEnabled(!stale_);
  form_.ComPort_CB.SetListIndex(state_.port - 1);
  const auto& rates = form_.BaudRate_CB.items();
  for (std::size_t i = 0; i < rates.size(); ++i) {
    if (rates[i] == state_.baud) form_.BaudRate_CB.SetListIndex(static_cast<int>(i));
  }
  form_.SupervisionCheck.SetValue(state_.supervision ? 1 : 0);
  form_.Timer_CB.SetText(state_.supervision_time);
  form_.Timer_CB.SetEnabled(!state_.supervision && !stale_);
  form_.SupervisionCheck.SetEnabled(!stale_);
  ShowTriggerLook();
}

void AttachedPanel::ShowTriggerLook() {
  for (int i = 0; i < kSystemLamps; ++i)
    form_.Shape1[i].SetFillColor(stale_ ? kStaleLamp : lamp_color_);
  for (int r = 0; r < TriggerBank::kRows; ++r)
    form_.TriggerLabel[r].SetEnabled(!stale_);
}

void AttachedPanel::SetStale(bool stale) {
  if (stale == stale_) return;
  stale_ = stale;
  showing_ = true;
  ShowConnection();
  showing_ = false;
}

}  // namespace orv
