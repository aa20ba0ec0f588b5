#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "attach/attach_protocol.h"
#include "link/trigger_states.h"
#include "panelstate/panel_state.h"
#include "platform/signal.h"
#include "window/panel_window.h"
#include "window/trigger_bank.h"

namespace orv {

// A window attached to the service: the main window without a line of its own, showing the
// service's state, every operator action on it sent to the service instead of a line. The page
// shown, the scroll position, the events box's Without Display and the lamp test it asked for
// stay the window's own.
class AttachedPanel {
 public:
  using SendFn = std::function<void(const ActionRequest& action)>;

  explicit AttachedPanel(SendFn send);
  AttachedPanel(const AttachedPanel&) = delete;
  AttachedPanel& operator=(const AttachedPanel&) = delete;

  PanelWindow& window() { return window_; }
  TriggerBank& trigger_bank() { return bank_; }

  // Shows these sections of the service's state.
  void Show(const PanelState& state, unsigned sections);
  // Stale: the service is gone; lamps and triggers are greyed and nothing can be asked for until
  // the next snapshot shows the state again.
  void SetStale(bool stale);
  bool stale() const { return stale_; }
  const PanelState& state() const { return state_; }
  // This window asked for the lamp test: its lamps light while the service's test runs.
  void LampTestAsked() { lamp_test_asked_ = true; }

  // The grey of a lit lamp whose state is not known now.
  static constexpr Rgb kStaleLamp{0x90, 0x90, 0x90};

 private:
  void Load();
  void WireWindow();
  void Send(ActionKind kind, int a = 0);
  void ShowConnection();
  void ShowLamps();
  void ShowTriggerLook();

  SendFn send_;
  PanelWindow window_;
  // What the bank shows: the service's states and names of the listed pages.
  TriggerStates states_;
  std::array<std::vector<std::string>, kPageCount> names_;
  TriggerBank bank_;
  PanelState state_ = EmptyPanelState();
  Rgb lamp_color_;
  bool stale_ = false;
  bool lamp_test_asked_ = false;
  // Set while the service's state is being shown: the controls' own events are not the
  // operator's then.
  bool showing_ = false;
  Connections connections_;
};

}  // namespace orv
