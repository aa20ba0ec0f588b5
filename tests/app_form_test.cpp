#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <set>
#include <sstream>

#include "app/command_line.h"
#include "events/event_log_file.h"
#include "link/frame.h"
#include "panel/operator_commands.h"
#include "tests/form_fixture.h"
#include "tests/test_util.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::FormTest;
using test::Hex;
using test::ReadBytes;
using Strings = std::vector<std::string>;
using Frames = std::vector<Bytes>;

TEST_F(FormTest, FirstStartFillsTheListsShowsTheDisconnectedLookAndWritesNoFile) {
  MainForm& f = Load();
  EXPECT_EQ(f.MainFormWindow.caption(), "Orvandel Program Ver 2.16.08");
  EXPECT_EQ(f.ComPort_CB.items(), (Strings{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
                                           "COM8", "COM9", "COM10"}));
  EXPECT_EQ(f.BaudRate_CB.items(),
            (Strings{"1200", "2400", "4800", "9600", "19200", "28800", "38400", "115200"}));
  EXPECT_EQ(f.Timer_CB.items(), (Strings{"10", "20", "30", "40", "50", "60", "70", "80", "90"}));
  EXPECT_EQ(f.VirtualDevice_ComboBox.items(),
            (Strings{"EMG Trigger 1-60", "Business Trigger 1-60", "Soft Trigger 1-120"}));
  EXPECT_EQ(f.ComPort_CB.text() + " " + f.BaudRate_CB.text() + " " + f.Timer_CB.text() + " " +
                f.VirtualDevice_ComboBox.text(),
            "COM1 9600 10 EMG Trigger 1-60");
  EXPECT_EQ(f.RS232BitType_LB.caption(), "None Parity , 8 Bits , 1 Stop");
  EXPECT_EQ(f.display().display_mode(), ReceivedDataDisplay::kChar);
  EXPECT_EQ(f.Trigger_VScrollBar.max(), 48);
  EXPECT_EQ(f.ConnectCB.caption(), "Connection");
  EXPECT_TRUE(f.ComPort_CB.enabled());
  for (const Control* c : std::initializer_list<const Control*>{
           &f.BaudRate_CB, &f.EMG_CB, &f.FaultReset_CB, &f.IMPC_CB, &f.Trigger_CheckBox[11]})
    EXPECT_FALSE(c->enabled()) << c->QualifiedName();
  EXPECT_TRUE(f.Transmission_CommandButton.enabled());
  for (int i = 0; i < 24; ++i)
    EXPECT_EQ(f.Shape1[i].fill_style(), Shape::kTransparent) << i;
  EXPECT_EQ(f.Trigger_CheckBox[11].caption(), "Real Trigger 12");
  EXPECT_EQ(f.TriggerLabel[11].caption(), "EMG Trigger 12");
  EXPECT_TRUE(fs::is_directory(program_folder_ / "SYSINI"));
  f.Form_Unload();
  EXPECT_FALSE(fs::exists(IniPath())) << "closing untouched writes nothing";
}

TEST_F(FormTest, InventoryHasEveryControlOnceTheDesignedHiddenOnesAndGeometry) {
  MainForm& f = Load();
  ASSERT_EQ(f.controls().size(), 117u);
  std::set<std::string> names, hidden;
  for (const Control* c : f.controls())
    (c->EffectivelyVisible() ? names : hidden).insert(c->QualifiedName());
  EXPECT_EQ(names.size() + hidden.size(), 117u) << "every name once";
  std::istringstream fixed(
      "Transmission_CommandButton IMPC_CB Clear_CommandButton RS232BitType_LB "
      "Frame1 imgRS232_0 imgRS232_1");
  std::set<std::string> expected{std::istream_iterator<std::string>(fixed), {}};
  for (int i = 0; i < 12; ++i) {
    expected.insert({"Label3_" + std::to_string(i), "Shape1_" + std::to_string(i + 12),
                     "TriggerNameText_" + std::to_string(i)});
    if (i < 3) expected.insert("DisplayType_OptionButton_" + std::to_string(i));
  }
  EXPECT_EQ(hidden, expected);
  for (const std::string row :  // name left top width height
       {"VirtualDevice_ComboBox 120 120 3255 360", "Trigger_CheckBox_11 120 4080 255 255",
        "TriggerNameText_0 360 120 2415 285", "Shape1_17 6120 600 255 135",
        "EMGMessage_CB 4920 3720 1215 615", "EventsLogTextBox 6240 480 6015 6525"}) {
    const Control* c = f.FindControl(row.substr(0, row.find(' ')));
    ASSERT_NE(c, nullptr) << row;
    EXPECT_EQ(c->QualifiedName() + " " + std::to_string(c->left()) + " " +
                  std::to_string(c->top()) + " " + std::to_string(c->width()) + " " +
                  std::to_string(c->height()),
              row);
  }
}

