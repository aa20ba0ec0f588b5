#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "events/event_log_file.h"
#include "panel/operator_commands.h"
#include "tests/form_fixture.h"
#include "tests/odd_files.h"
#include "tests/support/journal_fixture.h"
#include "tests/support/storm.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::FormTest;
using test::Hex;
using test::ReadBytes;
using Frames = std::vector<Bytes>;

// The connect button's caption, and the operator keys and trigger boxes enabled exactly while
// connected, the port list while not.
void ExpectConnectedLook(MainForm& f, bool connected) {
  EXPECT_EQ(f.ConnectCB.caption(), connected ? "Disconnection" : "Connection");
  EXPECT_NE(f.ComPort_CB.enabled(), connected);
  for (const Control* c : std::initializer_list<const Control*>{
           &f.EMG_CB, &f.EMGMessage_CB, &f.EMGAck_CB, &f.FaultAck_CB, &f.EMGReset_CB,
           &f.FaultReset_CB, &f.IMPC_CB, &f.Trigger_CheckBox[0], &f.Trigger_CheckBox[11]})
    EXPECT_EQ(c->enabled(), connected) << c->QualifiedName();
}

TEST_F(FormTest, StoredSettingsSelectTheirItemsAndReachTheLine) {
  fs::create_directories(program_folder_ / "SYSINI");
  test::WriteBytes(IniPath(),
                   "[RS232Configure]\r\nComPort=4\r\nBaudRate=115200\r\nCheckBit=even\r\n"
                   "BitLength=7\r\nStopBit=2\r\n");
  MainForm& f = Load();
  EXPECT_EQ(f.ComPort_CB.text() + " " + f.BaudRate_CB.text(), "COM4 115200");
  EXPECT_EQ(f.RS232BitType_LB.caption(), "even Parity , 7 Bits , 2 Stop");
  f.ConnectCB.PerformClick();
  EXPECT_EQ(std::to_string(port_.comm_port()) + " " + port_.settings(),
            "4 115200,e,7,2");  // the parity word's first letter
}

TEST_F(FormTest, FirstStartShowsTheDefaultsThenConnectsToPortOne) {
  MainForm& f = Load();
  EXPECT_EQ(f.MainFormWindow.caption(), "Orvandel Program Ver 2.16.08");
  EXPECT_EQ(f.ComPort_CB.text() + " " + f.BaudRate_CB.text() + " " + f.Timer_CB.text() + " " +
                f.VirtualDevice_ComboBox.text(),
            "COM1 9600 10 EMG Trigger 1-60");
  ExpectConnectedLook(f, false);
  EXPECT_TRUE(f.Transmission_CommandButton.enabled());
  EXPECT_FALSE(f.BaudRate_CB.enabled());
  for (int i = 0; i < kSystemLamps; ++i)  // each lamp beside its own caption
    EXPECT_EQ(f.Label2[i].caption(), kFaultLampCaptions[static_cast<std::size_t>(i)]) << i;
  port_.Open();  // bytes that came before the connect are thrown away
  Image("01 00");
  port_.Close();
  f.ConnectCB.PerformClick();
  EXPECT_TRUE(port_.handshaking_none());
  ExpectConnectedLook(f, true);
  Ticks(1);
  EXPECT_EQ(f.Shape1[0].fill_style(), Shape::kTransparent);
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
  EXPECT_EQ(f.ComPort_CB.text() + " " + f.BaudRate_CB.text(), "COM1 9600");
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
  Image("FF 0F");
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
  ExpectConnectedLook(f, false);
  Ticks(50);
  EXPECT_EQ(port_.writes().size(), 3u) << "the three polls before, none since";
  EXPECT_EQ(states, (std::vector<bool>{true, false})) << "each change said once";
}

