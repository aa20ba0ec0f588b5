// The window's controls through the gate: each refused below its level and acting at it, input
// keeping a log-in alive, repeated refusals counted; and the keys at a hand's pace: what goes on
// the line, what the status bar says and what the journal keeps when an operator's keys come
// faster (the gate's levels and the pace itself are the access tests').
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "access/access_gate.h"
#include "access/pin_hash.h"
#include "access/refusal_summary.h"
#include "tests/form_fixture.h"

namespace orv {
namespace {

using test::FormTest;

// Each control of the window asks the gate for its own action. Which level each action needs is
// the gate's test; here each control is pressed at level 1 and, above that, by a level 3 operator.
struct Case {
  const char* name;
  int needed;
  std::function<void(MainForm&)> press;
};

std::vector<Case> Cases() {
  const auto key = [](PushButton MainForm::*button) {
    return [button](MainForm& f) { (f.*button).PerformClick(); };
  };
  return {
      {"EMG", 2, key(&MainForm::EMG_CB)},
      {"EMG Message", 2, key(&MainForm::EMGMessage_CB)},
      {"EMG ACK", 2, key(&MainForm::EMGAck_CB)},
      {"Fault ACK", 2, key(&MainForm::FaultAck_CB)},
      {"EMG Reset", 2, key(&MainForm::EMGReset_CB)},
      {"Fault Reset", 2, key(&MainForm::FaultReset_CB)},
      {"Impedance Check", 2, key(&MainForm::IMPC_CB)},
      {"Trigger switching", 2, [](MainForm& f) { f.Trigger_CheckBox[4].SetValue(1); }},
      {"Supervision on/off", 2, [](MainForm& f) { f.SupervisionCheck.SetValue(1); }},
      {"Supervision time", 2, [](MainForm& f) { f.Timer_CB.SetText("70"); }},
      {"Connection/Disconnection", 3, key(&MainForm::ConnectCB)},
      {"Port and baud rate", 3, [](MainForm& f) { f.ComPort_CB.SetListIndex(2); }},
      {"Port and baud rate", 3, [](MainForm& f) { f.BaudRate_CB.SetListIndex(0); }},
      {"Trigger renaming", 3, [](MainForm& f) { f.TriggerLabel[2].PerformDblClick(); }},
      {"Without Display", 3, [](MainForm& f) { f.NoDisplayCheck.SetValue(1); }},
      // (Silence and Lamp test, level 1, are Guarded by the Qt window's buttons: their records'
      // actors are the socket's performer test's, and the gate's levels the gate's.)
  };
}

class PanelAccessTest : public FormTest {
 protected:
  static UsersFile Staff() {
    static const std::string hash = *HashPin("5678");
    return UsersFile{AccessMode::kOn, {{"carol", AccessLevel::kLevel3, hash, false}}};
  }

  // A fresh window on a connected line, carol logged in at level 3 (else nobody: level 1).
  MainForm& Connected(AccessGate* gate, int level) {
    port_.Close();
    gate_ = gate;
    MainForm& f = Load();
    f.ConnectCB_Click();
    EXPECT_TRUE(f.link().port_connected());
    if (level == 3) {
      EXPECT_EQ(gate->LogIn(MainForm::kWindowOrigin, "carol", "5678", access_now_).outcome,
                LogInOutcome::kOk);
    }
    port_.ClearWrites();
    notices_.clear();
    return f;
  }

