// The gate's checks as the program wires them: the back-off read at the start and written at the
// end, so that a restart gives no fresh guesses; a damaged file is said and starts empty. The
// status bar's Log in / Log out and the log-in dialog, on the offscreen platform.
#include <gtest/gtest.h>

#include <QTest>
#include <QtWidgets>
#include <string>
#include <vector>

#include "access/login_backoff_file.h"
#include "access/login_words.h"
#include "access/pin_hash.h"
#include "access/qt/qt_access_bar.h"
#include "access/qt/qt_pin_checks.h"
#include "platform/qt/qt_notice_bar.h"
#include "tests/gui_window_fixture.h"
#include "tests/support/wait_for.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

using test::GuiTest;

// A write that fails is said and tried again a second later, without waiting for another change.
TEST(QtPinChecks, TheBackOffOutlivesARestartADamagedFileOrAFailedWriteIsSaid) {
  const test::TempFolder folder;
  const std::filesystem::path file = folder.path() / kLogInBackOffFile;
  const UsersFile users{AccessMode::kOn, {Operator{"alice", AccessLevel::kLevel2, "$y$x", false}}};
  const Origin web{OriginKind::kWeb, "192.0.2.7"};
  std::vector<std::string> said;
  const NoticeFn notice = [&said](const Notice& n) { said.push_back(n.text); };
  {
    AccessGate gate(users);
    const QtPinChecks checks(gate, file, notice);
    for (int i = 0; i < AccessGate::kFreeAttempts; ++i)
      gate.back_off().Failed("alice", web, AccessClock::now());
  }
  EXPECT_TRUE(said.empty());
  {
    AccessGate gate(users);
    const QtPinChecks checks(gate, file, notice);
    const auto answer = gate.BeginLogIn(web, "alice", "1234", AccessClock::now()).answer;
    EXPECT_EQ(answer.value_or(LogInResult{}).outcome, LogInOutcome::kWaiting);
  }
  test::WriteBytes(file, "damaged\n");
  AccessGate damaged(users);
  const QtPinChecks checks(damaged, file, notice);
  ASSERT_EQ(said.size(), 1U);
  EXPECT_NE(said[0].find("is damaged"), std::string::npos) << said[0];

  const std::filesystem::path lost = folder.path() / "DATA" / kLogInBackOffFile;
  AccessGate gate(users);
  const QtPinChecks lost_checks(gate, lost, notice);
  gate.back_off().Failed("alice", web, AccessClock::now());
  ASSERT_TRUE(test::WaitFor([&] { return said.size() > 1; }));
  EXPECT_NE(said[1].find("cannot be created"), std::string::npos) << said[1];
  std::filesystem::create_directory(lost.parent_path());
  EXPECT_TRUE(test::WaitFor([&] { return std::filesystem::exists(lost); }));
}

TEST_F(GuiTest, LogInPressEmgResetLogOutAndItIsRefusedWithTheDialog) {
  AccessGate gate(
      UsersFile{AccessMode::kOn, {{"alice", AccessLevel::kLevel2, *HashPin("1234"), false}}});
  gate_ = &gate;
  // The PIN checked off the loop, as the program does it.
  const QtPinChecks checks(gate);
  QtFormView& view = Show();
  form().ConnectCB_Click();
  QtGateAccessBar access(view, gate, MainForm::kWindowOrigin, [this] { return access_now_; });
  const Connection asked = form().login_wanted().Connect(
      [&access](Action refused) { access.bar().AskForLogIn(LogInReason(refused)); });
  QtAccessBar& bar = access.bar();
  QWidget* reset = Find("EMGReset_CB");
  const auto log_in = [&](const char* pin) {
    bar.name_edit()->setText(QStringLiteral("alice"));
    QTest::keyClicks(bar.pin_edit(), QString::fromLatin1(pin));
    bar.dialog()->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  };
  port_.ClearWrites();

  QTest::mouseClick(bar.button(), Qt::LeftButton);
  ASSERT_TRUE(bar.dialog()->isVisible());
  EXPECT_EQ(bar.pin_edit()->echoMode(), QLineEdit::NoEcho);
  // Opened by its button: no reason, and what each level may do.
  EXPECT_TRUE(bar.reason()->isHidden());
  EXPECT_EQ(bar.levels()->text().toStdString(), LevelsNeeded());
  log_in("9999");
  // The click came back before the check: the answer comes on a later turn of the loop.
  EXPECT_EQ(bar.message()->text(), "");
  ASSERT_TRUE(test::WaitFor([&] { return !bar.message()->text().isEmpty(); }));
  EXPECT_TRUE(bar.dialog()->isVisible());
  EXPECT_EQ(bar.message()->text(), "not logged in");
  log_in("1234");
  ASSERT_TRUE(test::WaitFor([&] { return !bar.dialog()->isVisible(); }));
  EXPECT_EQ(bar.label()->text(), "alice, level 2");
  EXPECT_EQ(bar.button()->text(), "Log out");

  QTest::mouseClick(reset, Qt::LeftButton);  // (the key's frame is the window model's test)
  EXPECT_EQ(port_.writes().size(), 1U);

  QTest::mouseClick(bar.button(), Qt::LeftButton);
  EXPECT_EQ(bar.label()->text(), "Level 1");
  QTest::mouseClick(reset, Qt::LeftButton);  // (that nothing goes out is the window model's test)
  EXPECT_TRUE(bar.dialog()->isVisible()) << "the refusal asks for a log-in";
  // Saying why, and the refusal stands in the status bar until the log-in.
  EXPECT_TRUE(bar.reason()->isVisible());
  EXPECT_EQ(bar.reason()->text().toStdString(), LogInReason(Action::kEmgReset));
  QtNoticeBar* notices = view.notice_bar();
  EXPECT_EQ(notices->text(), "EMG Reset refused: level 2 needed");
  bar.SettleRefusalsIn(notice_log_);
  log_in("9999");
  ASSERT_TRUE(test::WaitFor([&] { return bar.message()->text() == "not logged in"; }));
  EXPECT_EQ(notices->text(), "EMG Reset refused: level 2 needed") << "not until it succeeds";
  log_in("1234");
  ASSERT_TRUE(test::WaitFor([&] { return !bar.dialog()->isVisible(); }));
  EXPECT_EQ(notices->text(), "");
  QTest::mouseClick(reset, Qt::LeftButton);
  EXPECT_EQ(port_.writes().size(), 2U) << "logged in, the key goes out";
}
}  // namespace
}  // namespace orv
