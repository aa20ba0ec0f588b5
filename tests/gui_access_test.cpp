// The log in of the real Qt window over the headless window model, on the offscreen platform.
#include <gtest/gtest.h>

#include <QTest>
#include <QtWidgets>

#include "access/pin_hash.h"
#include "access/qt/qt_access_bar.h"
#include "platform/qt/qt_form_view.h"
#include "tests/form_fixture.h"

namespace orv {
namespace {

class GuiAccessTest : public test::FormTest {
 protected:
  AccessGate gate_object_{
      UsersFile{AccessMode::kOn, {{"alice", AccessLevel::kLevel2, *HashPin("1234"), false}}}};
};

TEST_F(GuiAccessTest, LogInPressEmgResetLogOutAndItIsRefusedWithTheDialog) {
  gate_ = &gate_object_;
  Load();
  form().ConnectCB_Click();
  QtFormView view(form().MainFormWindow, form().controls(), form().focus, {});
  view.ShowNotices(notice_log_);
  QtGateAccessBar access(view, gate_object_, MainForm::kWindowOrigin,
                         [this] { return access_now_; });
  const Connection asked = form().login_wanted().Connect([&access] { access.bar().AskForLogIn(); });
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  QtAccessBar& bar = access.bar();
  QWidget* reset = view.findChild<QWidget*>(QStringLiteral("EMGReset_CB"));
  ASSERT_NE(reset, nullptr);
  const auto log_in = [&](const char* pin) {
    bar.name_edit()->setText(QStringLiteral("alice"));
    QTest::keyClicks(bar.pin_edit(), QString::fromLatin1(pin));
    bar.dialog()->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  };
  port_.ClearWrites();

  QTest::mouseClick(bar.button(), Qt::LeftButton);
  ASSERT_TRUE(bar.dialog()->isVisible());
  EXPECT_EQ(bar.pin_edit()->echoMode(), QLineEdit::NoEcho);
  log_in("9999");
  EXPECT_TRUE(bar.dialog()->isVisible());
  EXPECT_EQ(bar.message()->text(), "not logged in");
  log_in("1234");
  EXPECT_FALSE(bar.dialog()->isVisible());
  EXPECT_EQ(bar.label()->text(), "alice, level 2");
  EXPECT_EQ(bar.button()->text(), "Log out");

  QTest::mouseClick(reset, Qt::LeftButton);  // (the key's frame is the window model's test)
  EXPECT_EQ(port_.writes().size(), 1U);

  QTest::mouseClick(bar.button(), Qt::LeftButton);
  EXPECT_EQ(bar.label()->text(), "Level 1");
  QTest::mouseClick(reset, Qt::LeftButton);
  EXPECT_EQ(port_.writes().size(), 1U);
  EXPECT_TRUE(bar.dialog()->isVisible()) << "the refusal asks for a log-in";
  bar.dialog()->reject();
}

}  // namespace
}  // namespace orv
