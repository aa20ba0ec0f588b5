#include <gtest/gtest.h>

#include <filesystem>

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
using Frames = std::vector<Bytes>;

// The operator keys and the trigger boxes, enabled exactly while connected.
void ExpectKeysEnabled(MainForm& f, bool enabled) {
  for (const Control* c : std::initializer_list<const Control*>{
           &f.EMG_CB, &f.EMGMessage_CB, &f.EMGAck_CB, &f.FaultAck_CB, &f.EMGReset_CB,
           &f.FaultReset_CB, &f.IMPC_CB, &f.Trigger_CheckBox[0], &f.Trigger_CheckBox[11]})
    EXPECT_EQ(c->enabled(), enabled) << c->QualifiedName();
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

TEST_F(FormTest, FirstStartShowsTheDefaultsThenConnectsToPortOneAndSendsSupervisionThenPolls) {
  MainForm& f = Load();
  EXPECT_EQ(f.MainFormWindow.caption(), "Orvandel Program Ver 2.16.08");
  EXPECT_EQ(f.ComPort_CB.text() + " " + f.BaudRate_CB.text() + " " + f.Timer_CB.text() + " " +
                f.VirtualDevice_ComboBox.text(),
            "COM1 9600 10 EMG Trigger 1-60");
  EXPECT_EQ(f.RS232BitType_LB.caption(), "None Parity , 8 Bits , 1 Stop");
  EXPECT_EQ(f.display().display_mode(), ReceivedDataDisplay::kChar);
  EXPECT_EQ(f.ConnectCB.caption(), "Connection");
  EXPECT_TRUE(f.ComPort_CB.enabled() && f.Transmission_CommandButton.enabled());
  ExpectKeysEnabled(f, false);
  EXPECT_FALSE(f.BaudRate_CB.enabled());
  EXPECT_EQ(Lamps(), std::string(24, '0'));
  for (int i = 0; i < kSystemLamps; ++i)  // each lamp beside its own caption
    EXPECT_EQ(f.Label2[i].caption(), kFaultLampCaptions[static_cast<std::size_t>(i)]) << i;
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
  ExpectKeysEnabled(f, true);
  Ticks(1);
  ASSERT_EQ(port_.writes().size(), 3u);
  EXPECT_EQ(port_.writes()[2], Hex("02 01 06 00 2B 03"));
  EXPECT_EQ(f.Shape1[0].fill_style(), Shape::kTransparent);
  f.Form_Unload();
  EXPECT_FALSE(fs::exists(IniPath())) << "unchanged settings are saved neither now nor at closing";
}

TEST_F(FormTest, FailedOpenShowsTheMessageAndStaysDisconnected) {
  port_.set_refuse_open(true, PortErrorKind::kBusy);
  MainForm& f = Load();
  f.ComPort_CB.SetListIndex(4);  // a port change is not saved when the connect fails
  f.ConnectCB.PerformClick();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text + "|" + messages_[0].caption, "Com Port Fail!|Orvandel Program");
  EXPECT_EQ(messages_[0].icon, MessageIcon::kStop);
  // The message stays as it always was; the reason goes beside it.
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].text, "COM5 cannot be opened: device in use (fake device refused to open)");
  // Not marked connected: the disconnected look stays, and the link sends nothing (its test).
  EXPECT_FALSE(f.link().port_connected());
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
            "[RS232Configure]\r\nComPort=3\r\nBaudRate=9600\r\nCheckBit=None\r\n"
            "BitLength=8\r\nStopBit=1\r\n");
  fs::remove(IniPath());
  f.Form_Unload();
  EXPECT_FALSE(fs::exists(IniPath())) << "closing must not save again";
}

