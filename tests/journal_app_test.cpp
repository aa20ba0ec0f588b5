// The window's journal: what each operator action, report and connection change leaves in it,
// that a tick's records are one commit, that EventLog.txt and the wire do not notice the journal,
// and that a journal that cannot be written costs nothing else.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/frame.h"
#include "tests/form_fixture.h"
#include "tests/test_util.h"

namespace orv {
namespace {

using test::FormTest;

struct Expected {
  JournalKind kind;
  std::string text;
  std::string raw_hex;
};

class JournalAppTest : public FormTest {
 protected:
  JournalAppTest() {
    journal_options_.login = "op1";
    journal_options_.host = "panel-pc";
    journal_options_.clock = [this] { return JournalTime{utc_ms_, 3600}; };
  }

  std::filesystem::path JournalPath() const {
    return program_folder_ / "DATA" / Journal::kFileName;
  }
  std::vector<JournalRow> Rows() const {
    std::vector<JournalRow> rows;
    const sqlite::Result result = ReadJournalFile(JournalPath(), 1, 1000000, rows);
    EXPECT_TRUE(result.ok()) << result.message;
    return rows;
  }
  static void ExpectRows(const std::vector<JournalRow>& rows, const std::vector<Expected>& want) {
    ASSERT_EQ(rows.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
      SCOPED_TRACE("row " + std::to_string(i + 1));
      EXPECT_EQ(JournalKindName(rows[i].entry.kind), JournalKindName(want[i].kind));
      EXPECT_EQ(rows[i].entry.text, want[i].text);
      EXPECT_EQ(rows[i].entry.raw_hex, want[i].raw_hex);
    }
  }
  void Report(std::uint8_t kind, int value) {
    port_.Deliver(EncodeFrame(0xA0, Bytes{kind, static_cast<std::uint8_t>(value >> 8),
                                          static_cast<std::uint8_t>(value)}));
  }

