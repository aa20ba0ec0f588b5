#include "panel/trigger_bank.h"

#include <algorithm>

namespace orv {

TriggerBank::TriggerBank(SharedState& shared, TriggerBankControls controls, Configuration& config,
                         PollScheduler& scheduler, OperatorCommands& commands)
    : shared_(shared), c_(controls), config_(config), scheduler_(scheduler), commands_(commands) {}

const TriggerPage& TriggerBank::Page() const {
  const int page = std::clamp<int>(shared_.TriggerBankPage, 0, kPageCount - 1);
  return kTriggerPages[static_cast<std::size_t>(page)];
}

void TriggerBank::RefreshTriggerBank() {
  const auto& names = config_.Names(shared_.TriggerBankPage);
  const TriggerStateTable& states = shared_.States(shared_.TriggerBankPage);
  shared_.TriggerUiEnabled = false;
  for (int r = 0; r < kRows; ++r) {
    const int n = TriggerNumber(r);
    const std::string& name = n >= 1 && n <= static_cast<int>(names.size())
                                  ? names[static_cast<std::size_t>(n - 1)]
                                  : std::string();
    c_.TriggerLabel[r].SetCaption(name);
    c_.TriggerNameText[r].SetText(name);
    c_.Trigger_CheckBox[r].SetValue(states.Get(n) != 0 ? 1 : 0);
  }
  shared_.TriggerUiEnabled = true;
  // Setting the editors' texts marked them edited; those marks are not the operator's.
  for (int r = 0; r < kRows; ++r)
    shared_.TriggerNameEdited[static_cast<std::size_t>(r)] = false;
}

void TriggerBank::VirtualDevice_ComboBox_Click() {
  if (!shared_.TriggerUiEnabled) return;
  shared_.TriggerUiEnabled = false;
  shared_.TriggerBankPage = static_cast<std::int16_t>(c_.VirtualDevice_ComboBox.list_index());
  if (shared_.TriggerBankPage < 0 || shared_.TriggerBankPage >= kPageCount) {
    shared_.TriggerBankPage = 0;
  }
  shared_.TriggerScrollOffset = 0;
  // The next poll slot asks for the new page's states.
  scheduler_.set_poll_step(static_cast<std::int16_t>(shared_.TriggerBankPage + 2));
  c_.Trigger_VScrollBar.SetValue(0);
  c_.Trigger_VScrollBar.SetMax(Page().size - c_.Trigger_VScrollBar.large_change());
  shared_.TriggerUiEnabled = true;
  RefreshTriggerBank();
}

void TriggerBank::Trigger_VScrollBar_Change() {
  if (!shared_.TriggerUiEnabled) return;
  shared_.TriggerScrollOffset = static_cast<std::int16_t>(c_.Trigger_VScrollBar.value());
  RefreshTriggerBank();
  c_.focus.MoveFocus(&c_.Trigger_PictureBox);
}

void TriggerBank::Trigger_VScrollBar_GotFocus() {
  c_.focus.MoveFocus(&c_.Trigger_PictureBox);
}

void TriggerBank::Trigger_CheckBox_Click(int row) {
  if (!shared_.TriggerUiEnabled) return;
  const auto n = static_cast<std::uint8_t>(TriggerNumber(row));
  const std::uint8_t state = c_.Trigger_CheckBox[row].value() != 0 ? 1 : 0;
  shared_.States(shared_.TriggerBankPage).Set(n, state);
  shared_.TriggerUiEnabled = false;
  commands_.SendTriggerCommand(shared_.TriggerBankPage, n, state);
  shared_.TriggerUiEnabled = true;
}

void TriggerBank::TriggerLabel_DblClick(int row) {
  c_.TriggerNameText[row].SetVisible(true);
  c_.focus.MoveFocus(&c_.TriggerNameText[row]);
}

void TriggerBank::TriggerNameText_Change(int row) {
  shared_.TriggerNameEdited[static_cast<std::size_t>(row)] = true;
}

void TriggerBank::CommitName(int row) {
  auto& edited = shared_.TriggerNameEdited[static_cast<std::size_t>(row)];
  if (edited) {
    const int n = TriggerNumber(row);
    auto& names = config_.Names(shared_.TriggerBankPage);
    // A pasted name may carry line breaks; a name is one line.
    std::string text = c_.TriggerNameText[row].text();
    std::replace(text.begin(), text.end(), '\r', ' ');
    std::replace(text.begin(), text.end(), '\n', ' ');
    if (n >= 1 && n <= static_cast<int>(names.size())) {
      names[static_cast<std::size_t>(n - 1)] = text;
    }
    c_.TriggerLabel[row].SetCaption(text);
    SaveTriggerName(row);
    edited = false;
  }
  c_.TriggerNameText[row].SetVisible(false);
}

void TriggerBank::SaveTriggerName(int row) {
  config_.SaveName(shared_.TriggerBankPage, TriggerNumber(row));
}

}  // namespace orv
