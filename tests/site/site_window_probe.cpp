// The attached window as an operator runs it, offscreen, for the installed-site test: says on
// standard output what it shows (its attach state, a lamp once lit), presses a key through the
// window's own button and logs in through its own dialog when asked; it ends a second after all
// it was asked for is done, or after SECONDS.
//   orv_site_window_probe SOCKET SECONDS [--lamp N] [--key] [--log-in NAME PIN]
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "attach/qt/qt_attached_window.h"

namespace {

struct Options {
  std::string socket;
  int seconds = 0;
  std::optional<int> lamp;
  bool key = false;
  std::string name, pin;
};

bool Parse(int argc, char** argv, Options& options) {
  if (argc < 3) return false;
  options.socket = argv[1];
  options.seconds = std::atoi(argv[2]);
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--lamp" && i + 1 < argc) {
      options.lamp = std::atoi(argv[++i]);
    } else if (arg == "--key") {
      options.key = true;
    } else if (arg == "--log-in" && i + 2 < argc) {
      options.name = argv[++i];
      options.pin = argv[++i];
    } else {
      return false;
    }
  }
  return options.seconds > 0 && (!options.lamp || (*options.lamp >= 1 && *options.lamp <= 12));
}

const char* StatusName(orv::QtAttachClient::Status status) {
  switch (status) {
    case orv::QtAttachClient::Status::kConnecting:
      return "connecting";
    case orv::QtAttachClient::Status::kAttached:
      return "attached";
    case orv::QtAttachClient::Status::kLost:
      return "lost";
    case orv::QtAttachClient::Status::kRefused:
      return "refused";
  }
  return "?";
}

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!Parse(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: orv_site_window_probe SOCKET SECONDS [--lamp N] [--key] "
                 "[--log-in NAME PIN]\n");
    return 2;
  }
  QApplication app(argc, argv);
  orv::QtAttachedWindow window(options.socket);
  window.view().show();
  using Status = orv::QtAttachClient::Status;
  std::optional<Status> shown;
  QString label;
  int attaches = 0;
  bool lit = false, pressed = false, logging_in = false;

  const auto finish = [&] {
    Say("title: " + window.view().windowTitle().toStdString());
    Say("access: " + window.access_bar().label()->text().toStdString());
    Say("attached " + std::to_string(attaches) + " times");
    QApplication::quit();
  };
  const bool goals = options.lamp || options.key || !options.name.empty();
  bool finishing = false;

  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const Status status = window.client().status();
    if (status != shown) {
      shown = status;
      if (status == Status::kAttached) ++attaches;
      Say(std::string("status: ") + StatusName(status));
    }
    if (window.attach_label()->text() != label) {
      label = window.attach_label()->text();
      Say("label: " + label.toStdString());
    }
    if (status != Status::kAttached) return;
    if (options.lamp && !lit &&
        window.window().Shape1[static_cast<std::size_t>(*options.lamp - 1)].fill_style() ==
            orv::Shape::kSolid) {
      lit = true;
      Say("lamp " + std::to_string(*options.lamp) + ": lit");
    }
    // The key once the lamp shows (or at once when none is asked for): the line is up by then.
    // With a log in asked for, once the status bar shows that operator: the key needs a level.
    const bool logged_in = options.name.empty() || window.access_bar().label()->text().contains(
                                                       QString::fromStdString(options.name));
    if (options.key && !pressed && (lit || !options.lamp) && logged_in &&
        window.panel().state().connected) {
      for (auto* button : window.view().findChildren<QAbstractButton*>()) {
        if (!button->objectName().endsWith(QStringLiteral("EMGAck_CB"))) continue;
        pressed = true;
        button->click();
        Say("key: EMG Ack pressed");
        break;
      }
    }
    // The log in through the window's own button and dialog, as an operator types it.
    auto& bar = window.access_bar();
    if (!options.name.empty() && !logging_in && bar.button()->isVisible()) {
      logging_in = true;
      bar.button()->click();
      bar.name_edit()->setText(QString::fromStdString(options.name));
      bar.pin_edit()->setText(QString::fromStdString(options.pin));
      bar.dialog()->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
      Say("log-in: typed");
    }
    // All that was asked for done: a second more for what it sent to arrive, then the end.
    if (goals && !finishing && (!options.lamp || lit) && (!options.key || pressed) && logged_in) {
      finishing = true;
      QTimer::singleShot(1000, finish);
    }
  });
  tick.start(50);
  QTimer::singleShot(options.seconds * 1000, finish);
  return QApplication::exec();
}