TEST_F(FormTest, StoredSettingsSelectTheirItemsAndReachTheLine) {
  fs::create_directories(program_folder_ / "SYSINI");
  test::WriteBytes(IniPath(),
                   "[RS232Configure]\r\nComPort=4\r\nBaudRate=115200\r\nCheckBit=even\r\n"
                   "BitLength=7\r\nStopBit=2\r\n");
  MainForm& f = Load();
  EXPECT_EQ(f.ComPort_CB.text(), "COM4");
  EXPECT_EQ(f.BaudRate_CB.text(), "115200");
  EXPECT_EQ(f.RS232BitType_LB.caption(), "even Parity , 7 Bits , 2 Stop");
  EXPECT_FALSE(f.serial_settings_changed());
  f.ConnectCB.PerformClick();
  EXPECT_EQ(port_.comm_port(), 4);
  EXPECT_EQ(port_.settings(), "115200,e,7,2");  // the parity word's first letter
}

TEST_F(FormTest, UnwritableProgramFolderShowsTheMessageAndStartUpCarriesOn) {
  // A plain file where the program folder should be stops every write, even root's.
  program_folder_ = temp_.path() / "not-a-folder";
  test::WriteBytes(program_folder_, "x");
  MainForm& f = Load();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, "System can not write any file.");
  EXPECT_TRUE(f.Transmission_CommandButton.enabled()) << "the steps after the message still ran";
}

TEST_F(FormTest, ConnectWithDefaultsOpensPortOneAndSendsSupervisionThenPolls) {
  MainForm& f = Load();
  port_.Open();  // bytes that came before the connect are thrown away
  port_.Deliver(EncodeFrame(6, Bytes{0x01, 0x00}));
  port_.Close();
  f.ConnectCB.PerformClick();
  EXPECT_EQ(port_.comm_port(), 1);
  EXPECT_EQ(port_.settings(), "9600,N,8,1");
  EXPECT_TRUE(port_.handshaking_none());
  EXPECT_EQ(port_.writes(), (Frames{Hex("02 01 10 0A 13 03"), Hex("02 01 11 00 A9 03")}));
  EXPECT_EQ(f.ConnectCB.caption(), "Disconnection");
  EXPECT_FALSE(f.ComPort_CB.enabled());
  EXPECT_TRUE(f.EMG_CB.enabled() && f.Trigger_CheckBox[11].enabled());
  Ticks(1);
  ASSERT_EQ(port_.writes().size(), 3u);
  EXPECT_EQ(port_.writes()[2], Hex("02 01 06 00 2B 03"));
  EXPECT_EQ(f.Shape1[0].fill_style(), Shape::kTransparent);
  EXPECT_FALSE(fs::exists(IniPath())) << "unchanged settings are not saved";
}

