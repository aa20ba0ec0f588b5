// The window's controls where they were designed: positions and sizes in twips, captions and
// colours, as the window was designed.
#include "access/operator_actions.h"
#include "link/fault_lamps.h"
#include "window/panel_window.h"

namespace orv {
namespace {

constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kPink{255, 128, 128};
constexpr Rgb kYellow{255, 255, 128};
constexpr Rgb kGreen{128, 255, 128};
constexpr Rgb kCyan{128, 255, 255};

constexpr int kClientWidth = 12270;
constexpr int kClientHeight = 8970;

const char* const kZoneCaptions[12] = {"Zone1 A", "Zone1 B", "Zone2 A", "Zone2 B",
                                       "Zone3 A", "Zone3 B", "Zone4 A", "Zone4 B",
                                       "Zone5 A", "Zone5 B", "Zone6 A", "Zone6 B"};

// Rows of the fault lamps and of the zone lamps.
int LampTop(int i) {
  return i < 6 ? 600 + 240 * i : 2160 + 240 * (i - 6);
}
int ZoneTop(int k) {
  return k < 6 ? 600 + 240 * k : 2280 + 240 * (k - 6);
}
int ZoneLampOfRow(int k) {
  return k < 6 ? 17 - k : 29 - k;
}
int RowTop(int r) {
  return 120 + 360 * r;
}

}  // namespace

void PanelWindow::LayOutControls() {
  MainFormWindow.SetBounds(0, 0, kClientWidth, kClientHeight);

  // Trigger bank.
  Register(VirtualDevice_ComboBox);
  VirtualDevice_ComboBox.SetBounds(120, 120, 3255, 360);
  VirtualDevice_ComboBox.SetText("Combo1");
  VirtualDevice_ComboBox.SetAccessibleName("Trigger page");
  Register(Trigger_PictureBox);
  Trigger_PictureBox.SetBounds(120, 600, 3255, 4575);
  Trigger_PictureBox.SetAccessibleName("Trigger bank");
  Register(Trigger_VScrollBar, &Trigger_PictureBox);
  Trigger_VScrollBar.SetBounds(2820, 0, 375, 4530);
  Trigger_VScrollBar.SetLargeChange(12);
  Trigger_VScrollBar.SetAccessibleName("Trigger rows");
  for (int r = 0; r < 12; ++r) {
    Register(Trigger_CheckBox[r], &Trigger_PictureBox);
    Trigger_CheckBox[r].SetBounds(120, RowTop(r), 255, 255);
    Trigger_CheckBox[r].SetCaption("Real Trigger " + std::to_string(r + 1));
    Trigger_CheckBox[r].SetEnabled(false);
    Register(TriggerLabel[r], &Trigger_PictureBox);
    TriggerLabel[r].SetBounds(405, RowTop(r), 2295, 255);
    TriggerLabel[r].SetCaption("EMG Trigger " + std::to_string(r + 1));
    Register(TriggerNameText[r], &Trigger_PictureBox);
    TriggerNameText[r].SetBounds(1440, RowTop(r), 2415, 285);
    TriggerNameText[r].SetText("Text1");
    TriggerNameText[r].SetAccessibleName("Trigger name " + std::to_string(r + 1));
  }
  Register(Transmission_CommandButton);
  Transmission_CommandButton.SetBounds(1440, 8400, 2895, 495);
  Transmission_CommandButton.SetCaption("Clear All Trigger");
  Transmission_CommandButton.SetVisible(false);

  // Fault indicators; the zone lamps and their captions are designed hidden.
  Register(Label1);
  Label1.SetBounds(3720, 120, 2055, 255);
  Label1.SetCaption("Fault Indicators");
  Register(Line1);
  Line1.SetEnds(3600, 480, 6000, 480);
  for (int i = 0; i < 12; ++i) {
    Register(Shape1[i]);
    Shape1[i].SetBounds(3720, LampTop(i), 255, 135);
    Shape1[i].SetFillColor(kRed);
    Shape1[i].SetAccessibleName(std::string("Fault lamp ") +
                                kFaultLampCaptions[static_cast<std::size_t>(i)]);
    Register(Label2[i]);
    Label2[i].SetBounds(4200, LampTop(i), i % 2 == 0 ? 1695 : 1455, 255);
    Label2[i].SetCaption(kFaultLampCaptions[static_cast<std::size_t>(i)]);
  }
  for (int k = 0; k < 12; ++k) {
    Shape& zone = Shape1[ZoneLampOfRow(k)];
    Register(zone);
    zone.SetBounds(6120, ZoneTop(k), 255, 135);
    zone.SetFillColor(kBlack);
    zone.SetVisible(false);
    zone.SetAccessibleName(std::string("Zone lamp ") + kZoneCaptions[k]);
    Register(Label3[k]);
    Label3[k].SetBounds(6600, ZoneTop(k), 975, 255);
    Label3[k].SetCaption(kZoneCaptions[k]);
    Label3[k].SetVisible(false);
  }

  // Operator keys.
  struct Key {
    PushButton& button;
    std::string_view caption;
    Rgb color;
    int left, top, width, height;
  };
  // The keys are captioned with their actions' names.
  const Key keys[] = {
      {EMG_CB, ActionName(Action::kEmg), kPink, 3480, 3720, 1215, 615},
      {EMGMessage_CB, ActionName(Action::kEmgMessage), kPink, 4920, 3720, 1215, 615},
      {EMGAck_CB, ActionName(Action::kEmgAck), kYellow, 3480, 4440, 1215, 615},
      {FaultAck_CB, ActionName(Action::kFaultAck), kYellow, 4920, 4440, 1215, 615},
      {EMGReset_CB, ActionName(Action::kEmgReset), kGreen, 3480, 5160, 1215, 615},
      {FaultReset_CB, ActionName(Action::kFaultReset), kGreen, 4920, 5160, 1215, 615},
      {IMPC_CB, ActionName(Action::kImpedanceCheck), kCyan, 4680, 7320, 975, 615},
  };
  for (const Key& key : keys) {
    Register(key.button);
    key.button.SetBounds(key.left, key.top, key.width, key.height);
    key.button.SetCaption(std::string(key.caption));
    key.button.SetBackColor(key.color);
  }
  IMPC_CB.SetVisible(false);
  Register(Clear_CommandButton);
  Clear_CommandButton.SetBounds(120, 8280, 1215, 615);
  Clear_CommandButton.SetCaption("Test");
  Clear_CommandButton.SetVisible(false);

  // Connection and serial settings.
  Register(ConnectCB);
  ConnectCB.SetBounds(3480, 6000, 2655, 975);
  ConnectCB.SetCaption("Connection");
  Register(RS232Setting_Frame);
  RS232Setting_Frame.SetBounds(120, 5280, 3255, 1750);
  RS232Setting_Frame.SetCaption("RS232 Configuration");
  Register(ComPort_LB, &RS232Setting_Frame);
  ComPort_LB.SetBounds(120, 360, 1095, 255);
  ComPort_LB.SetCaption("Com  Port");
  Register(ComPort_CB, &RS232Setting_Frame);
  ComPort_CB.SetBounds(1440, 360, 1575, 360);
  ComPort_CB.SetAccessibleName("Com Port");
  Register(BaudRate_LB, &RS232Setting_Frame);
  BaudRate_LB.SetBounds(120, 870, 1095, 255);
  BaudRate_LB.SetCaption("Baud Rate");
  Register(BaudRate_CB, &RS232Setting_Frame);
  BaudRate_CB.SetBounds(1440, 840, 1575, 360);
  BaudRate_CB.SetAccessibleName("Baud Rate");
  Register(RS232BitType_LB, &RS232Setting_Frame);
  RS232BitType_LB.SetBounds(2880, 1440, 255, 255);
  RS232BitType_LB.SetCaption("Bit Type");
  RS232BitType_LB.SetVisible(false);
  Register(SupervisionCheck, &RS232Setting_Frame);
  SupervisionCheck.SetBounds(240, 1320, 1695, 255);
  SupervisionCheck.SetCaption("Supervision");
  Register(Timer_CB, &RS232Setting_Frame);
  Timer_CB.SetBounds(2160, 1320, 855, 360);
  Timer_CB.SetText("10");
  Timer_CB.SetAccessibleName("Supervision time in seconds");
  for (int i = 0; i < 2; ++i) {
    Register(imgRS232[i]);
    imgRS232[i].SetBounds(10440, i == 0 ? 8520 : 8160, 465, 210);
    imgRS232[i].SetVisible(false);
  }

  // Events log and received data.
  Register(EventsLogLabel);
  EventsLogLabel.SetBounds(6240, 120, 1935, 375);
  EventsLogLabel.SetCaption("Events Log");
  Register(EventsLogTextBox);
  EventsLogTextBox.SetBounds(6240, 480, 6015, 6525);
  EventsLogTextBox.SetText("Received data");
  EventsLogTextBox.SetAccessibleName("Events Log");
  Register(NoDisplayCheck);
  NoDisplayCheck.SetBounds(8640, 120, 3015, 255);
  NoDisplayCheck.SetCaption(std::string(ActionName(Action::kWithoutDisplay)));
  Register(Receiver_Text);
  Receiver_Text.SetBounds(4440, 8400, 1215, 375);
  Receiver_Text.SetText("Text1");
  Receiver_Text.SetAccessibleName("Received data");
  Register(Frame1);
  Frame1.SetBounds(7680, 8160, 2655, 735);
  Frame1.SetCaption("Display Type");
  Frame1.SetVisible(false);
  const char* const option_captions[3] = {"Char", "Hex", "Dec"};
  const int option_left[3] = {120, 960, 1800};
  const int option_width[3] = {855, 855, 735};
  std::vector<OptionButton*> group;
  for (int i = 0; i < 3; ++i) {
    Register(DisplayType_OptionButton[i], &Frame1);
    DisplayType_OptionButton[i].SetBounds(option_left[i], 360, option_width[i], 255);
    DisplayType_OptionButton[i].SetCaption(option_captions[i]);
    group.push_back(&DisplayType_OptionButton[i]);
  }
  for (OptionButton* option : group)
    option->SetGroup(group);
}

}  // namespace orv
