#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "access/access_gate.h"
#include "access/pin_hash.h"
#include "link/frame.h"
#include "tests/form_fixture.h"

namespace orv {
namespace {

using test::FormTest;
using Frames = std::vector<Bytes>;

Bytes Frame(std::uint8_t command, std::vector<std::uint8_t> data = {}) {
  return EncodeFrame(command, data);
}

// One operator action at the window: how the operator does it, the frames it sends on a
// connected line, and whether it took effect (for actions that change the window, not the line).
struct Case {
  const char* name;
  int needed;
  std::function<void(MainForm&)> press;
  std::function<Frames(MainForm&)> frames;
  std::function<bool(MainForm&)> took_effect;
};

void Pressed(PushButton& button) {
  button.PerformClick();
}

std::vector<Case> Cases() {
  const auto key = [](PushButton MainForm::*button) {
    return [button](MainForm& f) { Pressed(f.*button); };
  };
  const auto key_frame = [](std::uint8_t code) {
    return [code](MainForm&) { return Frames{Frame(cmd::kPanelKey, {code})}; };
  };
  const auto none = [](MainForm&) { return Frames{}; };
  // Keys show nothing of their own: their frames say it all.
  const std::function<bool(MainForm&)> frames_only;
  std::vector<Case> cases = {
      {"EMG", 2, key(&MainForm::EMG_CB), key_frame(1), frames_only},
      {"EMG Message", 2, key(&MainForm::EMGMessage_CB), key_frame(6), frames_only},
      {"EMG ACK", 2, key(&MainForm::EMGAck_CB), key_frame(2), frames_only},
      {"Fault ACK", 2, key(&MainForm::FaultAck_CB), key_frame(4), frames_only},
      {"EMG Reset", 2, key(&MainForm::EMGReset_CB), key_frame(3), frames_only},
      {"Fault Reset", 2, key(&MainForm::FaultReset_CB), key_frame(5), frames_only},
      {"Impedance check", 2, [](MainForm& f) { Pressed(f.IMPC_CB); },
       [](MainForm&) { return Frames{Frame(cmd::kImpedanceCheck)}; }, frames_only},
      {"Trigger switching", 2, [](MainForm& f) { f.Trigger_CheckBox[4].SetValue(1); },
       [](MainForm&) {
         return Frames{Frame(0x13, {5, 1})};
       },
       [](MainForm& f) {
         return f.Trigger_CheckBox[4].value() == 1 &&
                f.link().trigger_states().States(0).Get(5) == 1;
       }},
      {"Supervision on/off", 2, [](MainForm& f) { f.SupervisionCheck.SetValue(1); },
       [](MainForm& f) {
         return Frames{Frame(cmd::kSupervisionTime, {SupervisionTimeByte(f.Timer_CB.text())}),
                       Frame(cmd::kSupervisionOnOff, {1})};
       },
       [](MainForm& f) {
         return f.SupervisionCheck.value() == 1 && f.commands().supervision_enabled();
       }},
      {"Supervision time", 2, [](MainForm& f) { f.Timer_CB.SetText("70"); }, none,
       [](MainForm& f) { return f.Timer_CB.text() == "70"; }},
      {"Connection/Disconnection", 3, [](MainForm& f) { Pressed(f.ConnectCB); }, none,
       [](MainForm& f) { return !f.link().port_connected(); }},
      {"Port and baud rate", 3, [](MainForm& f) { f.ComPort_CB.SetListIndex(2); }, none,
       [](MainForm& f) { return f.config().SerialComPort == 3 && f.ComPort_CB.list_index() == 2; }},
      {"Port and baud rate", 3, [](MainForm& f) { f.BaudRate_CB.SetListIndex(0); }, none,
       [](MainForm& f) {
         return f.config().SerialBaudRate == f.BaudRate_CB.items()[0] &&
                f.BaudRate_CB.list_index() == 0;
       }},
      {"Trigger renaming", 3, [](MainForm& f) { f.TriggerLabel[2].PerformDblClick(); }, none,
       [](MainForm& f) { return f.TriggerNameText[2].visible(); }},
      {"Without Display", 3, [](MainForm& f) { f.NoDisplayCheck.SetValue(1); }, none,
       [](MainForm& f) { return f.NoDisplayCheck.value() == 1; }},
  };
  // Level 1: asked of the gate by the Qt window's buttons, as here.
  cases.push_back({"Silence", 1,
                   [](MainForm& f) {
                     f.Guarded(Action::kSilence, [&f] { f.annunciation().Silence("window"); });
                   },
                   none, frames_only});
  cases.push_back(
      {"Lamp test", 1,
       [](MainForm& f) { f.Guarded(Action::kLampTest, [&f] { f.annunciation().LampTest(); }); },
       none, frames_only});
  cases.push_back(
      {"History", 1, [](MainForm& f) { f.Guarded(Action::kHistory, [] {}); }, none, frames_only});
  return cases;
}

class PanelAccessTest : public FormTest {
 protected:
  static UsersFile Staff() {
    static const std::string hash2 = *HashPin("1234");
    static const std::string hash3 = *HashPin("5678");
    return UsersFile{AccessMode::kOn,
                     {{"alice", AccessLevel::kLevel2, hash2, false},
                      {"carol", AccessLevel::kLevel3, hash3, false}}};
  }