TEST_F(FormTest, FailedOpenShowsTheMessageAndStaysDisconnected) {
  port_.set_refuse_open(true, PortErrorKind::kBusy);
  MainForm& f = Load();
  std::vector<bool> states;
  const Connection watch =
      f.link().connection_changed().Connect([&](bool c) { states.push_back(c); });
  f.ComPort_CB.SetListIndex(4);  // a port change is not saved when the connect fails
  f.ConnectCB.PerformClick();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, "Com Port Fail!");
  // The message stays as it always was; the reason goes beside it.
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].text, "COM5 cannot be opened: device in use (fake device refused to open)");
  EXPECT_TRUE(states.empty()) << "never connected";
  EXPECT_EQ(messages_[0].caption, "Orvandel Program");
  EXPECT_EQ(messages_[0].icon, MessageIcon::kStop);
  EXPECT_EQ(f.ConnectCB.caption(), "Connection");
  EXPECT_FALSE(f.Trigger_CheckBox[0].enabled());
  Ticks(30);
  EXPECT_TRUE(port_.writes().empty());
  EXPECT_EQ(port_.rejected_writes(), 0);
  EXPECT_FALSE(fs::exists(IniPath()));
}

TEST_F(FormTest, UnusableStoredSettingsFallBackAndCountAsChangedConnectSavesThemOnce) {
  fs::create_directories(program_folder_ / "SYSINI");
  test::WriteBytes(IniPath(), "[RS232Configure]\r\nComPort=COM3\r\nBaudRate=14400\r\n");
  MainForm& f = Load();
  EXPECT_EQ(f.ComPort_CB.text(), "COM1");
  EXPECT_EQ(f.BaudRate_CB.text(), "9600");
  EXPECT_TRUE(f.serial_settings_changed());
  f.ComPort_CB.SetListIndex(2);
  f.ConnectCB.PerformClick();
  EXPECT_EQ(port_.comm_port(), 3);
  EXPECT_EQ(ReadBytes(IniPath()),
            "[RS232Configure]\r\nComPort=3\r\nBaudRate=9600\r\nCheckBit=None\r\nBitLength=8\r\n"
            "StopBit=1\r\n");
  fs::remove(IniPath());
  f.Form_Unload();
  EXPECT_FALSE(fs::exists(IniPath())) << "closing must not save again";
}

// Status replies of the shown page ask for one redraw, which the tick runs after its poll.
TEST_F(FormTest, StatusRepliesRedrawTheBankOnceATickAfterThePoll) {
  MainForm& f = Load();
  ConnectAndClear();
  std::vector<std::size_t> writes_at_redraw;
  f.TriggerLabel[0].SetObserver([&](Control& label) {
    if (label.caption() == "EMG Trigger 1") writes_at_redraw.push_back(port_.writes().size());
  });
  for (int tick = 1; tick <= 13; ++tick) {  // polls on ticks 1 and 12
    f.TriggerLabel[0].SetCaption("marker");
    if (tick == 1 || tick == 12 || tick == 13) {
      for (int i = 0; i < 3; ++i)
        port_.Deliver(EncodeFrame(8, Bytes(10, 0)));
    }
    if (tick == 13) port_.Deliver(EncodeFrame(9, Bytes(10, 0)));  // another page: no redraw
    Ticks(1);
  }
  EXPECT_EQ(writes_at_redraw, (std::vector<std::size_t>{1, 2, 2}));
  f.TriggerLabel[0].SetObserver(nullptr);
}

