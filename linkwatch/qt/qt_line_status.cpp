#include "linkwatch/qt/qt_line_status.h"

#include <QLabel>

#include "platform/qt/qt_form_view.h"
#include "platform/qt/qt_notice_bar.h"

namespace orv {

QtLineStatus::QtLineStatus(QtFormView& view) : view_(view) {
  port_ = new QLabel;
  port_->setObjectName(QStringLiteral("LinePort"));
  state_ = new QLabel;
  state_->setObjectName(QStringLiteral("LineState"));
  port_->setTextFormat(Qt::PlainText);
  state_->setTextFormat(Qt::PlainText);
  view_.notice_bar()->AddToPane(port_);
  view_.notice_bar()->AddToPane(state_);
}

void QtLineStatus::Show(const LineStatus& status) {
  port_->setText(QString::fromStdString(status.port));
  state_->setText(QString::fromStdString(status.state));
  QPalette palette;  // the bar's own colours, unless the controller does not answer
  if (status.alarm) palette.setColor(QPalette::WindowText, QColor(Qt::red));
  state_->setPalette(palette);
  QFont font = state_->font();
  font.setBold(status.alarm);
  state_->setFont(font);
  // Plain text in the tool tip, one counter a line.
  const QString details =
      QStringLiteral("<p style=\"white-space:pre\">") +
      QString::fromStdString(status.details).toHtmlEscaped().replace('\n', QStringLiteral("<br>")) +
      QStringLiteral("</p>");
  port_->setToolTip(details);
  state_->setToolTip(details);
  view_.SetTitleSuffix(QString::fromStdString(status.title_suffix));
}

}  // namespace orv
