#include "platform/qt/qt_notice_bar.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QStringList>
#include <QStyle>
#include <QVBoxLayout>

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
  // A click anywhere on the notice opens the list.
  for (QWidget* part :
       {static_cast<QWidget*>(pane), static_cast<QWidget*>(icon_), static_cast<QWidget*>(text_)})
    part->installEventFilter(this);
  // One height, with or without a notice: the controls above never move.
  setFixedHeight(sizeHint().height());
}

void QtNoticeBar::Follow(NoticeLog& log) {
  log_ = &log;
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

bool QtNoticeBar::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && log_ != nullptr &&
      !log_->entries().empty()) {
    ShowList();
    return true;
  }
  return QStatusBar::eventFilter(watched, event);
}

QWidget* QtNoticeBar::ShowList() {
  if (log_ == nullptr) return nullptr;
  auto* popup = new QFrame(this, Qt::Popup);
  popup->setObjectName(QStringLiteral("NoticeList"));
  popup->setAttribute(Qt::WA_DeleteOnClose);
  popup->setFrameStyle(QFrame::Box | QFrame::Plain);
  auto* list = new QListWidget(popup);
  list->setObjectName(QStringLiteral("NoticeListItems"));
  list->setWordWrap(true);
  list->setTextElideMode(Qt::ElideNone);
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list->setSelectionMode(QAbstractItemView::NoSelection);
  // Newest first, each whole: what the bar had to cut is read here.
  for (auto it = log_->entries().rbegin(); it != log_->entries().rend(); ++it)
    list->addItem(QString::fromStdString(FormatLoggedNotice(*it)));
  auto* layout = new QVBoxLayout(popup);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(list);
  popup->resize(kListWidth, kListHeight);
  // Above the bar, from its left edge: the window's controls stay in sight below the list.
  const QPoint corner = mapToGlobal(QPoint(0, 0));
  popup->move(corner.x(), corner.y() - popup->height());
  popup->show();
  return popup;
}

void QtNoticeBar::ShowLog(const NoticeLog& log) {
  ShowToolTip(log);
  const LoggedNotice* newest = log.shown();
  if (newest == nullptr) {
    icon_->clear();
    text_->SetFullText(QString());
    return;
  }
  const NoticeLevel level = newest->notice.level;
  icon_->setPixmap(style()->standardIcon(LevelIcon(level), nullptr, this).pixmap(kIconSize));
  text_->SetFullText(QString::fromStdString(newest->notice.text));
  QPalette palette;  // an empty one: the bar's own colours
  if (level == NoticeLevel::kError) palette.setColor(QPalette::WindowText, QColor(Qt::darkRed));
  text_->setPalette(palette);
}

void QtNoticeBar::ShowToolTip(const NoticeLog& log) {
  if (log.entries().empty()) {
    setToolTip(QString());
    return;
  }
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
