// The window's journal: what each operator action, report and connection change leaves in it, and
// that EventLog.txt and the wire do not notice the journal. (A storm's records in one commit are
// the reliability test's; a journal that cannot be written is the journal's own.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/frame.h"
#include "tests/form_fixture.h"
#include "tests/support/journal_fixture.h"
#include "tests/support/storm.h"
#include "tests/test_util.h"

namespace orv {
namespace {

using test::FormTest;

class JournalAppTest : public FormTest {
 protected:
  JournalAppTest() {
    journal_options_.login = "op1";
    journal_options_.host = "panel-pc";
    journal_options_.clock = [this] { return JournalTime{utc_ms_, 3600}; };
  }
  // The journal's last anchor asks this fixture's clock: the window goes while the fixture is
  // whole.
  void TearDown() override { form_.reset(); }
  std::filesystem::path JournalPath() const {
    return program_folder_ / "DATA" / Journal::kFileName;
  }
  std::vector<JournalRow> Rows() const { return test::JournalRows(JournalPath()); }

  std::int64_t utc_ms_ = 1796601600000;
};

// The frame as it came on the line, CRC and ETX included, though the payload buffer holds more.
TEST(FrameHexTest, IsTheFrameAsItCameOnTheLine) {
  const std::vector<std::uint8_t> emg_ack{0x12, 0x00, 0x00, 0x99, 0x99};
  EXPECT_EQ(FrameHex(ReceivedFrame{0xA0, 3, emg_ack}), "0203A01200004703");
  const std::vector<std::uint8_t> fault{0x21, 0x01, 0xFF, 0x7E};
  EXPECT_EQ(FrameHex(ReceivedFrame{0xA0, 4, fault}).substr(0, 14), "0204A02101FF7E");
}

// One scripted session: every kind of record, in the order it happened, with its fields; an
// event's record carries its detail with the names the site gave in MainForm.INI, its text stays
// the events log's line.
TEST_F(JournalAppTest, AScriptedSessionLeavesEachRecordOnceInOrder) {
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
  f.TriggerLabel[1].PerformDblClick();
  f.TriggerNameText[1].SetText("Hall, \"North\"");
  f.focus.MoveFocus(&f.Trigger_PictureBox);
  f.Trigger_CheckBox[1].SetValue(1);
  Ticks(1);
  f.ConnectCB.PerformClick();
  Ticks(1);
  f.Form_Unload();

  const std::string caption = kWindowCaption;
  std::vector<std::string> seen;
  for (const JournalRow& row : Rows()) {
    const JournalEntry& e = row.entry;
    seen.push_back(std::string(JournalKindName(e.kind)) + " " + e.text +
                   (e.raw_hex.empty() ? "" : " [" + e.raw_hex + "]") +
                   (e.detail.empty() ? "" : " {" + e.detail + "}"));
    EXPECT_EQ(e.login + " " + e.host, "op1 panel-pc");
    EXPECT_EQ(e.time, (JournalTime{utc_ms_, 3600}));
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
                "program Program stopped: " + caption + ", user op1"}));
  EXPECT_TRUE(VerifyJournalFile(JournalPath()).ok);
}

// An operator key pressed without a line says that nothing went out. (The link records of a port
// that fails are the headless runner's test, which prints them.)
TEST_F(JournalAppTest, AKeyPressedWithoutALineSaysNothingWentOut) {
  MainForm& f = Load();
  f.ConnectCB.PerformClick();
  f.link().SetPortConnected(false);
  f.commands().SendPanelKey(OperatorCommands::kEmg);
  Ticks(1);
  EXPECT_EQ(Rows().back().entry.text, "Key EMG (not connected: nothing went out)");
}

// What one run leaves behind outside the journal: EventLog.txt and the frames on the wire.
struct RunOutcome {
  std::string event_log;
  std::vector<Bytes> wire;
};

RunOutcome RunSession(bool keep_journal) {
  test::TempFolder folder;
  FakeSerialPort port;
  MainForm form(MainFormEnvironment{port, folder.path(), nullptr,
                                    [] {
                                      return LocalDateTime{12, 4, 5, 21};
                                    },
                                    nullptr, keep_journal});
  form.Form_Load();
  form.ConnectCB.PerformClick();
  for (int tick = 0; tick < 40; ++tick) {
    // Reports of every kind now and then, and a storm of 149 in one tick.
    Bytes chunk = tick == 20 ? test::FaultReports(0, 149) : Bytes{};
    for (int i = 0; i < tick % 3; ++i) {
      const Bytes r = EncodeFrame(0xA0, Bytes{static_cast<std::uint8_t>(0x10 + tick % 0x30),
                                              static_cast<std::uint8_t>(i), 0x05});
      chunk.insert(chunk.end(), r.begin(), r.end());
    }
    port.Deliver(chunk);
    if (tick == 7) form.EMG_CB.PerformClick();
    if (tick == 9) form.Trigger_CheckBox[3].SetValue(1);
    form.TRTimer_Timer();
  }
  form.ConnectCB.PerformClick();
  form.Form_Unload();
  EXPECT_EQ(std::filesystem::exists(folder.path() / "DATA" / Journal::kFileName), keep_journal);
  return {test::ReadBytes(folder.path() / "DATA" / "EventLog.txt"), port.writes()};
}

TEST(JournalOffTest, EventLogAndWireAreByteIdenticalWithAndWithoutTheJournal) {
  const RunOutcome with = RunSession(true);
  const RunOutcome without = RunSession(false);
  EXPECT_GT(with.event_log.size(), 149U * 20);
  EXPECT_EQ(with.event_log, without.event_log);
  EXPECT_EQ(with.wire, without.wire);
}

}  // namespace
}  // namespace orv
