// The status bar's port and line state and the title's addition, on the offscreen platform.
#include "linkwatch/qt/qt_line_status.h"

#include <gtest/gtest.h>

#include <QTest>
#include <QtWidgets>
#include <string>

#include "linkwatch/line_status_text.h"
#include "platform/qt/qt_notice_bar.h"
#include "platform/qt/qt_tray_notice.h"
#include "tests/gui_window_fixture.h"

namespace orv {
namespace {

using test::GuiTest;

// Wired as the program wires it. (The words themselves are the link watch's tests.)
TEST_F(GuiTest, LineStatusAndTitleFollowTheLinkWatch) {
  QtFormView& view = Show();
  QtLineStatus line_status(view);
  line_status.Show(form().line_status());
  const Connection shown = form().line_status_changed().Connect(
      [&line_status](const LineStatus& status) { line_status.Show(status); });
  QLabel* state = line_status.state_label();
  const QColor normal = view.notice_bar()->palette().color(QPalette::WindowText);
  auto state_colour = [state] { return state->palette().color(QPalette::WindowText); };
  const int height = view.height();
  EXPECT_EQ(line_status.port_label()->text(), "COM1 9600,N,8,1");

  QTest::mouseClick(Find<QPushButton>("ConnectCB"), Qt::LeftButton);
  ASSERT_TRUE(form().link().port_connected());
  // The controller answers with two lamps lit and reports an event, then falls silent.
  now_ = LocalDateTime{12, 4, 14, 3, 22};
  Image("41 00");
  Report("12 00 00");
  view.CallModel([this] { Ticks(51); });  // lost after the default 5 s
  ASSERT_TRUE(form().link().watch().lost());
  EXPECT_EQ(state->text().toStdString(), form().line_status().state);
  EXPECT_EQ(state_colour(), QColor(Qt::red));
  EXPECT_EQ(view.windowTitle().toStdString(), std::string(kWindowCaption) + kNoReplyTitleSuffix);
  EXPECT_NE(state->toolTip().indexOf("Valid frames received: 2<br>"), -1)
      << state->toolTip().toStdString();
  EXPECT_EQ(view.height(), height) << "the bar keeps its height";
  ASSERT_TRUE(Settle());
  Screenshot(view.grab().toImage(), "link-lost.png");

  // A desktop without a tray (this one) shows nothing and nothing fails.
  QtTrayNotice tray(QStringLiteral("Orvandel"));
  EXPECT_EQ(tray.Show(Notice{NoticeLevel::kError, "No reply"}),
            QSystemTrayIcon::isSystemTrayAvailable());

  // The next valid frame brings the caption back exactly.
  port_.Deliver(EncodeFrame(cmd::kEmgStatus, Bytes(10, 0)));
  view.CallModel([this] { Ticks(1); });
  EXPECT_EQ(view.windowTitle().toStdString(), kWindowCaption);
  EXPECT_EQ(state_colour(), normal);
}
}  // namespace
}  // namespace orv
