// The status bar's annunciator: its words, its two buttons and their keys.
#include "annunciator/qt/qt_annunciator_bar.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>

#include "platform/qt/qt_form_view.h"
#include "platform/qt/qt_notice_bar.h"

namespace orv {
namespace {

QPushButton* AddButton(QtFormView& view, const QString& text, const char* name,
                       const QString& tip) {
  auto* button = new QPushButton(text, view.notice_bar());
  button->setObjectName(QString::fromLatin1(name));
  button->setToolTip(tip);
  // The designed controls keep the keyboard focus to themselves.
  button->setFocusPolicy(Qt::NoFocus);
  view.notice_bar()->addPermanentWidget(button);
  return button;
}

}  // namespace

QtAnnunciatorBar::QtAnnunciatorBar(QtFormView& view, const Captions& captions, SilenceFn silence,
                                   std::function<void()> lamp_test)
    : view_(view) {
  label_ = new QLabel;
  label_->setObjectName(QStringLiteral("AnnunciationLabel"));
  label_->setTextFormat(Qt::PlainText);
  label_->setVisible(false);
  view_.notice_bar()->AddToPane(label_);
  silence_ = AddButton(view_, QString::fromStdString(captions.silence), "SilenceButton",
                       QObject::tr("Stops the alarm and fault sound; a new alarm or fault sounds "
                                   "again (Esc)"));
  lamp_test_ = AddButton(view_, QString::fromStdString(captions.lamp_test), "LampTestButton",
                         QObject::tr("Lights every lamp and sounds the fault tone for 5 s; "
                                     "nothing is sent (Ctrl+T)"));
  QObject::connect(silence_, &QPushButton::clicked, silence_, [silence] { silence("window"); });
  auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), &view_);
  QObject::connect(esc, &QShortcut::activated, silence_, [silence] { silence("Esc"); });
  QObject::connect(lamp_test_, &QPushButton::clicked, lamp_test_, lamp_test);
  auto* ctrl_t = new QShortcut(QKeySequence(QStringLiteral("Ctrl+T")), &view_);
  QObject::connect(ctrl_t, &QShortcut::activated, lamp_test_, std::move(lamp_test));
}

void QtAnnunciatorBar::Show(const Annunciation& now) {
  const bool sounds = now.tone != Tone::kNone;
  const bool is_new = sounds && (now.tone != shown_.tone || now.condition != shown_.condition ||
                                 now.since_ms != shown_.since_ms);
  shown_ = now;
  label_->setVisible(sounds);
  if (!sounds) {
    label_->clear();
    return;
  }
  label_->setText(
      (now.tone == Tone::kAlarm ? QObject::tr("Alarm sounds: %1") : QObject::tr("Fault sounds: %1"))
          .arg(QString::fromStdString(now.condition)));
  QPalette palette;
  palette.setColor(QPalette::WindowText, QColor(now.tone == Tone::kAlarm ? Qt::red : Qt::darkRed));
  label_->setPalette(palette);
  QFont font = label_->font();
  font.setBold(true);
  label_->setFont(font);
  if (is_new) QApplication::alert(&view_);
}

}  // namespace orv
