#include "window/trigger_bank.h"

#include <algorithm>
#include <utility>

namespace orv {

TriggerBank::TriggerBank(TriggerBankModel model, TriggerBankControls controls)
    : model_(std::move(model)), c_(controls) {}

const TriggerPage& TriggerBank::Page() const {
  const int page = std::clamp<int>(TriggerBankPage, 0, kPageCount - 1);
  return kTriggerPages[static_cast<std::size_t>(page)];
}

void TriggerBank::RefreshTriggerBank() {
  const auto& names = model_.names(TriggerBankPage);
  const TriggerStateTable& states = model_.states.States(TriggerBankPage);
  TriggerUiEnabled = false;
  for (int r = 0; r < kRows; ++r) {
    const int n = TriggerNumber(r);
    const std::string& name = n >= 1 && n <= static_cast<int>(names.size())
                                  ? names[static_cast<std::size_t>(n - 1)]
                                  : std::string();
    c_.TriggerLabel[r].SetCaption(name);
    c_.TriggerNameText[r].SetText(name);
    c_.Trigger_CheckBox[r].SetValue(states.Get(n) != 0 ? 1 : 0);
  }
  TriggerUiEnabled = true;
  // Setting the editors' texts marked them edited; those marks are not the operator's.
  ClearEditedMarks();
}

void TriggerBank::ClearEditedMarks() {
  for (int r = 0; r < kRows; ++r)
    TriggerNameEdited[static_cast<std::size_t>(r)] = false;
}

void TriggerBank::ShowTriggerStates() {
  const TriggerStateTable& states = model_.states.States(TriggerBankPage);
  TriggerUiEnabled = false;
  for (int r = 0; r < kRows; ++r)
    c_.Trigger_CheckBox[r].SetValue(states.Get(TriggerNumber(r)) != 0 ? 1 : 0);
  TriggerUiEnabled = true;
  ClearEditedMarks();
}

void TriggerBank::OnTriggerStatesUpdated(int page) {
  if (page == TriggerBankPage) RefreshTriggers = true;
}

void TriggerBank::RedrawIfRequested() {
  if (!RefreshTriggers) return;
  RefreshTriggerBank();
  RefreshTriggers = false;
}

void TriggerBank::OnTriggersReported(std::span<const TriggerUpdate> updates) {
  const bool shown = std::any_of(updates.begin(), updates.end(), [this](const TriggerUpdate& u) {
    return u.page == TriggerBankPage;
  });
  if (!shown) return;
  ShowTriggerStates();
  RefreshTriggers = false;
}

void TriggerBank::VirtualDevice_ComboBox_Click() {
  if (!TriggerUiEnabled) return;
  TriggerUiEnabled = false;
  TriggerBankPage = static_cast<std::int16_t>(c_.VirtualDevice_ComboBox.list_index());
  if (TriggerBankPage < 0 || TriggerBankPage >= kPageCount) {
    TriggerBankPage = 0;
  }
  TriggerScrollOffset = 0;
  // The next poll slot asks for the new page's states.
  if (model_.page_shown) model_.page_shown(TriggerBankPage);
  c_.Trigger_VScrollBar.SetValue(0);
  c_.Trigger_VScrollBar.SetMax(Page().size - c_.Trigger_VScrollBar.large_change());
  TriggerUiEnabled = true;
  RefreshTriggerBank();
}

void TriggerBank::Trigger_VScrollBar_Change() {
  if (!TriggerUiEnabled) return;
  TriggerScrollOffset = static_cast<std::int16_t>(c_.Trigger_VScrollBar.value());
  RefreshTriggerBank();
  c_.focus.MoveFocus(&c_.Trigger_PictureBox);
}

void TriggerBank::Trigger_VScrollBar_GotFocus() {
  c_.focus.MoveFocus(&c_.Trigger_PictureBox);
}

std::optional<TriggerSwitch> TriggerBank::Trigger_CheckBox_Click(int row) {
  if (!TriggerUiEnabled) return std::nullopt;
  const auto n = static_cast<std::uint8_t>(TriggerNumber(row));
  const std::uint8_t state = c_.Trigger_CheckBox[row].value() != 0 ? 1 : 0;
  model_.states.States(TriggerBankPage).Set(n, state);
  return TriggerSwitch{TriggerBankPage, n, state};
}

void TriggerBank::TriggerLabel_DblClick(int row) {
  c_.TriggerNameText[row].SetVisible(true);
  c_.focus.MoveFocus(&c_.TriggerNameText[row]);
}

void TriggerBank::TriggerNameText_Change(int row) {
  TriggerNameEdited[static_cast<std::size_t>(row)] = true;
}

std::optional<TriggerRename> TriggerBank::CommitName(int row) {
  std::optional<TriggerRename> rename;
  auto& edited = TriggerNameEdited[static_cast<std::size_t>(row)];
  if (edited) {
    const int n = TriggerNumber(row);
    auto& names = model_.names(TriggerBankPage);
    // A pasted name may carry line breaks; a name is one line.
    std::string text = c_.TriggerNameText[row].text();
    std::replace(text.begin(), text.end(), '\r', ' ');
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::string old_name;
    if (n >= 1 && n <= static_cast<int>(names.size())) {
      old_name = std::exchange(names[static_cast<std::size_t>(n - 1)], text);
    }
    c_.TriggerLabel[row].SetCaption(text);
    if (store_names_) SaveTriggerName(row);
    if (old_name != text) {
      renamed_(TriggerBankPage, n, old_name, text);
      rename = TriggerRename{TriggerBankPage, n, std::move(old_name), std::move(text)};
    }
    edited = false;
  }
  c_.TriggerNameText[row].SetVisible(false);
  return rename;
}

void TriggerBank::DiscardName(int row) {
  TriggerNameEdited[static_cast<std::size_t>(row)] = false;
  c_.TriggerNameText[row].SetVisible(false);
}

void TriggerBank::SaveTriggerName(int row) {
  if (model_.store_name) model_.store_name(TriggerBankPage, TriggerNumber(row));
}

}  // namespace orv
