// The status bar's log in: its words, its button and its dialog.
#include "access/qt/qt_access_bar.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "access/login_words.h"
#include "platform/qt/qt_form_view.h"
#include "platform/qt/qt_notice_bar.h"

namespace orv {

QtAccessBar::QtAccessBar(QtFormView& view, Hooks hooks) : hooks_(std::move(hooks)) {
  label_ = new QLabel;
  label_->setObjectName(QStringLiteral("AccessLabel"));
  label_->setTextFormat(Qt::PlainText);
  view.notice_bar()->addPermanentWidget(label_);
  button_ = new QPushButton(view.notice_bar());
  button_->setObjectName(QStringLiteral("LogInButton"));
  // The designed controls keep the keyboard focus to themselves.
  button_->setFocusPolicy(Qt::NoFocus);
  view.notice_bar()->addPermanentWidget(button_);
  QObject::connect(button_, &QPushButton::clicked, button_, [this] {
    if (logged_in_) {
      hooks_.log_out();
    } else {
      AskForLogIn();
    }
  });

  dialog_ = new QDialog(&view);
  dialog_->setObjectName(QStringLiteral("LogInDialog"));
  dialog_->setWindowTitle(QObject::tr("Log in"));
  name_ = new QLineEdit(dialog_);
  name_->setObjectName(QStringLiteral("OperatorEdit"));
  name_->setMaxLength(32);
  pin_ = new QLineEdit(dialog_);
  pin_->setObjectName(QStringLiteral("PinEdit"));
  // Not even the number of digits shows.
  pin_->setEchoMode(QLineEdit::NoEcho);
  pin_->setMaxLength(64);
  message_ = new QLabel(dialog_);
  message_->setObjectName(QStringLiteral("LogInMessage"));
  message_->setTextFormat(Qt::PlainText);
  reason_ = new QLabel(dialog_);
  reason_->setObjectName(QStringLiteral("LogInReason"));
  reason_->setTextFormat(Qt::PlainText);
  reason_->setWordWrap(true);
  levels_ = new QLabel(QString::fromStdString(LevelsNeeded()), dialog_);
  levels_->setObjectName(QStringLiteral("LogInLevels"));
  levels_->setTextFormat(Qt::PlainText);
  levels_->setWordWrap(true);
  reason_->setVisible(false);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog_);
  auto* form = new QFormLayout(dialog_);
  form->addRow(reason_);
  form->addRow(QObject::tr("Operator"), name_);
  form->addRow(QObject::tr("PIN"), pin_);
  form->addRow(message_);
  form->addRow(levels_);
  form->addRow(buttons);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog_, &QDialog::reject);
  // The dialog stays open until the answer says it may close.
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog_, [this] {
    hooks_.log_in(name_->text().toStdString(), pin_->text().toStdString());
  });
  Show({});
}

void QtAccessBar::Show(const std::string& who) {
  logged_in_ = !who.empty();
  label_->setText(logged_in_ ? QString::fromStdString(who) : QObject::tr("Level 1"));
  button_->setText(logged_in_ ? QObject::tr("Log out") : QObject::tr("Log in"));
}

void QtAccessBar::LogInAnswered(const std::string& result) {
  pin_->clear();
  if (result.starts_with("logged in")) {
    message_->clear();
    dialog_->accept();
    if (refusals_ != nullptr)
      refusals_->Settle([](const Notice& n) { return SaysLevelRefusal(n.text); });
    return;
  }
  message_->setText(QString::fromStdString(result));
}

void QtAccessBar::AskForLogIn(const std::string& why) {
  if (!visible_) return;
  reason_->setText(QString::fromStdString(why));
  reason_->setVisible(!why.empty());
  pin_->clear();
  if (!dialog_->isVisible()) message_->clear();
  dialog_->open();
  (name_->text().isEmpty() ? name_ : pin_)->setFocus();
}

void QtAccessBar::SettleRefusalsIn(NoticeLog& log) {
  refusals_ = &log;
}

void QtAccessBar::SetVisible(bool visible) {
  visible_ = visible;
  label_->setVisible(visible);
  button_->setVisible(visible);
}

QtGateAccessBar::QtGateAccessBar(QtFormView& view, AccessGate& gate, Origin origin, NowFn now)
    : gate_(gate),
      origin_(std::move(origin)),
      now_(std::move(now)),
      bar_(view, {[this](const std::string& name, const std::string& pin) {
                    // Answered once the PIN is checked, off the loop.
                    gate_.LogIn(origin_, name, pin, now_,
                                [this, alive = std::weak_ptr<char>(alive_)](const LogInResult& r) {
                                  if (alive.lock()) bar_.LogInAnswered(LogInResultText(r));
                                });
                  },
                  [this] { gate_.LogOut(origin_, now_()); }}) {
  bar_.SetVisible(gate_.mode() != AccessMode::kOff);
  events_ = gate_.events.Connect([this](const AccessEvent& event) {
    if (event.origin == origin_) Refresh();
  });
  Refresh();
}

void QtGateAccessBar::Refresh() {
  const std::string name = gate_.OperatorName(origin_);
  bar_.Show(name.empty() ? std::string()
                         : name + ", level " + std::to_string(LevelNumber(gate_.Level(origin_))));
}

QtInputWatch::QtInputWatch(std::function<void()> touch) : touch_(std::move(touch)) {
  QCoreApplication::instance()->installEventFilter(this);
}

QtInputWatch::~QtInputWatch() {
  if (QCoreApplication::instance() != nullptr)
    QCoreApplication::instance()->removeEventFilter(this);
}

bool QtInputWatch::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
      touch_();
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace orv
