#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "tests/form_fixture.h"

namespace orv {
namespace {

using test::FormTest;

std::vector<std::string> Items(int first, int last, const std::string& prefix) {
  std::vector<std::string> items;
  for (int i = first; i <= last; ++i)
    items.push_back(prefix + std::to_string(i));
  return items;
}

TEST_F(FormTest, StartUpFillsCaptionAndLists) {
  MainForm& f = Load();
  EXPECT_EQ(f.MainFormWindow.caption(), "Orvandel Program Ver 2.16.08");
  EXPECT_EQ(f.MainFormWindow.outer_height(), 7600);
  EXPECT_EQ(f.ComPort_CB.items(), Items(1, 10, "COM"));
  EXPECT_EQ(f.BaudRate_CB.items(), (std::vector<std::string>{"1200", "2400", "4800", "9600",
                                                             "19200", "28800", "38400", "115200"}));
  std::vector<std::string> times;
  for (int t = 10; t <= 90; t += 10)
    times.push_back(std::to_string(t));
  EXPECT_EQ(f.Timer_CB.items(), times);
  EXPECT_EQ(f.Timer_CB.text(), "10");
  EXPECT_EQ(f.VirtualDevice_ComboBox.items(),
            (std::vector<std::string>{"EMG Trigger 1-60", "Business Trigger 1-60",
                                      "Soft Trigger 1-120"}));
  EXPECT_EQ(f.VirtualDevice_ComboBox.text(), "EMG Trigger 1-60");
  EXPECT_EQ(f.ComPort_CB.text(), "COM1");
  EXPECT_EQ(f.BaudRate_CB.text(), "9600");
  EXPECT_EQ(f.RS232BitType_LB.caption(), "None Parity , 8 Bits , 1 Stop");
  EXPECT_EQ(f.EventsLogTextBox.text(), "");
  EXPECT_EQ(f.Receiver_Text.text(), "");
  EXPECT_EQ(f.display().display_mode(), ReceivedDataDisplay::kChar);
  EXPECT_TRUE(f.DisplayType_OptionButton[0].value());
  EXPECT_EQ(f.Trigger_VScrollBar.max(), 48);
  EXPECT_EQ(f.shared().TriggerBankPage, 0);
  EXPECT_TRUE(f.shared().TriggerUiEnabled);
  EXPECT_EQ(f.link().scheduler().poll_step(), 0) << "the first page selection is not a change";
  for (int r = 0; r < 12; ++r) {
    EXPECT_EQ(f.TriggerLabel[r].caption(), "EMG Trigger " + std::to_string(r + 1));
    EXPECT_EQ(f.TriggerNameText[r].text(), f.TriggerLabel[r].caption());
    EXPECT_FALSE(f.TriggerNameText[r].visible());
    EXPECT_EQ(f.TriggerNameText[r].left(), 360);
    EXPECT_EQ(f.Trigger_CheckBox[r].caption(), "Real Trigger " + std::to_string(r + 1));
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(FormTest, StartUpShowsTheDisconnectedLook) {
  MainForm& f = Load();
  EXPECT_EQ(f.ConnectCB.caption(), "Connection");
  EXPECT_TRUE(f.ComPort_CB.enabled());
  EXPECT_FALSE(f.BaudRate_CB.enabled());
  for (PushButton* key : {&f.EMG_CB, &f.EMGMessage_CB, &f.EMGAck_CB, &f.EMGReset_CB, &f.FaultAck_CB,
                          &f.FaultReset_CB, &f.IMPC_CB}) {
    EXPECT_FALSE(key->enabled()) << key->name();
  }
  for (int r = 0; r < 12; ++r)
    EXPECT_FALSE(f.Trigger_CheckBox[r].enabled());
  EXPECT_TRUE(f.Transmission_CommandButton.enabled());
  EXPECT_TRUE(f.Clear_CommandButton.enabled());
  EXPECT_TRUE(f.SupervisionCheck.enabled());
  EXPECT_TRUE(f.Timer_CB.enabled());
  for (int i = 0; i < 24; ++i)
    EXPECT_EQ(f.Shape1[i].fill_style(), Shape::kTransparent);
}

TEST_F(FormTest, HiddenControlsAreTheDesignedOnes) {
  MainForm& f = Load();
  std::vector<std::string> hidden;
  for (const Control* c : f.controls()) {
    if (!c->EffectivelyVisible()) hidden.push_back(c->QualifiedName());
  }
  std::vector<std::string> expected = {"Transmission_CommandButton",
                                       "IMPC_CB",
                                       "Clear_CommandButton",
                                       "RS232BitType_LB",
                                       "Frame1",
                                       "imgRS232_0",
                                       "imgRS232_1"};
  for (int i = 0; i < 3; ++i)
    expected.push_back("DisplayType_OptionButton_" + std::to_string(i));
  for (int i = 12; i < 24; ++i)
    expected.push_back("Shape1_" + std::to_string(i));
  for (int i = 0; i < 12; ++i)
    expected.push_back("Label3_" + std::to_string(i));
  for (int i = 0; i < 12; ++i)
    expected.push_back("TriggerNameText_" + std::to_string(i));
  std::sort(hidden.begin(), hidden.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(hidden, expected);
}

TEST_F(FormTest, InventoryHasEveryControlOnceWithDesignedGeometry) {
  MainForm& f = Load();
  EXPECT_EQ(f.controls().size(), 117u);
  std::set<std::string> names;
  for (const Control* c : f.controls()) {
    EXPECT_TRUE(names.insert(c->QualifiedName()).second) << c->QualifiedName();
  }
  struct Geometry {
    const char* name;
    int left, top, width, height;
  };
  const Geometry cases[] = {
      {"VirtualDevice_ComboBox", 120, 120, 3255, 360},
      {"Trigger_VScrollBar", 2820, 0, 375, 4530},
      {"Trigger_CheckBox_11", 120, 4080, 255, 255},
      {"TriggerLabel_3", 405, 1200, 2295, 255},
      {"Shape1_6", 3720, 2160, 255, 135},
      {"Label2_7", 4200, 2400, 1455, 255},
      {"Shape1_17", 6120, 600, 255, 135},
      {"Shape1_23", 6120, 2280, 255, 135},
      {"Label3_11", 6600, 3480, 975, 255},
      {"EMGMessage_CB", 4920, 3720, 1215, 615},
      {"ConnectCB", 3480, 6000, 2655, 975},
      {"ComPort_CB", 1440, 360, 1575, 360},
      {"EventsLogTextBox", 6240, 480, 6015, 6525},
      {"DisplayType_OptionButton_2", 1800, 360, 735, 255},
  };
  for (const Geometry& g : cases) {
    const Control* c = f.FindControl(g.name);
    ASSERT_NE(c, nullptr) << g.name;
    EXPECT_EQ(c->left(), g.left) << g.name;
    EXPECT_EQ(c->top(), g.top) << g.name;
    EXPECT_EQ(c->width(), g.width) << g.name;
    EXPECT_EQ(c->height(), g.height) << g.name;
  }
  EXPECT_EQ(f.FindControl("Trigger_CheckBox_0")->container(), &f.Trigger_PictureBox);
  EXPECT_EQ(f.FindControl("Timer_CB")->container(), &f.RS232Setting_Frame);
}

TEST_F(FormTest, FirstStartCreatesTheConfigFolderAndWritesNoFile) {
  Load();
  EXPECT_TRUE(std::filesystem::is_directory(program_folder_ / "SYSINI"));
  EXPECT_FALSE(std::filesystem::exists(IniPath()));
  EXPECT_FALSE(form().serial_settings_changed());
  form().Form_Unload();
  EXPECT_FALSE(std::filesystem::exists(IniPath())) << "closing untouched must write nothing";
  // The data folder test leaves its file.
  EXPECT_EQ(std::filesystem::file_size(program_folder_ / "DATA" / "TestFile.txt"), 25u);
}

TEST_F(FormTest, StoredSettingsSelectTheirListItems) {
  std::filesystem::create_directories(program_folder_ / "SYSINI");
  test::WriteBytes(IniPath(),
                   "[RS232Configure]\r\nComPort=4\r\nBaudRate=115200\r\nCheckBit=Even\r\n"
                   "BitLength=7\r\nStopBit=2\r\n");
  MainForm& f = Load();
  EXPECT_EQ(f.ComPort_CB.text(), "COM4");
  EXPECT_EQ(f.BaudRate_CB.text(), "115200");
  EXPECT_EQ(f.RS232BitType_LB.caption(), "Even Parity , 7 Bits , 2 Stop");
  EXPECT_FALSE(f.serial_settings_changed());
}

TEST_F(FormTest, UnusableStoredSettingsFallBackAndAreSavedAtClosing) {
  std::filesystem::create_directories(program_folder_ / "SYSINI");
  test::WriteBytes(IniPath(), "[RS232Configure]\r\nComPort=COM3\r\nBaudRate=14400\r\n");
  MainForm& f = Load();
  EXPECT_EQ(f.ComPort_CB.text(), "COM1");
  EXPECT_EQ(f.BaudRate_CB.text(), "9600");
  EXPECT_TRUE(f.serial_settings_changed());
  f.Form_Unload();
  const std::string ini = test::ReadBytes(IniPath());
  EXPECT_NE(ini.find("ComPort=1\r\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("BaudRate=9600\r\n"), std::string::npos) << ini;
}

TEST_F(FormTest, UnwritableProgramFolderShowsTheMessageAndStartUpCarriesOn) {
  // A plain file where the program folder should be: no folder can be made in it, not even by
  // root.
  program_folder_ = temp_.path() / "not-a-folder";
  test::WriteBytes(program_folder_, "x");
  MainForm& f = Load();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, "System can not write any file.");
  EXPECT_EQ(messages_[0].caption, "Orvandel Program");
  // The steps after the message still ran.
  EXPECT_TRUE(f.Transmission_CommandButton.enabled());
  EXPECT_EQ(f.ConnectCB.caption(), "Connection");
  EXPECT_FALSE(f.serial_settings_changed());
}

}  // namespace
}  // namespace orv
