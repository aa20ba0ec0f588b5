// Access levels in the window's status bar: who is logged in and at which level, a Log in / Log
// out button, and the small log-in dialog (operator and PIN, the PIN never shown).
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string>

#include "access/access_gate.h"
#include "platform/notice_log.h"

class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;

namespace orv {

class QtFormView;

class QtAccessBar {
 public:
  struct Hooks {
    // Asks for a log in; the answer comes through LogInAnswered (at once, or from the service).
    std::function<void(const std::string& name, const std::string& pin)> log_in;
    std::function<void()> log_out;
  };

  QtAccessBar(QtFormView& view, Hooks hooks);
  QtAccessBar(const QtAccessBar&) = delete;
  QtAccessBar& operator=(const QtAccessBar&) = delete;

  // Who is logged in, "alice, level 2"; empty: nobody, level 1.
  void Show(const std::string& who);
  // What a log in came to: a "logged in" result closes the dialog; anything else ("not logged
  // in: wait 30 s") stays in it, the PIN cleared.
  void LogInAnswered(const std::string& result);
  // Opens the dialog without waiting for it: a refused action asks for a log in, saying why
  // (`why`); the button opens it without a reason. The levels the actions need are always shown.
  void AskForLogIn(const std::string& why = {});
  // From now on a log in through the dialog settles the refusal for a level that the log shows
  // (a refusal said after that is news of its own). The log must outlive the bar.
  void SettleRefusalsIn(NoticeLog& log);
  // Hidden while access levels are off.
  void SetVisible(bool visible);

  QLabel* label() const { return label_; }
  QPushButton* button() const { return button_; }
  QDialog* dialog() const { return dialog_; }
  QLineEdit* name_edit() const { return name_; }
  QLineEdit* pin_edit() const { return pin_; }
  QLabel* message() const { return message_; }
  QLabel* reason() const { return reason_; }
  QLabel* levels() const { return levels_; }

 private:
  Hooks hooks_;
  bool logged_in_ = false;
  bool visible_ = true;
  QLabel* label_ = nullptr;
  QPushButton* button_ = nullptr;
  QDialog* dialog_ = nullptr;
  QLineEdit* name_ = nullptr;
  QLineEdit* pin_ = nullptr;
  QLabel* message_ = nullptr;
  QLabel* reason_ = nullptr;
  QLabel* levels_ = nullptr;
  NoticeLog* refusals_ = nullptr;
};

// The bar over the program's own gate for one origin (the window): log in and out there, and
// show what the gate says of that origin after every one of its events, a timeout too.
class QtGateAccessBar {
 public:
  using NowFn = std::function<AccessClock::time_point()>;
  QtGateAccessBar(QtFormView& view, AccessGate& gate, Origin origin, NowFn now);

  QtAccessBar& bar() { return bar_; }

 private:
  void Refresh();

  AccessGate& gate_;
  Origin origin_;
  NowFn now_;
  QtAccessBar bar_;
  Connection events_;
  // A check's answer that comes after the bar is gone finds nothing to tell.
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

// Every key and mouse press anywhere in the program, told to touch: input keeps a log-in alive.
class QtInputWatch : public QObject {
 public:
  explicit QtInputWatch(std::function<void()> touch);
  ~QtInputWatch() override;
  QtInputWatch(const QtInputWatch&) = delete;
  QtInputWatch& operator=(const QtInputWatch&) = delete;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::function<void()> touch_;
};

}  // namespace orv
