#include "platform/qt/qt_tray_notice.h"

#include <QApplication>
#include <QStyle>
#include <QSystemTrayIcon>
#include <utility>

namespace orv {

QtTrayNotice::QtTrayNotice(QString title) : title_(std::move(title)) {}

QtTrayNotice::~QtTrayNotice() = default;

bool QtTrayNotice::Show(const Notice& notice) {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
  if (!tray_) {
    QIcon icon = QApplication::windowIcon();
    if (icon.isNull()) icon = QApplication::style()->standardIcon(QStyle::SP_ComputerIcon);
    tray_ = std::make_unique<QSystemTrayIcon>(icon);
    tray_->setToolTip(title_);
    tray_->show();
  }
  const QSystemTrayIcon::MessageIcon icon =
      notice.level == NoticeLevel::kError     ? QSystemTrayIcon::Critical
      : notice.level == NoticeLevel::kWarning ? QSystemTrayIcon::Warning
                                              : QSystemTrayIcon::Information;
  tray_->showMessage(title_, QString::fromStdString(notice.text), icon);
  return true;
}

}  // namespace orv
