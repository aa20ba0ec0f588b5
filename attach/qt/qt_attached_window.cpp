#include "attach/qt/qt_attached_window.h"

#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <tuple>
#include <utility>

#include "journal/qt/qt_history_button.h"
#include "journal/qt/qt_history_window.h"
#include "platform/qt/qt_notice.h"
#include "platform/qt/qt_notice_bar.h"
#include "platform/qt/qt_quit_signals.h"

namespace orv {

ServiceHistorySource::ServiceHistorySource(QtAttachClient& client) : client_(client) {
  page_ = client_.history_page().Connect([this](const std::string& error, const JournalPage& page) {
    if (Answer answer = std::exchange(waiting_, nullptr)) answer(error, page);
  });
}

void ServiceHistorySource::Read(const JournalPageQuery& query, Answer answer) {
  if (!client_.AskHistory(query)) {
    answer("not attached to the service", {});
    return;
  }
  waiting_ = std::move(answer);
}

QtAttachedWindow::QtAttachedWindow(const std::string& socket_path)
    : notices_(SystemLocalTime),
      notice_(notices_.Sink(QtLogNotices())),
      client_(socket_path),
      panel_([this](const ActionRequest& action) { client_.Send(action); }) {
  PanelWindow& window = panel_.window();
  view_ = std::make_unique<QtFormView>(window.MainFormWindow, window.controls(), window.focus,
                                       std::function<void()>{});
  view_->ShowNotices(notices_);
  line_ = std::make_unique<QtLineStatus>(*view_);
  label_ = new QLabel;
  label_->setObjectName(QStringLiteral("AttachState"));
  label_->setTextFormat(Qt::PlainText);
  view_->notice_bar()->addPermanentWidget(label_);
  // Silence and the lamp test act on the service's one annunciator, for every window.
  annunciator_bar_ = std::make_unique<QtAnnunciatorBar>(
      *view_,
      QtAnnunciatorBar::Captions{std::string(ActionName(Action::kSilence)),
                                 std::string(ActionName(Action::kLampTest))},
      [this](std::string_view where) { Ask(ActionKind::kSilence, where); },
      [this] {
        panel_.LampTestAsked();
        Ask(ActionKind::kLampTest);
      });
  // The service's conditions, acknowledged and shelved there as this window's user.
  conditions_bar_ = std::make_unique<QtConditionsBar>(
      *view_,
      [this](const std::string& id, const std::string& comment) {
        ActionRequest action;
        action.kind = ActionKind::kAcknowledge;
        std::tie(action.condition, action.text) = std::tie(id, comment);
        if (!panel_.stale()) client_.Send(action);
      },
      [this](const std::string& id, const std::string& reason, int minutes) {
        ActionRequest action;
        action.kind = ActionKind::kShelve;
        std::tie(action.condition, action.text) = std::tie(id, reason);
        action.until_ms = QDateTime::currentMSecsSinceEpoch() + std::int64_t{minutes} * 60'000;
        if (!panel_.stale()) client_.Send(action);
      });
  // The operator logs in at the service, where the gate is, under this window's Unix user.
  access_bar_ = std::make_unique<QtAccessBar>(
      *view_, QtAccessBar::Hooks{[this](const std::string& name, const std::string& pin) {
                                   ActionRequest action;
                                   action.kind = ActionKind::kLogIn;
                                   action.name = name;
                                   action.pin = pin;
                                   if (!client_.Send(action))
                                     access_bar_->LogInAnswered("not attached to the service");
                                 },
                                 [this] { Ask(ActionKind::kLogOut); }});
  access_bar_->SetVisible(false);
  access_bar_->SettleRefusalsIn(notices_);
  // The service's journal: the service's gate allows each page as the History button's.
  AddHistoryButton(*view_, std::string(ActionName(Action::kHistory)), [this] { OpenHistory(); });
  connections_.push_back(client_.journal_committed().Connect([this](std::int64_t sequence) {
    if (history_ != nullptr) history_->OnCommitted(sequence);
  }));
  connections_.push_back(
      client_.state_changed().Connect([this](const PanelState& state, unsigned sections) {
        view_->CallModel([&] { panel_.Show(state, sections); });
        if (sections & kSectionConnection) access_bar_->SetVisible(state.access_levels);
        if ((sections & kSectionLine) && !panel_.stale()) line_->Show(state.line);
        if (sections & kSectionAnnunciation) ShowAnnunciation(state);
        if (sections & kSectionConditions) conditions_bar_->Show(state.conditions);
      }));
  connections_.push_back(client_.status_changed().Connect(
      [this](QtAttachClient::Status status) { ShowStatus(status); }));
  connections_.push_back(client_.result().Connect(
      [this](std::int64_t, const std::string& result) { OnResult(result); }));
  ShowStatus(QtAttachClient::Status::kConnecting);
  client_.Start();
}

void QtAttachedWindow::ShowStatus(QtAttachClient::Status status) {
  const bool attached = status == QtAttachClient::Status::kAttached;
  view_->CallModel([&] { panel_.SetStale(!attached); });
  ShowAnnunciation(attached ? client_.state() : PanelState{});
  // Without the service nothing it says stands for now: the loss itself is what to see.
  Condition lost;
  std::tie(lost.id, lost.kind, lost.name) =
      std::tuple("service", ConditionKind::kService, "Service lost");
  conditions_bar_->Show(attached ? client_.state().conditions : std::vector<Condition>{lost});
  const std::string& path = client_.socket_path();
  QPalette palette;
  if (!attached) palette.setColor(QPalette::WindowText, QColor(Qt::red));
  label_->setPalette(palette);
  if (attached) {
    label_->setText(QString::fromStdString("Attached to the service (" + path + ")"));
    line_->Show(client_.state().line);
  } else if (status == QtAttachClient::Status::kRefused) {
    // Said on standard error too (the notices' Qt log), so that a script sees it.
    const bool by_service = client_.refused_by_service();
    notice_(Notice{NoticeLevel::kError,
                   (by_service ? "The service at " + path + " refused this window: "
                               : "This window does not attach to " + path + ": ") +
                       client_.refusal()});
    label_->setText(
        QString::fromStdString((by_service ? "Refused by the service (" : "Not attached (") + path +
                               "): " + client_.refusal()));
    line_->Show(LineStatus{"", "Not attached", true, client_.refusal(), kRefusedTitleSuffix});
  } else {
    label_->setText(QString::fromStdString("SERVICE NOT RUNNING (" + path +
                                           "): attaching again when it is back"));
    line_->Show(LineStatus{"", "Service not running", true, "", kLostTitleSuffix});
  }
}

void QtAttachedWindow::Ask(ActionKind kind, std::string_view where) {
  if (panel_.stale()) return;
  ActionRequest action;
  action.kind = kind;
  action.name = std::string(where);
  client_.Send(action);
}

void QtAttachedWindow::ShowAnnunciation(const PanelState& state) {
  const Tone tone = state.sounding == "alarm"   ? Tone::kAlarm
                    : state.sounding == "fault" ? Tone::kFault
                                                : Tone::kNone;
  annunciator_bar_->Show(Annunciation{tone, state.sounding_condition, 0});
  if (tone == playing_) return;
  if (!sound_ && tone != Tone::kNone) sound_.emplace();
  if (sound_) sound_->Play(tone);
  playing_ = tone;
}

void QtAttachedWindow::OnResult(const std::string& result) {
  if (result == kResultDone) return;
  // A log in's or log out's answer goes to the status bar's log in.
  if (result.starts_with(kResultLoggedIn)) {
    access_bar_->Show(result.substr(std::string_view(kResultLoggedIn).size()));
    access_bar_->LogInAnswered(result);
    return;
  }
  if (result == kResultLoggedOut) {
    access_bar_->Show({});
    return;
  }
  if (result.starts_with("not logged in") ||
      result == LogInResultText({LogInOutcome::kLevelsOff, {}})) {
    access_bar_->LogInAnswered(result);
    return;
  }
  // Refused for its level: the operator here is at level 1 at the service (never logged in, or
  // timed out there), and is asked to log in.
  if (result.starts_with("refused: level ")) {
    access_bar_->Show({});
    access_bar_->AskForLogIn("The service refused it: " + result.substr(9) +
                             ". Log in as an operator of that level or higher.");
  }
  notice_(Notice{NoticeLevel::kWarning, "The service did not do it: " + result});
  // A box ticked in vain shows the service's state again.
  view_->CallModel([&] { panel_.Show(client_.state(), kAllSections); });
}

void QtAttachedWindow::OpenHistory() {
  if (history_ == nullptr) history_ = new QtHistoryWindow(history_source_, view_.get());
  history_->show();
  history_->raise();
  history_->activateWindow();
}

int RunQtAttachedWindow(const std::string& socket_path) {
  // Taken from before the window is made: a quit signal while it attaches ends it all the same.
  QWidget* shown = nullptr;
  const QtQuitSignals quit_signals([&shown](int) { CloseWindowAndLeave(shown); });
  QtAttachedWindow window(socket_path);
  shown = &window.view();
  window.view().show();
  return QApplication::exec();
}

}  // namespace orv
