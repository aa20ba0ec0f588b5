#include "attach/qt/qt_attach_client.h"

#include <utility>

#include "attach/socket_trust.h"
#include "platform/users.h"

namespace orv {

QtAttachClient::QtAttachClient(std::string socket_path, AttachLimits limits)
    : path_(std::move(socket_path)), limits_(limits), reader_(limits.max_message_bytes) {
  retry_.setSingleShot(true);
  retry_.setInterval(kRetryMs);
  QObject::connect(&retry_, &QTimer::timeout, this, [this] { Connect(); });
  watchdog_.setSingleShot(true);
  watchdog_.setInterval(kSilenceMs);
  QObject::connect(&watchdog_, &QTimer::timeout, this, [this] { Lose(Status::kLost); });
  QObject::connect(&socket_, &QLocalSocket::connected, this, [this] { Trust(); });
  QObject::connect(&socket_, &QLocalSocket::readyRead, this, [this] { OnReadable(); });
  QObject::connect(&socket_, &QLocalSocket::disconnected, this, [this] {
    if (status_ != Status::kRefused) Lose(Status::kLost);
  });
  QObject::connect(&socket_, &QLocalSocket::errorOccurred, this, [this] {
    // The socket's mode keeps this user out: said with what to do, not taken for a lost service.
    if (socket_.error() == QLocalSocket::SocketAccessError) {
      refusal_ = SocketAccessRefusal(UserName(EffectiveUserId()));
      refused_by_service_ = false;
      Lose(Status::kRefused);
      return;
    }
    if (socket_.state() == QLocalSocket::UnconnectedState)
      Lose(status_ == Status::kAttached ? Status::kLost : status_);
  });
}

void QtAttachClient::Start() {
  Connect();
}

void QtAttachClient::Connect() {
  if (socket_.state() != QLocalSocket::UnconnectedState) return;
  reader_ = LineReader(limits_.max_message_bytes);
  seq_ = -1;
  trusted_ = false;
  // Until the snapshot comes it is not attached; a service that says nothing is lost. Started
  // first: the connect may be refused (or not trusted) before connectToServer returns.
  watchdog_.start();
  socket_.connectToServer(QString::fromStdString(path_));
}

bool QtAttachClient::Trust() {
  if (trusted_) return true;
  if (socket_.state() != QLocalSocket::ConnectedState) return false;
  const std::string why = SocketDistrust(path_, static_cast<int>(socket_.socketDescriptor()));
  if (!why.empty()) {
    refusal_ = why;
    refused_by_service_ = false;
    Lose(Status::kRefused);
    return false;
  }
  trusted_ = true;
  return true;
}

void QtAttachClient::Lose(Status status) {
  watchdog_.stop();
  // Not attached yet and not reached: the same status, the next try.
  if (status == Status::kConnecting && status_ == Status::kConnecting) {
    status = Status::kLost;
  }
  // Said before the close, whose disconnection would otherwise count as a lost service.
  SetStatus(status);
  if (socket_.state() != QLocalSocket::UnconnectedState) {
    socket_.abort();
  }
  // A page awaited from a lost service never comes.
  if (std::exchange(history_id_, 0) != 0) history_page_("not attached to the service", {});
  // A refused window asks again now and then: its user may be let in meanwhile.
  if (!retry_.isActive()) retry_.start(status == Status::kRefused ? kRefusedRetryMs : kRetryMs);
}

void QtAttachClient::SetStatus(Status status) {
  if (status == status_) return;
  status_ = status;
  status_changed_(status);
}

bool QtAttachClient::Send(ActionRequest action) {
  if (status_ != Status::kAttached) return false;
  action.id = next_id_++;
  const std::string line = ActionMessage(action);
  socket_.write(line.data(), static_cast<qint64>(line.size()));
  // At once, not at the event loop's next turn: a local socket takes it without waiting.
  socket_.flush();
  return true;
}

bool QtAttachClient::AskHistory(const JournalPageQuery& query) {
  if (status_ != Status::kAttached || history_id_ != 0) return false;
  history_id_ = next_id_++;
  const std::string line = HistoryRequestMessage(HistoryRequest{history_id_, query});
  socket_.write(line.data(), static_cast<qint64>(line.size()));
  socket_.flush();
  return true;
}

void QtAttachClient::OnReadable() {
  if (!Trust()) return;
  const QByteArray bytes = socket_.readAll();
  if (!reader_.Append(
          std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())))) {
    Lose(Status::kLost);
    return;
  }
  for (std::string line; reader_.Next(line);) {
    ServerMessage message;
    std::string error;
    if (!ParseServerMessage(line, state_, message, error)) {
      Lose(Status::kLost);
      return;
    }
    watchdog_.start();
    switch (message.type) {
      case ServerMessageType::kSnapshot:
        seq_ = message.seq;
        refusal_.clear();
        SetStatus(Status::kAttached);
        state_changed_(state_, message.sections);
        break;
      case ServerMessageType::kChange:
      case ServerMessageType::kHeartbeat: {
        // Numbers without a gap: a change missed would leave a section wrong until it next
        // changed, so a gap means a fresh snapshot.
        const std::int64_t expected = message.type == ServerMessageType::kChange ? seq_ + 1 : seq_;
        if (seq_ < 0 || message.seq != expected) {
          Lose(Status::kLost);
          return;
        }
        seq_ = message.seq;
        if (message.type == ServerMessageType::kChange) state_changed_(state_, message.sections);
        break;
      }
      case ServerMessageType::kResult:
        result_(message.id, message.text);
        break;
      case ServerMessageType::kHistory:
        // Only the page awaited: one asked of a service since lost is not it.
        if (message.id == history_id_ && history_id_ != 0) {
          history_id_ = 0;
          history_page_(message.text, message.page);
        }
        break;
      case ServerMessageType::kJournal:
        journal_committed_(message.seq);
        break;
      case ServerMessageType::kRefused:
        refusal_ = message.text;
        refused_by_service_ = true;
        Lose(Status::kRefused);
        return;
    }
  }
}

}  // namespace orv