TEST_F(FormTest, DisconnectDarkensSystemLampsOnlyStopsPollingAndReconnectKeepsTheRotation) {
  MainForm& f = Load();
  std::vector<bool> states;
  const Connection watch =
      f.link().connection_changed().Connect([&](bool c) { states.push_back(c); });
  ConnectAndClear();
  port_.Deliver(EncodeFrame(6, Bytes{0xFF, 0x0F}));
  Ticks(23);                                 // slots at ticks 1, 12, 23: 6, 8, 9
  f.Shape1[12].SetFillStyle(Shape::kSolid);  // zone lamps are left as they are
  port_.set_open_state(false);  // a port already reporting closed only stops the polling
  f.ConnectCB.PerformClick();
  EXPECT_EQ(f.link().scheduler().poll_step(), 0);
  EXPECT_EQ(f.ConnectCB.caption(), "Disconnection");
  EXPECT_EQ(f.Shape1[11].fill_style(), Shape::kSolid);
  port_.set_open_state(true);
  f.ConnectCB.PerformClick();
  for (int i = 0; i < 12; ++i)
    EXPECT_EQ(f.Shape1[i].fill_style(), Shape::kTransparent) << i;
  EXPECT_EQ(f.Shape1[12].fill_style(), Shape::kSolid);
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_EQ(f.ConnectCB.caption(), "Connection");
  EXPECT_TRUE(f.ComPort_CB.enabled());
  EXPECT_FALSE(f.BaudRate_CB.enabled() || f.EMG_CB.enabled());
  Ticks(50);
  EXPECT_EQ(port_.writes().size(), 3u) << "the three polls before, none since";
  ConnectAndClear();
  Ticks(33);  // the slot delay carries over too: the first poll comes 11 ticks later
  std::vector<int> commands;
  for (const Bytes& w : port_.writes())
    commands.push_back(w[2]);
  EXPECT_EQ(commands, (std::vector<int>{6, 8, 7})) << "restarts at 6, the rotation goes on";
  EXPECT_EQ(states, (std::vector<bool>{true, false, true})) << "each change said once";
}

TEST_F(FormTest, EveryOperatorKeyWritesExactlyItsFrameAndClearAllTriggerNone) {
  MainForm& f = Load();
  ConnectAndClear();
  const auto step = f.link().scheduler().poll_step();
  const std::pair<const char*, const char*> keys[] = {
      {"EMG_CB", "02 01 16 01 99 03"},        {"EMGAck_CB", "02 01 16 02 7B 03"},
      {"EMGReset_CB", "02 01 16 03 25 03"},   {"FaultAck_CB", "02 01 16 04 A6 03"},
      {"FaultReset_CB", "02 01 16 05 F8 03"}, {"EMGMessage_CB", "02 01 16 06 1A 03"},
      {"IMPC_CB", "02 00 18 6A 03"},          {"Clear_CommandButton", "02 00 07 B6 03"}};
  for (const auto& [name, frame] : keys) {
    auto* button = dynamic_cast<PushButton*>(f.FindControl(name));
    ASSERT_NE(button, nullptr) << name;
    button->PerformClick();
    EXPECT_EQ(port_.writes(), Frames{Hex(frame)}) << name;
    port_.ClearWrites();
  }
  EXPECT_EQ(f.link().scheduler().poll_step(), step) << "no poll state is touched";
  f.trigger_bank().set_ui_enabled(false);
  f.Transmission_CommandButton.PerformClick();  // "Clear All Trigger" only re-enables the bank
  EXPECT_TRUE(f.trigger_bank().ui_enabled());
  EXPECT_TRUE(port_.writes().empty());
}

TEST_F(FormTest, TheSixPanelKeysAreEnabledExactlyWhileConnected) {
  MainForm& f = Load();
  const PushButton* const keys[] = {&f.EMG_CB,      &f.EMGMessage_CB, &f.EMGAck_CB,
                                    &f.FaultAck_CB, &f.EMGReset_CB,   &f.FaultReset_CB};
  const auto expect_keys = [&](bool enabled, const char* when) {
    for (const PushButton* key : keys)
      EXPECT_EQ(key->enabled(), enabled) << key->QualifiedName() << " " << when;
  };
  expect_keys(false, "before the first connect");
  f.ConnectCB.PerformClick();
  ASSERT_TRUE(port_.IsOpen());
  expect_keys(true, "while connected");
  f.ConnectCB.PerformClick();
  ASSERT_FALSE(port_.IsOpen());
  expect_keys(false, "after the disconnect");
}

