#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/trigger_states.h"
#include "platform/controls.h"
#include "platform/signal.h"

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

// What the bank shows and where what it is asked goes: the states and names of the pages (the
// program's own, or those a window attached to the service is sent), and the store of a name and
// the page shown, as the program that holds the line does them (or as a window attached to it
// asks them of the service).
struct TriggerBankModel {
  TriggerStates& states;
  std::function<std::vector<std::string>&(int page)> names;
  // The page now shown; its states are wanted.
  std::function<void(int page)> page_shown;
  // A name taken from the editor, to be kept where names are kept.
  std::function<void(int page, int number)> store_name;
};

// A ticked or cleared box: trigger number of page to state (1 on, 0 off), for whoever sends it.
struct TriggerSwitch {
  int page = 0;
  std::uint8_t number = 0;
  std::uint8_t state = 0;
};

// A trigger's name changed: page, trigger number, the name before and after.
struct TriggerRename {
  int page = 0;
  int number = 0;
  std::string old_name;
  std::string new_name;
};

// Twelve rows of one trigger page: check boxes that switch triggers, names that can be edited in
// place (and are stored at once), a scroll bar and the page list. It owns what is shown (page,
// scroll position, the interlock against its own control changes); the states and names are the
// model's.
class TriggerBank {
 public:
  static constexpr int kRows = 12;

  TriggerBank(TriggerBankModel model, TriggerBankControls controls);

  // Redraws the rows from the shown page and scroll position.
  void RefreshTriggerBank();
  void SaveTriggerName(int row);

  // A status reply wrote a page's states: the next tick redraws if that page is shown.
  void OnTriggerStatesUpdated(int page);
  // The end of a tick: the redraw a status reply asked for, if any.
  void RedrawIfRequested();
  // An event report wrote states: a shown page's check boxes follow at once.
  void OnTriggersReported(std::span<const TriggerUpdate> updates);

  void VirtualDevice_ComboBox_Click();
  void Trigger_VScrollBar_Change();
  void Trigger_VScrollBar_Scroll() { Trigger_VScrollBar_Change(); }
  void Trigger_VScrollBar_GotFocus();
  // The box's new state taken into the shown page's states; the switch for the line (none while
  // the bank redraws itself).
  std::optional<TriggerSwitch> Trigger_CheckBox_Click(int row);
  void TriggerLabel_DblClick(int row);
  void TriggerNameText_Change(int row);
  // The rename taken, if the name changed: for the record of whoever typed it.
  std::optional<TriggerRename> TriggerNameText_Validate(int row) { return CommitName(row); }
  std::optional<TriggerRename> TriggerNameText_LostFocus(int row) { return CommitName(row); }
  // Whether the row's name editor holds typed text not yet taken.
  bool NameEdited(int row) const { return TriggerNameEdited[static_cast<std::size_t>(row)]; }
  // Closes the row's name editor without taking what was typed.
  void DiscardName(int row);
  void Transmission_CommandButton_Click() { TriggerUiEnabled = true; }

  std::int16_t page() const { return TriggerBankPage; }
  // Shows a page without the page list (the BGM page is never listed); redraw to see it.
  void set_page(std::int16_t page) { TriggerBankPage = page; }
  std::int16_t scroll_offset() const { return TriggerScrollOffset; }
  bool ui_enabled() const { return TriggerUiEnabled; }
  void set_ui_enabled(bool enabled) { TriggerUiEnabled = enabled; }
  // Off: a renamed trigger is only said (renamed()), its name stored by whoever listens (a
  // window attached to the service, whose INI it is).
  void set_store_names(bool store) { store_names_ = store; }
  // A name changed by the operator: page, trigger number, old name, new name.
  Signal<int, int, const std::string&, const std::string&>& renamed() { return renamed_; }

 private:
  const TriggerPage& Page() const;
  int TriggerNumber(int row) const { return TriggerScrollOffset + row + 1; }
  std::optional<TriggerRename> CommitName(int row);
  // Sets the twelve check boxes from the shown page's states, without them counting as clicks.
  void ShowTriggerStates();
  void ClearEditedMarks();

  TriggerBankModel model_;
  TriggerBankControls c_;

  std::int16_t TriggerBankPage = 0;
  std::int16_t TriggerScrollOffset = 0;
  bool TriggerUiEnabled = false;
  bool RefreshTriggers = false;
  std::array<bool, kRows + 1> TriggerNameEdited{};
  bool store_names_ = true;
  Signal<int, int, const std::string&, const std::string&> renamed_;
};

}  // namespace orv
