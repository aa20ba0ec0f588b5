#include "attach/qt/qt_attach_server.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLocalSocket>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>

#include "attach/peer_access.h"
#include "platform/users.h"

namespace orv {

QtAttachServer::QtAttachServer(PanelCore& panel, ServiceLine line, Options options, NoticeFn notice)
    : panel_(panel),
      actions_(panel.MakeActions(std::move(line))),
      options_(std::move(options)),
      notice_(std::move(notice)),
      hub_(
          options_.limits,
          [this](const ActionRequest& action, const std::string& user) {
            // Each Unix user has its own log-in at the gate, as the socket tells who it is.
            return PerformAtGate(panel_.gate(), *actions_, action, SocketOrigin(action, user),
                                 panel_.AccessNow());
          },
          [this](const JournalPageQuery& query, const std::string& user, std::string& error) {
            return ReadHistory(query, user, error);
          }) {
  if (AccessGate* gate = panel_.gate()) ended_log_ins_ = TellEndedLogIns(*gate, hub_);
  // A log in is answered once its PIN is checked, off the loop.
  hub_.AnswerLater([this](const ActionRequest& action, const std::string& user,
                          std::function<void(const std::string&)> answer) {
    if (action.kind != ActionKind::kLogIn) return false;
    LogInAtGate(
        panel_.gate(), action, SocketOrigin(action, user),
        [this, alive = std::weak_ptr<char>(alive_)] {
          return alive.lock() ? panel_.AccessNow() : AccessClock::now();
        },
        std::move(answer));
    return true;
  });
  server_.setMaxPendingConnections(static_cast<int>(options_.limits.max_clients));
  QObject::connect(&server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_.nextPendingConnection())
      Accept(socket);
  });
}

QtAttachServer::~QtAttachServer() {
  // The windows learn of the end from their sockets' close.
  for (auto& [id, socket] : sockets_) {
    socket->disconnect(this);
    socket->abort();
  }
  server_.close();
}

bool QtAttachServer::Listen() {
  const auto refuse = [this](const std::string& why) {
    if (notice_) notice_(Notice{NoticeLevel::kError, "Windows cannot attach" + why});
    return false;
  };
  if (options_.inherited_socket >= 0) {
    // Its owner, group and mode are the socket unit's; nothing here changes them. Taken without
    // QLocalServer, which removes the socket's name when it closes: the unit keeps listening
    // through a restart, and windows must find the name there.
    const int listening = options_.inherited_socket;
    if (fcntl(listening, F_SETFL, fcntl(listening, F_GETFL) | O_NONBLOCK) != 0)
      return refuse(std::string(" on the socket systemd handed: ") + std::strerror(errno));
    auto* incoming = new QSocketNotifier(listening, QSocketNotifier::Read, this);
    QObject::connect(incoming, &QSocketNotifier::activated, this, [this, listening] {
      for (int fd;
           (fd = accept4(listening, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;) {
        auto* socket = new QLocalSocket(this);
        if (socket->setSocketDescriptor(fd)) {
          Accept(socket);
        } else {
          ::close(fd);
          delete socket;
        }
      }
    });
    return true;
  }
  const QString path = QString::fromStdString(options_.socket_path);
  // A socket left by a service that ended is taken over; one that answers is another service's.
  struct stat st {};
  if (lstat(options_.socket_path.c_str(), &st) == 0) {
    QLocalSocket probe;
    probe.connectToServer(path);
    if (probe.waitForConnected(200))
      return refuse(": another service answers at " + options_.socket_path);
    if (S_ISSOCK(st.st_mode)) QLocalServer::removeServer(path);
  }
  if (!server_.listen(path))
    return refuse(" at " + options_.socket_path + ": " + server_.errorString().toStdString());
  // Only the operators' group may connect; the peer check below holds it again. Where the
  // group exists, a socket it cannot use would turn every operator away without a word.
  const struct group* operators = getgrnam(options_.group.c_str());
  if (operators == nullptr) {
    chmod(options_.socket_path.c_str(), 0600);
    if (notice_) {
      notice_(Notice{NoticeLevel::kWarning, "There is no group " + options_.group +
                                                ": only root and this user may attach at " +
                                                options_.socket_path});
    }
    return true;
  }
  if (chown(options_.socket_path.c_str(), static_cast<uid_t>(-1), operators->gr_gid) != 0 ||
      chmod(options_.socket_path.c_str(), 0660) != 0) {
    const std::string error = std::strerror(errno);
    server_.close();
    return refuse(" at " + options_.socket_path + ": it cannot be given to the group " +
                  options_.group + " (" + error + "); run the service as a member of " +
                  options_.group + ", or from orvandel.socket");
  }
  return true;
}

void QtAttachServer::Accept(QLocalSocket* socket) {
  // A window that floods its requests is held at the bound by the socket, not by memory.
  socket->setReadBufferSize(static_cast<qint64>(options_.limits.max_request_bytes) * 4);
  auto write = [socket](const std::string& bytes) {
    socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
  };
  ucred peer{};
  socklen_t length = sizeof peer;
  const bool known = getsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET,
                                SO_PEERCRED, &peer, &length) == 0;
  const std::string user = known ? UserName(peer.uid) : std::string();
  std::string refusal = known ? PeerRefusal(peer.uid, geteuid(), options_.group)
                              : "the window's user cannot be learnt from its socket";
  // A full service or a user at their share is said here as well, so that the log shows who
  // was turned away.
  if (refusal.empty()) refusal = hub_.Refusal(user);
  int id = 0;
  if (refusal.empty()) {
    id = hub_.Attach(user, write,
                     [socket] { return static_cast<std::size_t>(socket->bytesToWrite()); });
  } else {
    write(RefusedMessage(refusal));
    if (notice_) notice_(Notice{NoticeLevel::kWarning, "A window was refused: " + refusal});
    if (options_.said) options_.said("window refused: " + refusal);
  }
  if (id == 0) {
    // Said before the close: the refusal goes out first.
    QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    socket->disconnectFromServer();
    return;
  }
  sockets_[id] = socket;
  users_[id] = user;
  if (options_.said) {
    options_.said("window attached: user " + users_[id] + " (" + std::to_string(hub_.clients()) +
                  " attached)");
  }
  QObject::connect(socket, &QLocalSocket::readyRead, this, [this, id, socket] {
    const QByteArray bytes = socket->readAll();
    if (!hub_.Received(id,
                       std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))))
      Drop(id);
  });
  QObject::connect(socket, &QLocalSocket::disconnected, this, [this, id] { Drop(id); });
}

