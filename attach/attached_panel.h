#pragma once

#include <functional>

#include "attach/attach_protocol.h"
#include "panel/main_form.h"
#include "panelstate/panel_state.h"
#include "platform/signal.h"

namespace orv {

// A window's model driven by the service's state instead of a line of its own: it shows what
// the service shows, and every operator action on it goes to the service instead of the line.
// The page shown and the scroll position stay the window's own. Made after the model's
// Form_Load; the model's own port is never opened and its tick is not run.
class AttachedPanel {
 public:
  using SendFn = std::function<void(const ActionRequest& action)>;

  AttachedPanel(MainForm& form, SendFn send);
  AttachedPanel(const AttachedPanel&) = delete;
  AttachedPanel& operator=(const AttachedPanel&) = delete;

  // Shows these sections of the service's state.
  void Show(const PanelState& state, unsigned sections);
  // Stale: the service is gone; lamps and triggers are greyed and nothing can be asked for until
  // the next snapshot shows the state again.
  void SetStale(bool stale);
  bool stale() const { return stale_; }
  // This window asked for the lamp test: its lamps light while the service's test runs.
  void LampTestAsked() { lamp_test_asked_ = true; }
  const PanelState& state() const { return state_; }

  // The grey of a lit lamp whose state is not known now.
  static constexpr Rgb kStaleLamp{0x90, 0x90, 0x90};

 private:
  void Send(ActionKind kind, int a = 0);
  void ShowConnection();
  void ShowLamps();
  void ShowTriggerLook();

  MainForm& form_;
  SendFn send_;
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
