#pragma once

#include <cstdint>

#include "config/configuration.h"
#include "link/poll_scheduler.h"
#include "link/shared_state.h"
#include "panel/operator_commands.h"
#include "platform/controls.h"

namespace orv {

struct TriggerBankControls {
  ComboBox& VirtualDevice_ComboBox;
  PictureBox& Trigger_PictureBox;
  VScrollBar& Trigger_VScrollBar;
  ControlArray<CheckBox>& Trigger_CheckBox;
  ControlArray<Label>& TriggerLabel;
  ControlArray<TextBox>& TriggerNameText;
  FocusTracker& focus;
};

// Twelve rows of one trigger page: check boxes that switch triggers, names that can be edited in
// place (and are stored at once), a scroll bar and the page list.
class TriggerBank {
 public:
  static constexpr int kRows = 12;

  TriggerBank(SharedState& shared, TriggerBankControls controls, Configuration& config,
              PollScheduler& scheduler, OperatorCommands& commands);

  // Redraws the rows from the shown page and scroll position.
  void RefreshTriggerBank();
  void SaveTriggerName(int row);

  void VirtualDevice_ComboBox_Click();
  void Trigger_VScrollBar_Change();
  void Trigger_VScrollBar_Scroll() { Trigger_VScrollBar_Change(); }
  void Trigger_VScrollBar_GotFocus();
  void Trigger_CheckBox_Click(int row);
  void TriggerLabel_DblClick(int row);
  void TriggerNameText_Change(int row);
  void TriggerNameText_Validate(int row) { CommitName(row); }
  void TriggerNameText_LostFocus(int row) { CommitName(row); }

 private:
  const TriggerPage& Page() const;
  int TriggerNumber(int row) const { return shared_.TriggerScrollOffset + row + 1; }
  void CommitName(int row);

  SharedState& shared_;
  TriggerBankControls c_;
  Configuration& config_;
  PollScheduler& scheduler_;
  OperatorCommands& commands_;
};

}  // namespace orv