  // A fresh window on a connected line, its operator logged in at level (1: nobody).
  MainForm& Connected(AccessGate& gate, int level) {
    port_.Close();
    gate_ = &gate;
    MainForm& f = Load();
    f.ConnectCB_Click();
    EXPECT_TRUE(f.link().port_connected());
    if (level > 1) {
      const char* name = level == 2 ? "alice" : "carol";
      const char* pin = level == 2 ? "1234" : "5678";
      EXPECT_EQ(gate.LogIn(MainForm::kWindowOrigin, name, pin, access_now_).outcome,
                LogInOutcome::kOk);
    }
    port_.ClearWrites();
    notices_.clear();
    return f;
  }

  // Presses the case at a window with gate and says whether it went through, checking the
  // frames, the notices and the records on the way.
  void Check(const Case& c, AccessGate& gate, int level, bool allowed, const std::string& actor) {
    MainForm& f = Connected(gate, level);
    std::vector<JournalEntry> records;
    const Connection recording =
        f.recorded().Connect([&records](const JournalEntry& e) { records.push_back(e); });
    const Frames expected = c.frames(f);
    c.press(f);
    if (c.took_effect) {
      EXPECT_EQ(c.took_effect(f), allowed);
    }
    if (allowed) {
      EXPECT_EQ(port_.writes(), expected);
      EXPECT_TRUE(notices_.empty());
      for (const JournalEntry& e : records)
        EXPECT_EQ(e.detail, actor) << e.text;
    } else {
      EXPECT_TRUE(port_.writes().empty());
      ASSERT_EQ(notices_.size(), 1u);
      EXPECT_EQ(notices_[0].text,
                c.name + std::string(" refused: level ") + std::to_string(c.needed) + " needed");
      ASSERT_EQ(records.size(), 1u);
      EXPECT_EQ(records[0].kind, JournalKind::kOperator);
      EXPECT_NE(records[0].text.find("refused: level " + std::to_string(c.needed) + " needed"),
                std::string::npos);
      EXPECT_NE(records[0].text.find("level " + std::to_string(level) + ", window"),
                std::string::npos);
    }
  }
};

TEST_F(PanelAccessTest, EveryActionAtEveryLevelSendsOrIsRefusedOnce) {
  const std::array<std::string, 3> actors = {"level 1", "operator alice, level 2",
                                             "operator carol, level 3"};
  for (const Case& c : Cases()) {
    for (int level = 1; level <= 3; ++level) {
      SCOPED_TRACE(std::string(c.name) + " at level " + std::to_string(level));
      AccessGate gate(Staff());
      Check(c, gate, level, level >= c.needed, actors[static_cast<std::size_t>(level - 1)]);
    }
  }
}

TEST_F(PanelAccessTest, WithoutAUsersFileEveryActionSendsWhatItAlwaysSent) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    AccessGate off{UsersFile{}};
    Check(c, off, 1, true, "");
    // And the same bytes with no gate at all.
    const Frames with_gate = port_.writes();
    port_.Close();
    gate_ = nullptr;
    MainForm& f = Load();
    f.ConnectCB_Click();
    port_.ClearWrites();
    c.press(f);
    EXPECT_EQ(port_.writes(), with_gate);
  }
}

TEST_F(PanelAccessTest, ARefusalAsksForALogInAndTheTickEndsAnIdleOne) {
  AccessGate gate(Staff(), std::chrono::minutes(10));
  MainForm& f = Connected(gate, 2);
  int wanted = 0;
  const Connection asked = f.login_wanted().Connect([&wanted] { ++wanted; });
  access_now_ += std::chrono::minutes(9);
  f.Touch();
  access_now_ += std::chrono::minutes(9);
  f.TRTimer_Timer();
  f.EMGReset_CB.PerformClick();
  EXPECT_EQ(wanted, 0) << "input kept the log-in alive";
  access_now_ += std::chrono::minutes(10);
  f.TRTimer_Timer();
  EXPECT_EQ(gate.Level(MainForm::kWindowOrigin), AccessLevel::kLevel1);
  f.EMGReset_CB.PerformClick();
  EXPECT_EQ(wanted, 1);
}

TEST_F(PanelAccessTest, ANameTypedAfterTheLogInEndedIsNotTaken) {
  AccessGate gate(Staff());
  MainForm& f = Connected(gate, 3);
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

}  // namespace
}  // namespace orv
