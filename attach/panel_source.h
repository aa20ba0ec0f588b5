#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "attach/attach_protocol.h"
#include "panelstate/panel_state.h"
#include "panel/main_form.h"

namespace orv {

// The service's line as its runner keeps it: a line an operator closed stays closed.
struct ServiceLine {
  std::function<void()> connect;
  std::function<void()> disconnect;
};

// The gate's name for an action a window asks for; none for a log in or out.
std::optional<Action> GatedAction(const ActionRequest& action);

// Performs the attached windows' and web panels' actions on the service's window model, as the
// window's own controls would, once the program's access gate allowed them for the origin: a
// refused one sends nothing and comes back as "refused: level 2 needed". Every record an action
// makes carries the origin's Unix user (a local socket's) and its operator and level.
class PanelActions {
 public:
  PanelActions(MainForm& form, ServiceLine line) : form_(form), line_(std::move(line)) {}

  std::string Perform(const ActionRequest& action, const Origin& origin);
  // A log in: answered once its PIN is checked off the loop (at once when nothing is checked).
  void LogIn(const ActionRequest& action, const Origin& origin,
             std::function<void(const std::string&)> answer);

 private:
  std::string Gated(const ActionRequest& action, const Origin& origin);
  // A log in or out at the gate for the origin.
  std::string Access(const ActionRequest& action, const Origin& origin);
  std::string Act(const ActionRequest& action);
  // Selects item text of a list as a click would; false when the list has no such item.
  static bool Select(ComboBox& list, const std::string& text);

  MainForm& form_;
  ServiceLine line_;
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace orv