TEST_F(FormTest, SupervisionClickedWhileDisconnectedGoesOutAtConnectThenAsItIsClicked) {
  MainForm& f = Load();
  f.Clear_CommandButton.PerformClick();  // "Test" while disconnected: nothing either
  f.Timer_CB.SetText("40");
  f.SupervisionCheck.SetValue(1);
  EXPECT_TRUE(port_.writes().empty());
  EXPECT_EQ(port_.rejected_writes(), 0);
  f.ConnectCB.PerformClick();
  EXPECT_EQ(port_.writes(), (Frames{Hex("02 01 10 28 8C 03"), Hex("02 01 11 01 F7 03")}));
  port_.ClearWrites();
  f.SupervisionCheck.SetValue(0);
  f.Timer_CB.SetListIndex(2);  // "30"
  f.SupervisionCheck.SetValue(1);
  EXPECT_FALSE(f.Timer_CB.enabled());
  f.SupervisionCheck.SetValue(0);
  EXPECT_TRUE(f.Timer_CB.enabled());
  f.commands().SupervisionTimeSetting(90);  // 10 went out at the connect
  EXPECT_EQ(port_.writes(),
            (Frames{Hex("02 01 10 28 8C 03"), Hex("02 01 11 00 A9 03"), Hex("02 01 10 1E EF 03"),
                    Hex("02 01 11 01 F7 03"), Hex("02 01 10 1E EF 03"), Hex("02 01 11 00 A9 03"),
                    Hex("02 01 10 5A C8 03")}));
}

TEST(SupervisionTimeByte, LeadingNumberRoundedHalfToEvenAndHeldToAByte) {
  const std::pair<const char*, int> cases[] = {
      {"25", 25}, {"12.5", 12},   {"13.5", 14},  {"abc", 0},
      {"", 0},    {"300", 255},   {"  40s", 40}, {"-7", 0},
      {"0.5", 0}, {"254.6", 255}, {".", 0},      {"99999999999999999999", 255}};
  for (const auto& [text, byte] : cases)
    EXPECT_EQ(SupervisionTimeByte(text), byte) << '"' << text << '"';
}

// The twelve system fault lamps in lamp order, written out here rather than taken from the code:
// the caption beside the lamp, the fault image reply's two data bytes that set only its bit, and
// the panel status report's two data bytes (high, low) that do.
struct FaultLamp {
  const char* caption;
  const char* image;
  const char* status;
};
const FaultLamp kFaultLamps[12] = {
    {"Processor reset", "01 00", "40 00"},
    {"Network", "02 00", "10 00"},
    {"Call/EMG", "04 00", "00 04"},
    {"Music/Spare", "08 00", "00 08"},
    {"Ground Short", "10 00", "00 10"},
    {"Input", "20 00", "20 00"},
    {"Mains", "40 00", "00 02"},
    {"Battery", "80 00", "00 01"},
    {"Message", "00 01", "01 00"},
    {"EMG mic.", "00 02", "02 00"},
    {"RCP", "00 04", "04 00"},
    {"Router", "00 08", "08 00"},
};

TEST_F(FormTest, EachFaultBitAloneLightsOnlyItsOwnLampBesideItsCaption) {
  MainForm& f = Load();
  port_.Open();
  for (int lamp = 0; lamp < 12; ++lamp) {
    const FaultLamp& row = kFaultLamps[lamp];
    std::string expected(24, '0');  // the zone lamps 12..23 stay dark
    expected[static_cast<std::size_t>(lamp)] = '1';
    const std::pair<const char*, Bytes> messages[] = {
        {"fault image", EncodeFrame(6, Hex(row.image))},
        {"panel status", EncodeFrame(0xA0, Hex(std::string("50 ") + row.status))}};
    for (const auto& [message, frame] : messages) {
      port_.Deliver(frame);
      Ticks(1);
      std::string lit;
      for (int i = 0; i < 24; ++i)
        lit += f.Shape1[i].fill_style() == Shape::kSolid ? '1' : '0';
      EXPECT_EQ(lit, expected) << message << " " << row.caption;
      for (int i = 0; i < 12; ++i) {
        if (lit[static_cast<std::size_t>(i)] == '1') {
          EXPECT_EQ(f.Label2[i].caption(), row.caption) << message << ", caption of lamp " << i;
        }
      }
    }
  }
}