void QtAttachServer::Drop(int id) {
  hub_.Detach(id);
  const auto found = sockets_.find(id);
  if (found == sockets_.end()) return;
  QLocalSocket* socket = found->second;
  sockets_.erase(found);
  if (options_.said) {
    options_.said("window gone: user " + users_[id] + " (" + std::to_string(hub_.clients()) +
                  " attached)");
  }
  users_.erase(id);
  socket->disconnect(this);
  socket->abort();
  socket->deleteLater();
}

void QtAttachServer::Tick() {
  // The journal is made at its first commit, in a tick before this one: what that commit wrote
  // is read from the file, what later ones write is heard.
  if (Journal* journal = panel_.journal(); journal != watched_journal_) {
    watched_journal_ = journal;
    journal_commits_ =
        journal == nullptr ? Connection{} : journal->committed().Connect([this](std::int64_t seq) {
          hub_.JournalCommitted(seq);
        });
    std::int64_t last = 0;
    if (journal != nullptr && OpenHistoryReader(*journal).empty() &&
        history_reader_.LastSequence(last).ok() && last > 0)
      hub_.JournalCommitted(last);
  }
  for (const int id : hub_.Tick(panel_.state_store().state()))
    Drop(id);
}

std::string QtAttachServer::OpenHistoryReader(const Journal& journal) {
  if (history_reader_.is_open()) return {};
  // Read-only, on a connection of its own beside the journal's writing.
  const sqlite::Result opened = history_reader_.Open(journal.file());
  return opened.ok() ? std::string()
                     : journal.file().string() + " cannot be read: " + opened.message;
}

JournalPage QtAttachServer::ReadHistory(const JournalPageQuery& query, const std::string& user,
                                        std::string& error) {
  // The history button's own gate. Not a touch of the log-in: an open window asks for new
  // records on its own, which is nobody's input.
  if (AccessGate* gate = panel_.gate()) {
    const Decision decision =
        gate->Decide(Origin{OriginKind::kLocalSocket, user}, Action::kHistory, panel_.AccessNow());
    if (!decision.allowed) {
      error = decision.text;
      return {};
    }
  }
  Journal* journal = panel_.journal();
  if (journal == nullptr) {
    error = "the service keeps no journal";
    return {};
  }
  error = OpenHistoryReader(*journal);
  if (!error.empty()) return {};
  // On the loop, as the standalone window reads its pages: a page is at most a few hundred rows
  // within a bounded span of sequence numbers (tens of milliseconds at most in a million
  // records), and a window has one page a turn at most.
  JournalPage page;
  const sqlite::Result read = ReadJournalPage(history_reader_, query, page);
  if (!read.ok()) error = "the journal cannot be read: " + read.message;
  return page;
}

}  // namespace orv
