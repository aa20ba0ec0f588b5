// The window's keys at a hand's pace: what goes on the line, what the status bar says and what
// the journal keeps when an operator's keys come faster (the pace itself is the access tests').

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "access/access_gate.h"
#include "access/pin_hash.h"
#include "access/refusal_summary.h"
#include "tests/form_fixture.h"

namespace orv {
namespace {

using PanelPaceTest = test::FormTest;

// Twenty presses at once: the pace's share goes out on the line; the rest is said once, asks for
// no log-in, and is recorded once and then counted.
TEST_F(PanelPaceTest, KeysFasterThanAHandsAreRefusedSaidOnceAndCounted) {
  AccessGate gate(
      UsersFile{AccessMode::kOn, {{"carol", AccessLevel::kLevel3, *HashPin("5678"), false}}});
  gate_ = &gate;
  MainForm& f = Load();
  f.ConnectCB_Click();  // the handler, not the button: no key taken from the pace
  port_.ClearWrites();
  ASSERT_EQ(gate.LogIn(MainForm::kWindowOrigin, "carol", "5678", access_now_).outcome,
            LogInOutcome::kOk);
  std::vector<std::string> records;
  const Connection recording = f.recorded().Connect([&records](const JournalEntry& e) {
    if (e.kind == JournalKind::kOperator) records.push_back(e.text);
  });
  int logins_asked = 0;
  const Connection asked = f.login_wanted().Connect([&logins_asked] { ++logins_asked; });
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
}

}  // namespace
}  // namespace orv
