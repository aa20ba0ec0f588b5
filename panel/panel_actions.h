#pragma once

#include <functional>
#include <string>

#include "access/operator_actions.h"
#include "panel/main_form.h"

namespace orv {

// The one place an operator's action is done on the panel, whoever asked for it (the socket, a
// web panel) and as whoever the gate said acts: as the window's own controls would do it, every
// record it makes carrying that actor.
class PanelActions final : public ActionPerformer {
 public:
  PanelActions(MainForm& form, ServiceLine line) : form_(form), line_(std::move(line)) {}

  std::string Perform(const ActionRequest& request, const Actor& actor) override;

 private:
  // Selects item text of a list as a click would, quietly; false when the list has no such item.
  bool Select(ComboBox& list, const std::string& text);

  MainForm& form_;
  ServiceLine line_;
};

}  // namespace orv