  std::int64_t utc_ms_ = 1796601600000;
};

TEST(FrameHexTest, IsTheFrameAsItCameOnTheLine) {
  const struct {
    std::uint8_t length;
    std::vector<std::uint8_t> payload;  // the payload buffer may hold more than LEN bytes
    std::string hex_start;              // without CRC and ETX
  } cases[] = {
      {3, {0x12, 0x00, 0x00}, "0203A0120000"},
      {3, {0x12, 0x00, 0x00, 0x99, 0x99}, "0203A0120000"},
      {4, {0x21, 0x01, 0xFF, 0x7E}, "0204A02101FF7E"},
  };
  for (const auto& c : cases) {
    const ReceivedFrame frame{0xA0, c.length, c.payload};
    const std::string hex = FrameHex(frame);
    EXPECT_EQ(hex.size(), c.hex_start.size() + 4);
    EXPECT_EQ(hex.substr(0, c.hex_start.size()), c.hex_start);
    EXPECT_EQ(hex.substr(hex.size() - 2), "03");
  }
  // The example frame of the line, its CRC included.
  const std::vector<std::uint8_t> emg_ack{0x12, 0x00, 0x00};
  EXPECT_EQ(FrameHex(ReceivedFrame{0xA0, 3, emg_ack}), "0203A01200004703");
}

// One scripted session: every kind of record, in the order it happened, with its fields.
TEST_F(JournalAppTest, AScriptedSessionLeavesEachRecordOnceInOrder) {
  MainForm& f = Load();
  f.Timer_CB.SetText("30");
  f.ConnectCB.PerformClick();
  Ticks(1);
  Report(0x12, 0);  // EMG Ack, as the example frame on the line
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
  const std::vector<JournalRow> rows = Rows();
  ExpectRows(rows, {
                       {JournalKind::kProgram, "Program started: " + caption + ", user op1", ""},
                       {JournalKind::kLink, "Connected: COM1 (fake1) 9600,N,8,1", ""},
                       {JournalKind::kOperator, "Supervision time 30", ""},
                       {JournalKind::kOperator, "Supervision off", ""},
                       {JournalKind::kEvent, "12/04 05:21 Event = EMG Ack", "0203A01200004703"},
                       {JournalKind::kOperator, "Key EMG ACK", ""},
                       {JournalKind::kOperator,
                        "Renamed EMG Trigger 2: \"EMG Trigger 2\" to \"Hall, \"North\"\"", ""},
                       {JournalKind::kOperator, "EMG Trigger 2 on", ""},
                       {JournalKind::kLink, "Disconnected: COM1 (fake1) 9600,N,8,1", ""},
                       {JournalKind::kProgram, "Program stopped: " + caption + ", user op1", ""},
                   });
  for (const JournalRow& row : rows) {
    EXPECT_EQ(row.entry.login, "op1");
    EXPECT_EQ(row.entry.host, "panel-pc");
    EXPECT_EQ(row.entry.time, (JournalTime{utc_ms_, 3600}));
  }
  EXPECT_TRUE(VerifyJournalFile(JournalPath()).ok);
}

// An event's record carries its detail with the names the site gave in MainForm.INI, as they are
// when the report comes; its text stays the events log's line.
TEST_F(JournalAppTest, AnEventRecordCarriesItsDetailWithTheSitesNames) {
  std::filesystem::create_directories(program_folder_ / "SYSINI");
  test::WriteBytes(IniPath(), "[ETrgName]\r\nETRG 13=Lobby\r\n[BTrgName]\r\nBTRG 13=Stairs\r\n");
  MainForm& f = Load();
  f.ConnectCB.PerformClick();
  Report(0x32, 0x0041);
  Ticks(1);
  const std::vector<JournalRow> rows = Rows();
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.back().entry.text, "12/04 05:21 Event = TRG R2 000001000001");
  EXPECT_EQ(rows.back().entry.detail, "EMG 13 Lobby, BUS 13 Stairs");
  EXPECT_TRUE(VerifyJournalFile(JournalPath()).ok);
}

// A port that cannot be opened and a device lost behind an open port are link records, with the
// reason; the operator keys pressed meanwhile say that nothing went out.
TEST_F(JournalAppTest, PortFailuresAreRecordedWithTheirReason) {
  MainForm& f = Load();
  port_.set_refuse_open(true, PortErrorKind::kBusy);
  f.ConnectCB.PerformClick();
  port_.set_refuse_open(false);
  f.ConnectCB.PerformClick();
  port_.LoseDevice();
  Ticks(1);
  const std::vector<JournalRow> rows = Rows();
  ASSERT_EQ(rows.size(), 6U);  // start, failure, connect, the supervision pair, device lost
  EXPECT_EQ(rows[1].entry.text.rfind("Com Port Fail!: COM1 (fake1) 9600,N,8,1: ", 0), 0U)
      << rows[1].entry.text;
  EXPECT_NE(rows[1].entry.text.find(PortErrorKindText(PortErrorKind::kBusy)), std::string::npos)
      << rows[1].entry.text;
  EXPECT_EQ(rows[2].entry.text, "Connected: COM1 (fake1) 9600,N,8,1");
  EXPECT_EQ(rows[5].entry.kind, JournalKind::kLink);
  EXPECT_EQ(rows[5].entry.text.rfind("Port failure: COM1 (fake1) 9600,N,8,1: ", 0), 0U)
      << rows[5].entry.text;

  Link& link = f.link();
  link.SetPortConnected(false);  // keys pressed without a line
  f.commands().SendPanelKey(OperatorCommands::kEmg);
  Ticks(1);
  EXPECT_EQ(Rows().back().entry.text, "Key EMG (not connected: nothing went out)");
}

// The worst tick: 149 reports are 149 event records, in order, written by one commit, and all of
// them are recorded whether the events log shows them or not.
TEST_F(JournalAppTest, AStormOf149ReportsIsOneCommitOf149RowsInOrder) {
  MainForm& f = Load();
  f.NoDisplayCheck.SetValue(1);
  ConnectAndClear();
  Ticks(1);
  std::vector<std::int64_t> commits;
  const Connection listening =
      f.journal()->committed().Connect([&commits](std::int64_t last) { commits.push_back(last); });
  const std::int64_t before = static_cast<std::int64_t>(Rows().size());
  Bytes storm;
  for (int i = 0; i < 149; ++i) {
    const Bytes r = EncodeFrame(0xA0, Bytes{0x21, 0x00, static_cast<std::uint8_t>(i)});
    storm.insert(storm.end(), r.begin(), r.end());
  }
  port_.Deliver(storm);
  Ticks(1);
  EXPECT_EQ(commits, std::vector<std::int64_t>{before + 149});
  const std::vector<JournalRow> rows = Rows();
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(before + 149));
  for (int i = 0; i < 149; ++i) {
    const JournalEntry& e = rows[static_cast<std::size_t>(before + i)].entry;
    EXPECT_EQ(e.kind, JournalKind::kEvent);
    EXPECT_EQ(e.text, "12/04 05:21 Event = Fault " + FormatBits(i, 16)) << i;
  }
}

// The journal locked by another copy: the window runs on, EventLog.txt gets every line, the
// operator is told once, and when the lock goes every record is written in order.
TEST_F(JournalAppTest, ALockedJournalCostsNothingElseAndLosesNothing) {
  MainForm& f = Load();
  ConnectAndClear();
  Ticks(1);
  const std::size_t before = Rows().size();
  sqlite::Database other;
  ASSERT_TRUE(other.Open(JournalPath(), sqlite::kReadWrite).ok());
  ASSERT_TRUE(other.Exec("BEGIN EXCLUSIVE").ok());
  notices_.clear();
  for (int i = 0; i < 30; ++i) {
    Report(0x21, i);
    Ticks(1);
  }
  std::string log;
  for (int i = 0; i < 30; ++i)
    log += "12/04 05:21 Event = Fault " + FormatBits(i, 16) + "\n\r\n";
  EXPECT_EQ(test::ReadBytes(LogPath()), log);
  ASSERT_EQ(notices_.size(), 1U);
  EXPECT_NE(notices_[0].text.find("cannot be written"), std::string::npos) << notices_[0].text;
  EXPECT_EQ(f.journal()->waiting(), 30U);

  ASSERT_TRUE(other.Exec("COMMIT").ok());
  Ticks(JournalOptions{}.retry_commits);
  const std::vector<JournalRow> rows = Rows();
  ASSERT_EQ(rows.size(), before + 30);
  for (int i = 0; i < 30; ++i)
    EXPECT_EQ(rows[before + static_cast<std::size_t>(i)].entry.text,
              "12/04 05:21 Event = Fault " + FormatBits(i, 16));
  EXPECT_TRUE(VerifyJournalFile(JournalPath()).ok);
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
    Bytes chunk;
    for (int i = 0; i < (tick == 20 ? 149 : tick % 3); ++i) {
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
