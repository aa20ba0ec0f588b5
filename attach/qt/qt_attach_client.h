#pragma once

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <string>

#include "attach/attach_protocol.h"
#include "panelstate/panel_state.h"
#include "platform/signal.h"

namespace orv {

// A window's side of the service's socket: attaches, keeps the service's state from its
// snapshot and numbered changes, sends actions, and attaches again on its own (every half
// second) when the service is gone. A gap in the numbers or a silence longer than three
// heartbeats counts as a lost service. Nothing is read or sent before the socket's folder and
// the program at the other end are trusted; a socket this user may not open, or one not trusted,
// is refused here, as the service refuses a user it does not let in.
class QtAttachClient : public QObject {
 public:
  enum class Status { kConnecting, kAttached, kLost, kRefused };
  static constexpr int kRetryMs = 500;
  static constexpr int kRefusedRetryMs = 5000;
  static constexpr int kSilenceMs = 3000;

  explicit QtAttachClient(std::string socket_path, AttachLimits limits = {});
  // The socket's close on the way out is not a lost service.
  ~QtAttachClient() override { QObject::disconnect(&socket_, nullptr, this, nullptr); }
  QtAttachClient(const QtAttachClient&) = delete;
  QtAttachClient& operator=(const QtAttachClient&) = delete;

  // The first try; later ones come on their own.
  void Start();
  // Numbers the action and sends it; false when not attached.
  bool Send(ActionRequest action);
  // Asks the service for a page of its journal; false when not attached or a page is awaited.
  // The page comes through history_page(), or why there is none when the service is lost.
  bool AskHistory(const JournalPageQuery& query);

  Status status() const { return status_; }
  const std::string& socket_path() const { return path_; }
  // Why this window is refused, by the service or here.
  const std::string& refusal() const { return refusal_; }
  bool refused_by_service() const { return refused_by_service_; }
  const PanelState& state() const { return state_; }

  Signal<const PanelState&, unsigned>& state_changed() { return state_changed_; }
  Signal<Status>& status_changed() { return status_changed_; }
  // An action's result: its number and what it came to.
  Signal<std::int64_t, const std::string&>& result() { return result_; }
  // The page asked for, or why there is none (not empty).
  Signal<const std::string&, const JournalPage&>& history_page() { return history_page_; }
  // The service's journal committed records up to this sequence number.
  Signal<std::int64_t>& journal_committed() { return journal_committed_; }

 private:
  void Connect();
  // Whether the connected socket may be believed; refuses it when not.
  bool Trust();
  void OnReadable();
  // The socket is closed and tried again after the retry's wait.
  void Lose(Status status);
  void SetStatus(Status status);

  std::string path_;
  AttachLimits limits_;
  QLocalSocket socket_;
  QTimer retry_;
  QTimer watchdog_;
  LineReader reader_;
  PanelState state_ = EmptyPanelState();
  std::int64_t seq_ = -1;
  std::int64_t next_id_ = 1;
  Status status_ = Status::kConnecting;
  std::string refusal_;
  bool refused_by_service_ = false;
  bool trusted_ = false;
  Signal<const PanelState&, unsigned> state_changed_;
  Signal<Status> status_changed_;
  Signal<std::int64_t, const std::string&> result_;
  std::int64_t history_id_ = 0;  // the page awaited; 0: none
  Signal<const std::string&, const JournalPage&> history_page_;
  Signal<std::int64_t> journal_committed_;
};

}  // namespace orv