const std::string kHead = "12/04 05:21 Event = ";

std::string TopLine(const MainForm& f) {
  const std::string& text = f.EventsLogTextBox.text();
  return text.substr(0, text.find("\r\n"));
}

// Queues an event report ("32 00 41": code, data high, data low) for the next tick.
void Report(FakeSerialPort& port, const std::string& payload) {
  port.Deliver(EncodeFrame(0xA0, Hex(payload)));
}

TEST(EventLogFile, RecordsEndLfCrLfInOrderAndAnUnwritableFileOrFolderIsSkipped) {
  test::TempFolder temp;
  EventLogFile log(temp.path());
  EXPECT_TRUE(log.AppendEventLogLine("12/04 05:21 Event = EMG Ack"));
  EXPECT_TRUE(log.AppendEventLogLine("second"));
  EXPECT_EQ(ReadBytes(temp.path() / "DATA" / "EventLog.txt"),
            std::string("12/04 05:21 Event = EMG Ack\x0A\x0D\x0A") + "second\x0A\x0D\x0A");
  fs::remove(log.LogFile());
  fs::create_directory(log.LogFile());  // stops the write, also for root
  EXPECT_FALSE(log.AppendEventLogLine("skipped"));
  fs::remove_all(log.DataFolder());  // the next record gets through, the folder made again
  EXPECT_TRUE(log.AppendEventLogLine("after"));
  EXPECT_EQ(ReadBytes(log.LogFile()), "after\n\r\n");
  test::WriteBytes(temp.path() / "DATA" / "TestFile.txt", std::string(300, 'z'));
  EXPECT_TRUE(log.CheckDataFolderWritable());
  EXPECT_EQ(ReadBytes(log.TestFile()), " This is a test file. \n\r\n");  // 25 bytes
  fs::remove_all(log.DataFolder());
  test::WriteBytes(log.DataFolder(), "not a folder");
  EXPECT_FALSE(log.CheckDataFolderWritable());
  EXPECT_FALSE(log.AppendEventLogLine("lost"));
  EXPECT_EQ(ReadBytes(log.DataFolder()), "not a folder");
}

TEST_F(FormTest, EveryEventGivesItsLineOnTopOfTheBoxAndAtTheEndOfTheLog) {
  MainForm& f = Load();
  f.ConnectCB.PerformClick();
  port_.Deliver(Hex("02 03 A0 12 00 00 47 03"));  // the whole road of one report
  Ticks(1);
  EXPECT_EQ(f.EventsLogTextBox.text(), "12/04 05:21 Event = EMG Ack\r\n");
  std::string log = "12/04 05:21 Event = EMG Ack\n\r\n";
  // Each row: the report's payload, then the line after the head.
  for (const std::string row :
       {"11 00 00 EMG", "12 00 00 EMG Ack", "13 00 00 EMG Reset", "14 00 00 ALERT",
        "15 00 00 ALARM", "16 00 00 EMG PTT", "21 01 05 Fault 0000000100000101",
        "21 F0 00 Fault 1111000000000000", "22 00 00 Fault Ack", "23 00 00 Fault Reset",
        "32 00 41 TRG R2 000001000001", "30 F0 00 TRG M0 000000000000",
        "60 00 3F TRG M0 000000111111", "40 00 03 BGM M0 000011", "49 FF C0 BGM R9 000000",
        "6A 00 01 TRG R10 000000000001", "7F 0F FF TRG R31 111111111111", "9F 00 01 BGM R31 000001",
        "18 00 00 "}) {
    Report(port_, row.substr(0, 8));
    Ticks(1);
    EXPECT_EQ(TopLine(f), kHead + row.substr(9)) << row;
    log += kHead + row.substr(9) + "\n\r\n";
  }
  EXPECT_EQ(ReadBytes(LogPath()), log);
  EXPECT_EQ(FormatBits(0x1FFFF, 20), "1111111111111111") << "held to sixteen bits";
}