TEST_F(FormTest, EveryOperatorKeyWritesExactlyItsFrameAndClearAllTriggerNone) {
  MainForm& f = Load();
  ConnectAndClear();
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

TEST(EventLogFile, ARecordEndsLfCrLfAndAnUnwritableFileOrFolderIsSkipped) {
  test::TempFolder temp;
  EventLogFile log(temp.path());
  fs::create_directories(log.LogFile());  // a folder in its place stops even root
  EXPECT_FALSE(log.AppendEventLogLine("skipped"));
  fs::remove_all(log.DataFolder());  // the next record gets through, the folder made again
  EXPECT_TRUE(log.AppendEventLogLine("after"));
  EXPECT_EQ(ReadBytes(log.LogFile()), "after\n\r\n");
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
  Report("40 00 3F");                           // BGM while page 0 is shown: no refresh
  Ticks(1);
  EXPECT_EQ(f.Trigger_CheckBox[0].value(), 0);
  EXPECT_EQ(f.TriggerLabel[0].caption(), "EMG Trigger 1") << "the reply's redraw still ran";
  f.Trigger_VScrollBar.SetValue(3);  // the rows show triggers 4 to 15
  f.TriggerLabel[0].SetCaption("marker");
  port_.Deliver(EncodeFrame(8, Bytes(10, 0)));
  Report("30 00 20");  // trigger 6 of the shown page: its row ticked now, the redraw cancelled
  Ticks(1);
  EXPECT_EQ(f.Trigger_CheckBox[2].value(), 1);
  EXPECT_EQ(f.Trigger_CheckBox[5].value(), 0);
  EXPECT_EQ(f.TriggerLabel[0].caption(), "marker");
  EXPECT_EQ(port_.writes().size(), 1u) << "only the poll; the refresh sent nothing";
}

// (The box's bound, newest on top, and the file's every record are the storm test's.)
TEST_F(FormTest, TheLogBoxShowsTheNewestFromItsStartUnlessWithoutDisplayIsTickedOrGrayed) {
  MainForm& f = Load();
  port_.Open();
  f.EventsLogTextBox.SetText("older line");
  f.EventsLogTextBox.SetSelStart(5);
  Report("15 00 00");
  Ticks(1);
  EXPECT_EQ(f.EventsLogTextBox.text(), kHead + "ALARM\r\nolder line");
  EXPECT_EQ(f.EventsLogTextBox.sel_start(), 0);
  std::string log = ReadBytes(LogPath());
  for (const int value : {1, 2}) {  // logged, not shown
    f.NoDisplayCheck.SetValue(value);
    Report("41 00 01");
    Ticks(1);
    log += kHead + "BGM R1 000001\n\r\n";
  }
  EXPECT_EQ(f.EventsLogTextBox.text(), kHead + "ALARM\r\nolder line");
  EXPECT_EQ(ReadBytes(LogPath()), log);
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
  Rename(0, "Hall");
  EXPECT_EQ(f.TriggerLabel[0].caption(), "Hall");
  f.ComPort_CB.SetListIndex(3);
  ConnectAndClear();
  Report("21 00 01");
  Ticks(20);
  EXPECT_EQ(f.event_recorder().waiting(), 1u);
  f.CloseSerialPort();
  f.Form_Unload();
  EXPECT_FALSE(f.config().SaveConfigGroup("RS232Config"));
  EXPECT_EQ(Snapshot(temp_.path()), before);
  EXPECT_TRUE(std::ranges::any_of(notices_, [](const Notice& n) {
    return n.text.find("is not in a known folder") != std::string::npos;
  })) << "each refusal was said, with the reason";
}

// The window's journal in one scripted session: each kind of record once, in order, with its
// fields; an event's detail names the site's triggers from MainForm.INI, its text is the events
// log's line; a key pressed without a line says nothing went out. (A storm: the storm test below;
// an unwritable journal: the journal's; a failing port's link records: the headless runner's.)
TEST_F(FormTest, AScriptedSessionLeavesEachRecordOnceInOrder) {
  const JournalTime time{1796601600000, 3600};
  journal_options_.login = "op1";
  journal_options_.host = "panel-pc";
  journal_options_.clock = [time] { return time; };
  std::filesystem::create_directories(program_folder_ / "SYSINI");
  test::WriteBytes(IniPath(), "[ETrgName]\r\nETRG 13=Lobby\r\n[BTrgName]\r\nBTRG 13=Stairs\r\n");
  MainForm& f = Load();
  f.Timer_CB.SetText("30");
  f.ConnectCB.PerformClick();
  Ticks(1);
  port_.Deliver(test::Hex("02 03 A0 12 00 00 47 03"));  // EMG Ack, the example frame
  port_.Deliver(test::Hex("02 03 A0 32 00 41 CB 03"));  // EMG and business trigger 13 on
  Ticks(1);
  f.EMGAck_CB.PerformClick();
  Rename(1, "Hall, \"North\"");
  f.Trigger_CheckBox[1].SetValue(1);
  Ticks(1);
  f.ConnectCB.PerformClick();
  f.commands().SendPanelKey(OperatorCommands::kEmg);  // without a line
  Ticks(1);
  f.Form_Unload();

  const std::string caption = kWindowCaption;
  std::vector<std::string> seen;
  for (const JournalRow& row : test::JournalRows(JournalPath())) {
    const JournalEntry& e = row.entry;
    seen.push_back(std::string(JournalKindName(e.kind)) + " " + e.text +
                   (e.raw_hex.empty() ? "" : " [" + e.raw_hex + "]") +
                   (e.detail.empty() ? "" : " {" + e.detail + "}"));
    EXPECT_EQ(e.login + " " + e.host, "op1 panel-pc");
    EXPECT_EQ(e.time, time);
  }
  EXPECT_EQ(seen,
            (std::vector<std::string>{
                "program Program started: " + caption + ", user op1",
                "link Connected: COM1 (fake1) 9600,N,8,1", "operator Supervision time 30",
                "operator Supervision off",
                "event 12/04 05:21 Event = EMG Ack [0203A01200004703] {Emergency acknowledged}",
                "event 12/04 05:21 Event = TRG R2 000001000001 [0203A0320041CB03] {EMG 13 Lobby, "
                "BUS 13 Stairs}",
                "operator Key EMG ACK",
                "operator Renamed EMG Trigger 2: \"EMG Trigger 2\" to \"Hall, \"North\"\"",
                "operator EMG Trigger 2 on", "link Disconnected: COM1 (fake1) 9600,N,8,1",
                "operator Key EMG (not connected: nothing went out)",
                "program Program stopped: " + caption + ", user op1"}));
  EXPECT_TRUE(VerifyJournalFile(JournalPath()).ok);
}

// The journal's bounds are the site's, read at the start and again at a reload.
TEST_F(FormTest, TheJournalsBoundsComeFromTheSiteSettingsAtTheStartAndAReload) {
  fs::create_directories(IniPath().parent_path());
  test::WriteBytes(IniPath(), "[Journal]\r\nKeepDays=30\r\nMaxMegabytes=64\r\n");
  MainForm& f = Load();
  ASSERT_NE(f.journal(), nullptr);
  EXPECT_EQ(f.journal()->retention(), (JournalRetention{30, 64 * kMegabyte}));
  test::WriteBytes(IniPath(), "[Journal]\r\nKeepDays=0\r\n");
  f.ReloadSiteSettings();
  EXPECT_EQ(f.journal()->retention(),
            (JournalRetention{0, kJournalMaxMegabytesDefault * kMegabyte}));
}

// After a reload the service refused, a connect keeps the limit that runs rather than reading the
// file again; the next reload taken reads it.
TEST_F(FormTest, AfterARefusedReloadAConnectKeepsTheRunningLinkWatchLimit) {
  fs::create_directories(IniPath().parent_path());
  test::WriteBytes(IniPath(), "[LinkWatch]\r\nNoReplySeconds=7\r\n");
  MainForm& f = Load();
  EXPECT_EQ(f.link().watch().no_reply_seconds(), 7);
  test::WriteBytes(IniPath(), "[LinkWatch]\r\nNoReplySeconds=9\r\n");
  f.KeepSiteSettings();
  f.ConnectCB.PerformClick();
  ASSERT_TRUE(f.link().port_connected());
  EXPECT_EQ(f.link().watch().no_reply_seconds(), 7);
  f.ReloadSiteSettings();
  EXPECT_EQ(f.link().watch().no_reply_seconds(), 9);
  // Taken, the file is read at a connect again.
  test::WriteBytes(IniPath(), "[LinkWatch]\r\nNoReplySeconds=11\r\n");
  f.ConnectCB.PerformClick();
  f.ConnectCB.PerformClick();
  EXPECT_EQ(f.link().watch().no_reply_seconds(), 11);
}

// Under load and abuse. Far more reports between two ticks than the ring holds (1,199 bytes, 149
// reports of 8 bytes), in 37 receive events: the rest waits behind it, and the tick decodes every
// one. Each is one line of EventLog.txt and one journal record, in order, all written by one
// commit. (Where the ring ends is the receiver's test.)
TEST_F(FormTest, AnEventStormBetweenTwoTicksLosesNoRecord) {
  const int reports = 2000;
  MainForm& f = Load();
  f.ConnectCB.PerformClick();
  Ticks(1);
  const std::int64_t before = static_cast<std::int64_t>(test::JournalRows(JournalPath()).size());
  std::vector<std::int64_t> commits;
  const Connection listening =
      f.journal()->committed().Connect([&commits](std::int64_t last) { commits.push_back(last); });
  const Bytes storm = test::FaultReports(0, reports);
  const std::size_t piece = storm.size() / 37 + 1;  // 37 receive events
  for (std::size_t at = 0; at < storm.size(); at += piece)
    port_.Deliver(Bytes(storm.begin() + at, storm.begin() + std::min(at + piece, storm.size())));
  Ticks(1);
  EXPECT_EQ(test::ReadBytes(LogPath()), test::FaultRecords(0, reports));
  // The first Fault report also sounds the annunciator, which says so in a record of its own.
  EXPECT_EQ(commits, std::vector<std::int64_t>{before + reports + 1});
  std::vector<JournalRow> rows = test::JournalRows(JournalPath());
  std::erase_if(rows, [](const JournalRow& row) {
    return row.entry.text.starts_with(kAnnunciationRecordPrefix);
  });
  ASSERT_EQ(static_cast<std::int64_t>(rows.size()), before + reports);
  for (int i = 0; i < reports; ++i) {
    const JournalEntry& e = rows[static_cast<std::size_t>(before + i)].entry;
    ASSERT_EQ(std::string(JournalKindName(e.kind)) + " " + e.text,
              "event 12/04 05:21 " + test::FaultEvent(i));
  }
  EXPECT_EQ(f.EventsLogTextBox.text().size(), 1000u);
  EXPECT_EQ(f.EventsLogTextBox.text().rfind("12/04 05:21 " + test::FaultEvent(reports - 1), 0), 0u)
      << "the newest line is on top";
  EXPECT_TRUE(notices_.empty());
}

// A line faster than the program can take: bytes past the backlog's bound are lost, counted and
// said; everything before them is still decoded, and the ring never reads as empty while full.
TEST_F(FormTest, BytesPastTheBacklogAreCountedAndSaid) {
  MainForm& f = Load();
  f.ConnectCB.PerformClick();
  // Panel status reports (8 bytes each): decoded, but not written to the log one by one.
  const Bytes report = EncodeFrame(0xA0, Bytes{0x50, 0x00, 0x01});
  std::size_t decoded = 0;
  const Connection count =
      f.link().dispatcher().panel_status().Connect([&](std::int32_t) { ++decoded; });
  const std::size_t held = Receiver::kBacklogLimit + Receiver::kRingPositions - 1;
  Bytes flood;
  for (std::size_t i = 0; i < held / report.size(); ++i)
    flood.insert(flood.end(), report.begin(), report.end());
  flood.resize(held, 0x00);  // noise up to the last byte that is kept
  port_.Deliver(flood);
  port_.Deliver(Bytes(3 * report.size() + 5, 0x02));
  EXPECT_EQ(f.link().receiver().overflow_bytes(), 3 * report.size() + 5);
  Ticks(1);
  EXPECT_EQ(decoded, held / report.size());
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_NE(notices_[0].text.find("29 bytes"), std::string::npos) << notices_[0].text;
  // Said again only when more are lost, and not more often than every ten seconds.
  port_.Deliver(flood);
  port_.Deliver(Bytes(1, 0));
  Ticks(1);
  EXPECT_EQ(notices_.size(), 1u);
  Ticks(100);
  ASSERT_EQ(notices_.size(), 2u);
  EXPECT_NE(notices_[1].text.find("30 bytes"), std::string::npos) << notices_[1].text;
  Ticks(200);
  EXPECT_EQ(notices_.size(), 2u) << "nothing new lost";
}

// A MainForm.INI that must not be read, here a FIFO: start-up does not wait on it, finishes with
// every default and says once why; the one check that the configuration's notices reach the
// window. (Which entries are refused, that a rewrite is refused too and the size bound are the
// profile reader's tests; how often it is said, the configuration's.)
TEST_F(FormTest, AnIniThatIsNoFileStartsWithDefaultsAndSaysWhyOnce) {
  std::filesystem::create_directories(program_folder_ / "SYSINI");
  test::MakeFifo(IniPath());
  test::FinishOrStop([this] { Load(); }, "start-up",
                     [this] { test::ReleaseFifoReader(IniPath()); });
  EXPECT_EQ(form().ComPort_CB.text() + " " + form().BaudRate_CB.text(), "COM1 9600");
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].text,
            IniPath().string() + " is not a regular file: its settings were not read.");
}

}  // namespace
}  // namespace orv
