#include "platform/qt/qt_notice_bar.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QResizeEvent>
#include <QStringList>
#include <QStyle>

namespace orv {

// A one-line label that shows as much of its text as fits, ending in "…": a long notice (a path
// and the system's reason) must neither widen the window nor be cut without a sign.
class ElidedLabel : public QLabel {
 public:
  explicit ElidedLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  }
  void SetFullText(const QString& text) {
    full_text_ = text;
    Elide();
  }
  const QString& full_text() const { return full_text_; }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QLabel::resizeEvent(event);
    Elide();
  }

 private:
  void Elide() { setText(fontMetrics().elidedText(full_text_, Qt::ElideRight, width())); }

  QString full_text_;
};

namespace {

QStyle::StandardPixmap LevelIcon(NoticeLevel level) {
  switch (level) {
    case NoticeLevel::kError:
      return QStyle::SP_MessageBoxCritical;
    case NoticeLevel::kWarning:
      return QStyle::SP_MessageBoxWarning;
    case NoticeLevel::kInfo:
      break;
  }
  return QStyle::SP_MessageBoxInformation;
}

}  // namespace

QtNoticeBar::QtNoticeBar(QWidget* parent) : QStatusBar(parent) {
  setObjectName(QStringLiteral("NoticeBar"));
  // The window's size follows its controls, not a grip.
  setSizeGripEnabled(false);
  // One sunken pane across the bar, like the picture box's border: visible while empty too.
  auto* pane = new QFrame(this);
  pane_ = pane;
  pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto* layout = new QHBoxLayout(pane);
  layout->setContentsMargins(2, 1, 2, 1);
  layout->setSpacing(4);
  icon_ = new QLabel(pane);
  icon_->setObjectName(QStringLiteral("NoticeIcon"));
  icon_->setFixedSize(kIconSize, kIconSize);
  text_ = new ElidedLabel(pane);
  text_->setObjectName(QStringLiteral("NoticeText"));
  layout->addWidget(icon_);
  layout->addWidget(text_, 1);
  addWidget(pane, 1);
  // One height, with or without a notice: the controls above never move.
  setFixedHeight(sizeHint().height());
}

void QtNoticeBar::Follow(NoticeLog& log) {
  connection_ = log.changed().Connect([this, &log] { ShowLog(log); });
  ShowLog(log);
}

QString QtNoticeBar::text() const {
  return text_->full_text();
}

QLabel* QtNoticeBar::text_label() const {
  return text_;
}

void QtNoticeBar::AddToPane(QWidget* widget) {
  widget->setParent(pane_);
  pane_->layout()->addWidget(widget);
}

void QtNoticeBar::ShowLog(const NoticeLog& log) {
  const LoggedNotice* newest = log.newest();
  if (newest == nullptr) {
    icon_->clear();
    text_->SetFullText(QString());
    setToolTip(QString());
    return;
  }
  const NoticeLevel level = newest->notice.level;
  icon_->setPixmap(style()->standardIcon(LevelIcon(level), nullptr, this).pixmap(kIconSize));
  text_->SetFullText(QString::fromStdString(newest->notice.text));
  QPalette palette;  // an empty one: the bar's own colours
  if (level == NoticeLevel::kError) palette.setColor(QPalette::WindowText, QColor(Qt::darkRed));
  text_->setPalette(palette);
  // One line a notice, each cut to a readable width (the whole text is in the Qt log), as
  // escaped rich text: no notice's own characters are taken for markup either way.
  QStringList lines;
  for (auto it = log.entries().rbegin(); it != log.entries().rend(); ++it) {
    const QString line = QString::fromStdString(FormatLoggedNotice(*it));
    lines << fontMetrics().elidedText(line, Qt::ElideRight, kToolTipWidth).toHtmlEscaped();
  }
  setToolTip(QStringLiteral("<p style=\"white-space:pre\">") + lines.join(QStringLiteral("<br>")) +
             QStringLiteral("</p>"));
}

}  // namespace orv
