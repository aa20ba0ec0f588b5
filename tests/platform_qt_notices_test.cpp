// The window's status bar on the offscreen platform: the notices, and where they go before the
// window shows them. (The bar's other parts: each room's Qt tests; the one modal box: its own.)
#include <gtest/gtest.h>

#include <QtWidgets>
#include <string>
#include <tuple>
#include <vector>

#include "platform/qt/qt_form_view.h"
#include "platform/qt/qt_notice.h"
#include "platform/qt/qt_notice_bar.h"
#include "tests/gui_window_fixture.h"

namespace orv {
namespace {

using test::GuiTest;

TEST_F(GuiTest, NoticesShowInTheStatusBarNewestWithItsLevelAndTheEarlierOnesInItsToolTip) {
  // One from before the window existed waits in the log.
  notice_log_.Add({NoticeLevel::kWarning, "from start-up"});
  QtFormView& view = Show();
  QtNoticeBar* bar = view.notice_bar();
  EXPECT_EQ(bar->text(), "from start-up");
  const int height = view.height();

  // The level's icon, and the text in dark red for an error, else in the bar's own colour.
  auto shows = [bar](QStyle::StandardPixmap icon, const QColor& colour) {
    const QIcon want = bar->style()->standardIcon(icon, nullptr, bar);
    return bar->icon_label()->pixmap().toImage() == want.pixmap(bar->kIconSize).toImage() &&
           bar->text_label()->palette().color(QPalette::WindowText) == colour;
  };
  const QColor normal = bar->palette().color(QPalette::WindowText);
  EXPECT_TRUE(shows(QStyle::SP_MessageBoxWarning, normal));

  // An error, then a minute later the news that it is over: the newest shows, the rest go below.
  notice_log_.Add({NoticeLevel::kError, "EventLog.txt cannot be written"});
  EXPECT_TRUE(shows(QStyle::SP_MessageBoxCritical, Qt::darkRed));
  now_.minute += 1;
  notice_log_.Add({NoticeLevel::kInfo, "EventLog.txt is written again"});
  EXPECT_EQ(bar->text(), "EventLog.txt is written again");
  EXPECT_TRUE(shows(QStyle::SP_MessageBoxInformation, normal));
  EXPECT_EQ(bar->toolTip(),
            "<p style=\"white-space:pre\">12/04 05:22 Info: EventLog.txt is written "
            "again<br>12/04 05:21 Error: EventLog.txt cannot be written<br>12/04 "
            "05:21 Warning: from start-up</p>");

  // A notice far longer than the window is wide leaves the window as it is.
  notice_log_.Add({NoticeLevel::kInfo, std::string(2000, 'x')});
  QCoreApplication::processEvents();
  EXPECT_EQ(bar->text().size(), 2000);
  EXPECT_LT(bar->toolTip().size(), 1000) << "its line cut too";
  EXPECT_EQ(view.size(), QSize(818, height));
  const QString shown = bar->text_label()->text();
  EXPECT_LT(shown.size(), 200);
  EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << "cut with a sign";
  EXPECT_LE(bar->text_label()->geometry().right(), view.width());

  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(view.findChildren<QtNoticeBar*>().size(), 1);
}

// A notice the window's width cuts is read whole, with the earlier ones, in the list a click on
// it opens; a settled notice leaves the bar but not the list.
TEST_F(GuiTest, AClickOnTheNoticeListsTheRecentOnesWholeNewestFirst) {
  QtFormView& view = Show();
  QtNoticeBar* bar = view.notice_bar();
  auto list = [&view] { return view.findChild<QListWidget*>(QStringLiteral("NoticeListItems")); };
  QTest::mouseClick(bar->text_label(), Qt::LeftButton);
  EXPECT_EQ(list(), nullptr) << "nothing to list";

  std::string long_text = "COM1 cannot be opened:";
  for (int i = 0; i < 40; ++i)
    long_text += " /dev/serial/by-path/pci-0000";
  notice_log_.Add({NoticeLevel::kWarning, "EMG Reset refused: level 2 needed"});
  notice_log_.Add({NoticeLevel::kError, long_text});
  notice_log_.Settle([](const Notice& n) { return n.level == NoticeLevel::kError; });
  EXPECT_EQ(std::tuple(bar->text(), bar->icon_label()->pixmap().isNull()),
            std::tuple(QString(), true));
  QTest::mouseClick(bar->text_label(), Qt::LeftButton);
  ASSERT_NE(list(), nullptr);
  QStringList items;
  for (int i = 0; i < list()->count(); ++i)
    items << list()->item(i)->text();
  EXPECT_EQ(items, (QStringList{QString::fromStdString("12/04 05:21 Error: " + long_text),
                                "12/04 05:21 Warning: EMG Reset refused: level 2 needed"}));
  // Wrapped, not cut: the long one takes several lines of the list's width.
  QCoreApplication::processEvents();
  EXPECT_GT(list()->visualItemRect(list()->item(0)).height(), 4 * list()->fontMetrics().height());
  EXPECT_LE(list()->window()->width(), QtNoticeBar::kListWidth);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "a list, not a box";
  list()->window()->close();
}

TEST(QtLogNotices, EachNoticeIsOneMessageOfTheNoticeCategoryAtItsLevel) {
  static std::vector<std::tuple<QtMsgType, std::string, std::string>> logged;
  logged.clear();
  const QtMessageHandler previous = qInstallMessageHandler(
      [](QtMsgType type, const QMessageLogContext& context, const QString& m) {
        logged.emplace_back(type, context.category, m.toStdString());
      });
  const NoticeFn notice = QtLogNotices();
  notice({NoticeLevel::kError, "EventLog.txt cannot be written"});
  notice({NoticeLevel::kWarning, "w"});
  notice({NoticeLevel::kInfo, "\"quoted\" as is"});
  qInstallMessageHandler(previous);
  EXPECT_EQ(logged,
            (decltype(logged){{QtCriticalMsg, "orvandel.notice", "EventLog.txt cannot be written"},
                              {QtWarningMsg, "orvandel.notice", "w"},
                              {QtInfoMsg, "orvandel.notice", "\"quoted\" as is"}}));
}

}  // namespace
}  // namespace orv
