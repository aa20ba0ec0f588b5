// The window's controls: registered in the order the view builds them, the lists' items, and the
// connected look.
#include "window/panel_window.h"

#include <string_view>

#include "config/configuration.h"
#include "link/trigger_states.h"

namespace orv {

PanelWindow::PanelWindow() {
  LayOutControls();
}

void PanelWindow::Register(Control& control, Control* container) {
  control.set_container(container);
  controls_.push_back(&control);
}

Control* PanelWindow::FindControl(const std::string& qualified_name) const {
  for (Control* c : controls_) {
    if (c->QualifiedName() == qualified_name) return c;
  }
  return nullptr;
}

void PanelWindow::FillLists() {
  MainFormWindow.SetCaption(kWindowCaption);
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
}

std::array<PanelWindow::OperatorKey, 6> PanelWindow::OperatorKeys() {
  return {{{&EMG_CB, Action::kEmg},
           {&EMGAck_CB, Action::kEmgAck},
           {&EMGReset_CB, Action::kEmgReset},
           {&FaultAck_CB, Action::kFaultAck},
           {&FaultReset_CB, Action::kFaultReset},
           {&EMGMessage_CB, Action::kEmgMessage}}};
}

void PanelWindow::SetOperatorKeysEnabled(bool enabled) {
  for (PushButton* key : {&EMG_CB, &EMGMessage_CB, &EMGAck_CB, &EMGReset_CB, &FaultAck_CB,
                          &FaultReset_CB, &IMPC_CB, &Transmission_CommandButton}) {
    key->SetEnabled(enabled);
  }
}

void PanelWindow::ShowConnected(bool connected) {
  ConnectCB.SetCaption(connected ? "Disconnection" : "Connection");
  ComPort_CB.SetEnabled(!connected);
  BaudRate_CB.SetEnabled(false);
  SetOperatorKeysEnabled(connected);
  for (int i = 0; i < 12; ++i)
    Trigger_CheckBox[i].SetEnabled(connected);
}

}  // namespace orv
