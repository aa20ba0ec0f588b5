#include "access/qt/qt_pin_checks.h"

#include "access/login_backoff_file.h"
#include "access/pin_hash.h"

namespace orv {

QtPinChecks::QtPinChecks(AccessGate& gate, std::filesystem::path back_off_file, NoticeFn notice,
                         PinCheckPool::Limits limits)
    : gate_(gate),
      file_(std::move(back_off_file)),
      notice_(std::move(notice)),
      pool_(
          [this](std::function<void()> call) {
            QMetaObject::invokeMethod(&loop_, std::move(call), Qt::QueuedConnection);
          },
          VerifyPin,
          [] {
            // Any PIN does: the hash is only ever compared against, at the cost of a real one.
            return HashPin("00000000").value_or(std::string());
          },
          limits) {
  gate_.UsePinChecks(&pool_);
  if (file_.empty()) return;
  std::string problem;
  if (const std::optional<std::string> text = ReadLogInBackOff(file_, problem)) {
    if (!gate_.back_off().Load(*text, AccessClock::now(), std::chrono::system_clock::now(),
                               problem))
      Say(file_.string() + " is damaged (" + problem + "): the log-in back-off starts empty");
  } else if (!problem.empty()) {
    Say(problem + ": the log-in back-off starts empty");
  }
  QObject::connect(&save_timer_, &QTimer::timeout, &loop_, [this] { Save(false); });
  save_timer_.start(1000);
}

QtPinChecks::~QtPinChecks() {
  save_timer_.stop();
  if (writer_.joinable()) writer_.join();
  writing_ = false;
  if (!file_.empty()) Save(true);
  gate_.UsePinChecks(nullptr);
}

void QtPinChecks::Save(bool here) {
  if (writing_) return;  // the last write still runs: the next second
  if (writer_.joinable()) writer_.join();
  if (!gate_.back_off().changed()) return;
  std::string text = gate_.back_off().Save(AccessClock::now(), std::chrono::system_clock::now());
  if (here) {
    std::string problem;
    if (!WriteLogInBackOff(file_, text, problem)) Say(problem);
    return;
  }
  writing_ = true;
  writer_ = std::thread([this, text = std::move(text)] {
    std::string problem;
    if (!WriteLogInBackOff(file_, text, problem)) {
      QMetaObject::invokeMethod(
          &loop_,
          [this, problem] {
            gate_.back_off().SaveFailed();
            Say(problem);
          },
          Qt::QueuedConnection);
    }
    writing_ = false;
  });
}

void QtPinChecks::Say(const std::string& problem) {
  if (problem == said_) return;
  said_ = problem;
  if (notice_) notice_(Notice{NoticeLevel::kWarning, problem});
}

}  // namespace orv
