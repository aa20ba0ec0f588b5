#pragma once

#include <functional>
#include <string>

#include "attach/attach_protocol.h"
#include "attach/panel_state.h"
#include "panel/main_form.h"

namespace orv {

// The service's window model as the attached windows see it: the lamps as it shows them, the
// listed pages' states and names, its events log, its line and its port settings.
PanelState ReadPanelState(MainForm& form);

// The service's line as its runner keeps it: a line an operator closed stays closed.
struct ServiceLine {
  std::function<void()> connect;
  std::function<void()> disconnect;
};

// Performs the attached windows' actions on the service's window model, as the window's own
// controls would, every record they make carrying the window's user.
class PanelActions {
 public:
  PanelActions(MainForm& form, ServiceLine line) : form_(form), line_(std::move(line)) {}

  std::string Perform(const ActionRequest& action, const std::string& user);

 private:
  std::string Act(const ActionRequest& action);
  // Selects item text of a list as a click would; false when the list has no such item.
  static bool Select(ComboBox& list, const std::string& text);

  MainForm& form_;
  ServiceLine line_;
};

}  // namespace orv