// (That a reconnect keeps the poll rotation and its delay is the link's test.)
TEST_F(FormTest, DisconnectDarkensSystemLampsOnlyAndStopsPolling) {
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
  EXPECT_EQ(Lamps(), "000000000000100000000000");
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_EQ(f.ConnectCB.caption(), "Connection");
  EXPECT_TRUE(f.ComPort_CB.enabled());
  ExpectKeysEnabled(f, false);
  Ticks(50);
  EXPECT_EQ(port_.writes().size(), 3u) << "the three polls before, none since";
  EXPECT_EQ(states, (std::vector<bool>{true, false})) << "each change said once";
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

TEST_F(FormTest, SupervisionClickedWhileDisconnectedGoesOutAtConnectThenAsItIsClicked) {
  MainForm& f = Load();
  f.Clear_CommandButton.PerformClick();  // "Test" while disconnected: nothing either
  f.Timer_CB.SetText("40");
  f.SupervisionCheck.SetValue(1);
  EXPECT_EQ(port_.rejected_writes(), 0) << "nothing even tried";
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

const std::string kHead = "12/04 05:21 Event = ";

// Queues an event report ("32 00 41": code, data high, data low) for the next tick.
void Report(FakeSerialPort& port, const std::string& payload) {
  port.Deliver(EncodeFrame(0xA0, Hex(payload)));
}

TEST(EventLogFile, ARecordEndsLfCrLfAndAnUnwritableFileOrFolderIsSkipped) {
  test::TempFolder temp;
  EventLogFile log(temp.path());
  fs::create_directories(
      log.LogFile());  // a folder in the file's place stops the write, even root's
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

// A report of the shown page ticks its boxes at once and cancels the redraw a status reply asked
// for; one of another page leaves the bank to that redraw. (What each report sets is the
// decoder's test.)
TEST_F(FormTest, AReportOfTheShownPageRefreshesTheBoxesAtOnceAndCancelsTheRedraw) {
  MainForm& f = Load();
  ConnectAndClear();
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

// (The box's thousand characters, newest on top, and the file's every record are the storm
// tests'.)
TEST_F(FormTest, TheLogBoxShowsTheNewestFromItsStartUnlessWithoutDisplayIsTickedOrGrayed) {
  MainForm& f = Load();
  port_.Open();
  f.EventsLogTextBox.SetText("older line");
  f.EventsLogTextBox.SetSelStart(5);
  Report(port_, "15 00 00");
  Ticks(1);
  EXPECT_EQ(f.EventsLogTextBox.text(), kHead + "ALARM\r\nolder line");
  EXPECT_EQ(f.EventsLogTextBox.sel_start(), 0);
  std::string log = ReadBytes(LogPath());
  for (const int value : {1, 2}) {  // logged, not shown
    f.NoDisplayCheck.SetValue(value);
    Report(port_, "41 00 01");
    Ticks(1);
    log += kHead + "BGM R1 000001\n\r\n";
  }
  EXPECT_EQ(f.EventsLogTextBox.text(), kHead + "ALARM\r\nolder line");
  EXPECT_EQ(ReadBytes(LogPath()), log);
}

TEST(ProgramOptions, EachOptionReachesItsFieldAndWhatIsNotUnderstoodHasAOneLineReason) {
  // Arguments; the error, or the site file, help, headless, the port (0: none), and the operator
  // command with its name, level and users file.
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "||||0|0  0 "},
      {{"--site-settings", "/srv/site.ini"}, "|/srv/site.ini|||0|0  0 "},
      {{"-h"}, "||help||0|0  0 "},
      {{"--help", "--site-settings", "a"}, "|a|help||0|0  0 "},
      {{"--headless"}, "|||headless|0|0  0 "},
      {{"--headless", "--port", "COM3"}, "|||headless|3|0  0 "},
      {{"--port", "COM10", "--headless"}, "|||headless|10|0  0 "},
      {{"--site-settings"}, "--site-settings needs a file"},
      {{"--site-settings", ""}, "--site-settings needs a file"},
      {{"--connect"}, "unknown option \"--connect\" (see --help)"},
      {{"COM1"}, "unknown option \"COM1\" (see --help)"},
      {{"--headless", "--port", "COM11"}, "--port needs COM1 to COM10, not \"COM11\""},
      {{"--headless", "--port", "COM01"}, "--port needs COM1 to COM10, not \"COM01\""},
      {{"--headless", "--port", "com1"}, "--port needs COM1 to COM10, not \"com1\""},
      {{"--headless", "--port"}, "--port needs COM1 to COM10"},
      {{"--port", "COM2"}, "--port is for --headless; the window chooses its port in the window"},
      {{"--user-add", "alice", "--level", "3"}, "||||0|1 alice 3 "},
      {{"--user-passwd", "bob", "--users-file", "/srv/users"}, "||||0|2 bob 0 /srv/users"},
      {{"--user-disable", "bob"}, "||||0|3 bob 0 "},
      {{"--user-list"}, "||||0|4  0 "},
      {{"--users-file", "/srv/users"}, "||||0|0  0 /srv/users"},
      {{"--user-add"}, "--user-add needs an operator's name"},
      {{"--user-add", "alice"},
       "--user-add needs --level 2 or 3, and --level goes with --user-add"},
      {{"--user-passwd", "a", "--level", "2"},
       "--user-add needs --level 2 or 3, and --level goes with --user-add"},
      {{"--user-add", "alice", "--level", "1"}, "--level needs 2 or 3, not \"1\""},
      {{"--user-list", "--user-disable", "a"},
       "--user-add, --user-passwd, --user-disable and --user-list cannot be combined"},
      {{"--user-list", "--headless"},
       "the operator commands cannot be combined with --headless or the journal commands"},
  };
  for (const auto& [args, expected] : cases) {
    const ParsedOptions parsed = ParseProgramOptions(args);
    const ProgramOptions& o = parsed.options;
    EXPECT_EQ(parsed.error.empty()
                  ? "|" + o.site_settings.value_or("").string() + "|" + (o.help ? "help" : "") +
                        "|" + (o.headless ? "headless" : "") + "|" +
                        std::to_string(o.port.value_or(0)) + "|" +
                        std::to_string(static_cast<int>(o.user_command)) + " " + o.user_name + " " +
                        std::to_string(o.user_level) + " " + o.users_file.value_or("").string()
                  : parsed.error,
              expected)
        << testing::PrintToString(args);
  }
  for (const char* option :
       {"--site-settings FILE", "--headless", "--port COMn", "--journal-export", "--from DATE",
        "--to DATE", "--kind KIND", "--journal-verify"})
    EXPECT_NE(ProgramUsage().find(option), std::string::npos) << option;
}

// Without a program folder, nothing at all is written, least of all into the current folder.
class NoProgramFolder : public test::FormTest {
 protected:
  void SetUp() override {
    program_folder_.clear();
    fs::current_path(temp_.path());
  }
  void TearDown() override { fs::current_path(previous_); }
  const fs::path previous_ = fs::current_path();
};

// A current folder that happens to hold the program's folders, as if it were the program's.
std::string Snapshot(const fs::path& folder) {
  std::string all;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    all += entry.path().string() + "=" +
           std::to_string(entry.last_write_time().time_since_epoch().count()) +
           (entry.is_regular_file() ? ReadBytes(entry.path()) : "") + "\n";
  return all;
}

TEST_F(NoProgramFolder, EveryFileOperationIsRefusedAndTheCurrentFolderStaysAsItWas) {
  fs::create_directories(temp_.path() / "SYSINI");
  fs::create_directories(temp_.path() / "DATA");
  test::WriteBytes(temp_.path() / "SYSINI" / "MainForm.INI", "[RS232Configure]\r\nComPort=4\r\n");
  test::WriteBytes(temp_.path() / "DATA" / "TestFile.txt", "keep\n");
  const std::string before = Snapshot(temp_.path());
  MainForm& f = Load();
  EXPECT_EQ(f.ComPort_CB.text(), "COM1") << "nothing read from the current folder";
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, "System can not write any file.");
  f.TriggerLabel[0].PerformDblClick();
  f.TriggerNameText[0].SetText("Hall");
  f.focus.MoveFocus(&f.Trigger_PictureBox);
  EXPECT_EQ(f.TriggerLabel[0].caption(), "Hall");
  f.ComPort_CB.SetListIndex(3);
  ConnectAndClear();
  port_.Deliver(EncodeFrame(0xA0, Bytes{0x21, 0, 1}));
  Ticks(20);
  EXPECT_EQ(f.event_recorder().waiting(), 1u);
  f.CloseSerialPort();
  f.Form_Unload();
  EXPECT_FALSE(f.config().SaveConfigGroup("RS232Config"));
  EXPECT_EQ(Snapshot(temp_.path()), before);
  // Each refusal was said, with the reason.
  bool said = false;
  for (const Notice& n : notices_)
    said = said || n.text.find("is not in a known folder") != std::string::npos;
  EXPECT_TRUE(said);
}

}  // namespace
}  // namespace orv
