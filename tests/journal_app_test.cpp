// The window's journal: what each operator action, report and connection change leaves in it.
// (A storm's records in one commit are the reliability test's; a journal that cannot be written
// is the journal's own.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/form_fixture.h"
#include "tests/support/journal_fixture.h"
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

// One scripted session: every kind of record, in the order it happened, with its fields; an
// event's record carries its detail with the names the site gave in MainForm.INI, its text stays
// the events log's line; a key pressed without a line says that nothing went out. (The link
// records of a port that fails are the headless runner's test, which prints them.)
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
  f.commands().SendPanelKey(OperatorCommands::kEmg);  // without a line
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
                "operator Key EMG (not connected: nothing went out)",
                "program Program stopped: " + caption + ", user op1"}));
  EXPECT_TRUE(VerifyJournalFile(JournalPath()).ok);
}

}  // namespace
}  // namespace orv