TEST_F(FormTest, EachUnitCodeRangeRunsFromItsFirstToItsLastCodeAndNoFurther) {
  MainForm& f = Load();
  port_.Open();
  // Code, then the line after the head, for the word 0A 5A. 0x50 (just past 0x4F) is the panel
  // status report, which never reaches the events log; 0x51 is the next code that does.
  const std::pair<const char*, const char*> cases[] = {
      {"2F", ""},
      {"30", "TRG M0 101001011010"},
      {"3F", "TRG R15 101001011010"},
      {"40", "BGM M0 011010"},
      {"4F", "BGM R15 011010"},
      {"51", ""},
      {"5F", ""},
      {"60", "TRG M0 101001011010"},
      {"7F", "TRG R31 101001011010"},
      {"80", "BGM M0 011010"},
      {"9F", "BGM R31 011010"},
      {"A0", ""},
  };
  std::string box, log;
  for (const auto& [code, text] : cases) {
    Report(port_, std::string(code) + " 0A 5A");
    box = kHead + text + "\r\n" + box;  // newest first
    log += kHead + text + "\n\r\n";
  }
  Ticks(1);
  EXPECT_EQ(f.EventsLogTextBox.text(), box);
  EXPECT_EQ(ReadBytes(LogPath()), log);
}

TEST_F(FormTest, TriggerReportsOnlySetBgmReportsRewriteAndUnitsBeyondTheTablesWriteNothing) {
  MainForm& f = Load();
  ConnectAndClear();
  TriggerStates& s = f.link().trigger_states();
  // After the first, bits 0..5 only: the business table stays; set entries stay set; bits 12..15
  // reach no table; BGM rewrites its unit; units beyond the tables write nothing.
  for (const char* r : {"32 00 41", "32 00 3F", "32 00 01", "30 F0 00", "41 00 3F", "41 00 03",
                        "3A 0F FF", "6A 0F FF", "7F 0F FF", "4A 0F FF", "9F 0F FF"})
    Report(port_, r);
  Ticks(1);
  for (int n = 1; n <= 60; ++n) {
    EXPECT_EQ(s.EmgTriggerState.Get(n), int{n >= 13 && n <= 18}) << n;
    EXPECT_EQ(s.BusTriggerState.Get(n), int{n == 13}) << n;
    EXPECT_EQ(s.BgmState.Get(n), int{n == 7 || n == 8}) << n;
  }
  for (int r = 0; r < 12; ++r)
    EXPECT_EQ(f.Trigger_CheckBox[r].value(), 0) << r;
  f.TriggerLabel[0].SetCaption("marker");
  port_.Deliver(EncodeFrame(8, Bytes(10, 0)));  // asks for a redraw
  Report(port_, "40 00 3F");                    // BGM while page 0 is shown: no refresh
  Ticks(1);
  EXPECT_EQ(f.Trigger_CheckBox[0].value(), 0);
  EXPECT_EQ(f.TriggerLabel[0].caption(), "EMG Trigger 1") << "the reply's redraw still ran";
  f.TriggerLabel[0].SetCaption("marker");
  port_.Deliver(EncodeFrame(8, Bytes(10, 0)));
  Report(port_, "30 00 02");  // the shown page: refreshed now, the tick's redraw cancelled
  Ticks(1);
  EXPECT_EQ(f.Trigger_CheckBox[1].value(), 1);
  EXPECT_EQ(f.TriggerLabel[0].caption(), "marker");
  EXPECT_FALSE(f.trigger_bank().refresh_requested());
  EXPECT_EQ(port_.writes().size(), 1u) << "only the poll; the refresh sent nothing";
}

