#include "platform/qt/qt_message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

namespace orv {

MessageBoxFn QtMessageBox(QWidget* parent) {
  return [owner = QPointer<QWidget>(parent)](const std::string& text, const std::string& caption,
                                             MessageIcon icon) {
    QWidget* parent_now = owner ? owner.data() : QApplication::activeWindow();
    QMessageBox box(icon == MessageIcon::kStop ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok,
                    parent_now);
    box.exec();
  };
}

}  // namespace orv
