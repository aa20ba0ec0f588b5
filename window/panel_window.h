#pragma once

#include <array>
#include <string>
#include <vector>

#include "access/operator_actions.h"
#include "platform/controls.h"
#include "window/events_log_view.h"

namespace orv {

inline constexpr const char* kWindowCaption = "Orvandel Program Ver 2.16.08";
inline constexpr const char* kProgramTitle = "Orvandel Program";

// The main window's controls where they were designed, and their looks that depend on nothing
// but what they are told: the window of the program that holds the line (MainForm) and a window
// attached to the service show the same window. No line, no settings, no records here.
class PanelWindow {
 public:
  PanelWindow();
  PanelWindow(const PanelWindow&) = delete;
  PanelWindow& operator=(const PanelWindow&) = delete;

  // The window's outer height once loaded: the events log's lower part stays below the edge.
  static constexpr int kOuterHeightAtLoad = 7600;

  // Every control, containers before what they contain (the view builds widgets in this order).
  const std::vector<Control*>& controls() const { return controls_; }
  Control* FindControl(const std::string& qualified_name) const;

  // The caption, and the lists' items as the start fills them: COM1..COM10, the baud rates, the
  // supervision times and the listed trigger pages.
  void FillLists();
  // The connected or disconnected look: the button's caption, the port list, the operator keys
  // and the trigger boxes.
  void ShowConnected(bool connected);
  void SetOperatorKeysEnabled(bool enabled);

  // The six operator keys, each with the action it is.
  struct OperatorKey {
    PushButton* button;
    Action action;
  };
  std::array<OperatorKey, 6> OperatorKeys();

  // ---- The window and its controls, by their designed names. ----
  Form MainFormWindow{"MainForm"};
  FocusTracker focus;

  ComboBox VirtualDevice_ComboBox{"VirtualDevice_ComboBox", ComboBox::Style::kEditable};
  PictureBox Trigger_PictureBox{"Trigger_PictureBox"};
  VScrollBar Trigger_VScrollBar{"Trigger_VScrollBar"};
  ControlArray<CheckBox> Trigger_CheckBox{"Trigger_CheckBox", 12};
  ControlArray<Label> TriggerLabel{"TriggerLabel", 12};
  ControlArray<TextBox> TriggerNameText{"TriggerNameText", 12};
  PushButton Transmission_CommandButton{"Transmission_CommandButton"};

  Label Label1{"Label1"};
  Line Line1{"Line1"};
  ControlArray<Shape> Shape1{"Shape1", 24};
  ControlArray<Label> Label2{"Label2", 12};
  ControlArray<Label> Label3{"Label3", 12};

  PushButton EMG_CB{"EMG_CB"};
  PushButton EMGMessage_CB{"EMGMessage_CB"};
  PushButton EMGAck_CB{"EMGAck_CB"};
  PushButton FaultAck_CB{"FaultAck_CB"};
  PushButton EMGReset_CB{"EMGReset_CB"};
  PushButton FaultReset_CB{"FaultReset_CB"};
  PushButton IMPC_CB{"IMPC_CB"};
  PushButton Clear_CommandButton{"Clear_CommandButton"};

  PushButton ConnectCB{"ConnectCB"};
  Frame RS232Setting_Frame{"RS232Setting_Frame"};
  Label ComPort_LB{"ComPort_LB"};
  ComboBox ComPort_CB{"ComPort_CB", ComboBox::Style::kDropDownList};
  Label BaudRate_LB{"BaudRate_LB"};
  ComboBox BaudRate_CB{"BaudRate_CB", ComboBox::Style::kDropDownList};
  Label RS232BitType_LB{"RS232BitType_LB"};
  CheckBox SupervisionCheck{"SupervisionCheck"};
  ComboBox Timer_CB{"Timer_CB", ComboBox::Style::kEditable};
  ControlArray<Image> imgRS232{"imgRS232", 2};

  Label EventsLogLabel{"EventsLogLabel"};
  TextBox EventsLogTextBox{"EventsLogTextBox", -1, true, EventsLogView::kLogBoxMaxLength};
  CheckBox NoDisplayCheck{"NoDisplayCheck"};
  TextBox Receiver_Text{"Receiver_Text"};
  Frame Frame1{"Frame1"};
  ControlArray<OptionButton> DisplayType_OptionButton{"DisplayType_OptionButton", 3};

 private:
  void LayOutControls();
  void Register(Control& control, Control* container = nullptr);
  template <typename T>
  void Register(ControlArray<T>& array, Control* container = nullptr) {
    for (int i = 0; i < array.size(); ++i)
      Register(array[i], container);
  }

  std::vector<Control*> controls_;
};

}  // namespace orv