TEST_F(FormTest, LogBoxKeepsAThousandCharactersNewestFirstAndTheFileGetsEveryRecord) {
  MainForm& f = Load();
  port_.Open();
  for (int i = 0; i < 40; ++i)
    Report(port_, "14 00 00");
  Report(port_, "15 00 00");
  Ticks(1);
  const std::string box = f.EventsLogTextBox.text();
  EXPECT_EQ(box.size(), 1000u);
  EXPECT_EQ(TopLine(f), kHead + "ALARM");
  EXPECT_EQ(f.EventsLogTextBox.sel_start(), 0);
  std::string log = ReadBytes(LogPath());
  EXPECT_EQ(log.size(), 41 * (kHead.size() + 8)) << "all 41 records";
  EXPECT_EQ(log.substr(log.size() - 8), "ALARM\n\r\n");
  for (const int value : {1, 2}) {  // "Without Display" ticked or grayed: logged, not shown
    f.NoDisplayCheck.SetValue(value);
    Report(port_, "41 00 01");
    Ticks(1);
    log += kHead + "BGM R1 000001\n\r\n";
  }
  EXPECT_EQ(f.EventsLogTextBox.text(), box);
  EXPECT_EQ(ReadBytes(LogPath()), log);
  f.NoDisplayCheck.SetValue(0);
  fs::remove(LogPath());
  fs::create_directories(LogPath());  // a folder where the file must be
  ASSERT_TRUE(notices_.empty());
  Report(port_, "30 00 01");
  Report(port_, "30 00 02");
  Ticks(1);
  EXPECT_EQ(f.link().trigger_states().EmgTriggerState.Get(1), 1);
  EXPECT_EQ(TopLine(f), kHead + "TRG M0 000000000010");
  // One notice when the log starts failing, naming the file and the system's reason.
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].level, NoticeLevel::kError);
  EXPECT_NE(notices_[0].text.find(LogPath().string()), std::string::npos) << notices_[0].text;
  EXPECT_NE(notices_[0].text.find("directory"), std::string::npos) << notices_[0].text;
  fs::remove(LogPath());
  Report(port_, "12 00 00");
  Ticks(1);
  // The records that waited come first, in order, then the new one.
  EXPECT_EQ(ReadBytes(LogPath()), kHead + "TRG M0 000000000001\n\r\n" + kHead +
                                      "TRG M0 000000000010\n\r\n" + kHead + "EMG Ack\n\r\n")
      << "writing resumes by itself";
  ASSERT_EQ(notices_.size(), 2u);
  EXPECT_EQ(notices_[1].level, NoticeLevel::kInfo);
  EXPECT_NE(notices_[1].text.find("is written again: 3 waiting event(s) written."),
            std::string::npos)
      << notices_[1].text;
}

TEST(ProgramOptions, SiteSettingsHelpAndOneLineReasonsForWhatIsNotUnderstood) {
  struct Case {
    std::vector<std::string> args;
    std::string error;
    std::string site;
    bool help;
  };
  const Case cases[] = {
      {{}, "", "", false},
      {{"--site-settings", "/srv/site.ini"}, "", "/srv/site.ini", false},
      {{"-h"}, "", "", true},
      {{"--help", "--site-settings", "a"}, "", "a", true},
      {{"--site-settings"}, "--site-settings needs a file", "", false},
      {{"--site-settings", ""}, "--site-settings needs a file", "", false},
      {{"--connect"}, "unknown option \"--connect\" (see --help)", "", false},
      {{"COM1"}, "unknown option \"COM1\" (see --help)", "", false},
  };
  for (const Case& c : cases) {
    const ParsedOptions parsed = ParseProgramOptions(c.args);
    EXPECT_EQ(parsed.error, c.error) << testing::PrintToString(c.args);
    if (!c.error.empty()) continue;
    EXPECT_EQ(parsed.options.site_settings.value_or("").string(), c.site);
    EXPECT_EQ(parsed.options.help, c.help);
  }
  EXPECT_NE(ProgramUsage().find("--site-settings FILE"), std::string::npos);
}

}  // namespace
}  // namespace orv