  // Presses c (or nothing) at level and tells what the line and the window show afterwards, and
  // the journal's operator records with who did it.
  std::string Pressed(const Case* c, AccessGate* gate, int level) {
    MainForm& f = Connected(gate, level);
    std::string records;
    const Connection recording = f.recorded().Connect([&records](const JournalEntry& e) {
      if (e.kind == JournalKind::kOperator) records += e.text + " / " + e.detail + "\n";
    });
    if (c != nullptr) c->press(f);
    std::string shown = records + "wire";
    for (const Bytes& write : port_.writes())
      shown += " " + std::string(write.begin(), write.end());
    return shown + "|" + std::to_string(f.Trigger_CheckBox[4].value()) +
           std::to_string(f.link().trigger_states().States(0).Get(5)) +
           std::to_string(f.SupervisionCheck.value()) + f.Timer_CB.text() +
           std::to_string(f.link().port_connected()) + std::to_string(f.config().SerialComPort) +
           f.BaudRate_CB.text() + std::to_string(f.TriggerNameText[2].visible()) +
           std::to_string(f.NoDisplayCheck.value()) + Lamps();
  }
};

TEST_F(PanelAccessTest, EachControlIsRefusedBelowItsLevelAndActsAsWithoutAGateAtIt) {
  const std::string untouched = Pressed(nullptr, nullptr, 1);
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    access_now_ += std::chrono::seconds(1);  // one control a second, at a hand's pace
    const std::string without_gate = Pressed(&c, nullptr, 1);
    EXPECT_NE(without_gate, untouched);
    AccessGate at(Staff());
    const std::string allowed = Pressed(&c, &at, 3);
    std::string expected = without_gate;
    for (std::size_t at_line = 0; (at_line = expected.find(" / \n", at_line)) != std::string::npos;)
      expected.insert(at_line += 3, "operator carol, level 3");
    EXPECT_EQ(allowed, expected);
    AccessGate below(Staff());
    const std::string refusal =
        c.name + std::string(" refused: level ") + std::to_string(c.needed) + " needed";
    EXPECT_EQ(Pressed(&c, &below, 1), refusal + ": no operator, level 1, window / \n" + untouched);
  }
}

// (That a refusal asks for a log-in is the Qt window's access test; that the tick ends an idle
// one, the attached service's.)
TEST_F(PanelAccessTest, InputKeepsTheLogInAliveAndANameTypedAfterItEndedIsNotTaken) {
  AccessGate gate(Staff(), std::chrono::minutes(10));
  MainForm& f = Connected(&gate, 3);
  access_now_ += std::chrono::minutes(9);
  f.Touch();
  access_now_ += std::chrono::minutes(9);
  f.TRTimer_Timer();
  EXPECT_EQ(gate.Level(MainForm::kWindowOrigin), AccessLevel::kLevel3);
  const std::string before = f.TriggerLabel[2].caption();
  f.TriggerLabel[2].PerformDblClick();
  ASSERT_TRUE(f.TriggerNameText[2].visible());
  gate.LogOut(MainForm::kWindowOrigin, access_now_);
  f.TriggerNameText[2].SetText("Lobby");
  f.focus.MoveFocus(&f.Trigger_PictureBox);
  EXPECT_EQ(f.TriggerLabel[2].caption(), before);
  EXPECT_FALSE(f.TriggerNameText[2].visible());
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].text, "Trigger renaming refused: level 3 needed");
}

// The rest of a burst is said once and asks for no log-in: logging in would not help it.
TEST_F(PanelAccessTest, KeysFasterThanAHandsAreRefusedSaidOnceAndCounted) {
  AccessGate gate(Staff());
  MainForm& f = Connected(&gate, 3);  // by the handler, not the button: no key taken from the pace
  std::vector<std::string> records;
  const Connection recording = f.recorded().Connect([&records](const JournalEntry& e) {
    if (e.kind == JournalKind::kOperator) records.push_back(e.text);
  });
  int logins_asked = 0;
  const Connection asked = f.login_wanted().Connect([&logins_asked](Action) { ++logins_asked; });
  for (int i = 0; i < 20; ++i)
    f.EMG_CB.PerformClick();
  const Bytes key = EncodeFrame(cmd::kPanelKey, Bytes{OperatorCommands::kEmg});
  EXPECT_EQ(port_.writes(), std::vector<Bytes>(KeyPace::kBurst, key));
  access_now_ += RefusalSummary::kWindow;
  f.TRTimer_Timer();
  std::vector<std::string> expected(KeyPace::kBurst, "Key EMG");
  expected.push_back("EMG refused: more than 4 keys a second: carol, level 3, window");
  expected.push_back("11 more refused EMG from window in 10 s");
  EXPECT_EQ(records, expected);
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].text, "EMG refused: more than 4 keys a second");
  EXPECT_EQ(logins_asked, 0);
  records.clear();
  for (int i = 0; i < KeyPace::kBurst + 2; ++i)
    f.EMG_CB.PerformClick();
  access_now_ += std::chrono::seconds(1);
  f.Form_Unload();
  ASSERT_GE(records.size(), KeyPace::kBurst + 2u);
  EXPECT_EQ(records[KeyPace::kBurst + 1], "1 more refused EMG from window in 1 s");
}

}  // namespace
}  // namespace orv
