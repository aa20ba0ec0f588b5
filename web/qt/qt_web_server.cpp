#include "web/qt/qt_web_server.h"

#include <sys/ioctl.h>
#include <sys/socket.h>

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QWebSocket>
#include <algorithm>
#include <memory>

#include "platform/trusted_file.h"
#include "web/qt/qt_web_exchange.h"
#include "web/web_http.h"

namespace orv {
namespace {

// A head larger than this is not a browser's.
constexpr qint64 kMostHeadBytes = 16 * 1024;
constexpr int kPingSweeps = 5;  // a ping to every live page every 5 s
constexpr int kListenBacklog = 1024;
// A certificate chain or a key in PEM is a few KiB; this is far beyond any.
constexpr std::size_t kMostPemBytes = 1 << 20;

QByteArray ReadResource(const QString& name) {
  QFile file(name);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

// Takes each connection to the server that holds it to the bounds before anything reads it.
class QtWebServer::Listener : public QTcpServer {
 public:
  explicit Listener(QtWebServer& owner) : owner_(owner) {}
  void Pend(QTcpSocket* socket) { addPendingConnection(socket); }

 protected:
  void incomingConnection(qintptr handle) override { owner_.Accept(handle); }

 private:
  QtWebServer& owner_;
};

QtWebServer::QtWebServer(WebPanelSettings settings, Hooks hooks, NoticeFn notice, WebLimits limits)
    : settings_(std::move(settings)),
      hooks_(std::move(hooks)),
      notice_(std::move(notice)),
      connections_([&] {
        limits.max_clients = settings_.max_clients;
        limits.max_per_address = settings_.max_per_address;
        limits.max_connections = std::max(limits.max_connections, 2 * settings_.max_clients);
        return limits;
      }()),
      app_(
          hooks_.gate, hooks_.perform, [this](bool anonymous) { return feed_.Snapshot(anonymous); },
          RandomSessionToken),
      pages_server_(QStringLiteral("Orvandel"), QWebSocketServer::NonSecureMode) {
  clock_.start();
  QObject::connect(&pages_server_, &QWebSocketServer::newConnection, this, [this] { TakePage(); });
  QObject::connect(&sweeper_, &QTimer::timeout, this, [this] { Sweep(); });
}

QtWebServer::~QtWebServer() {
  for (auto& [id, page] : pages_) {
    page.socket->disconnect(this);
    page.socket->abort();
    delete page.socket;
  }
  for (auto& [id, socket] : sockets_) {
    if (socket) socket->disconnect(this);
  }
}

quint16 QtWebServer::port() const {
  return listener_ != nullptr ? listener_->serverPort() : 0;
}

bool QtWebServer::Listen(std::string& error) {
  if (settings_.tls()) {
    // The files are the site's, read as any file the settings name: never through a link, never
    // waiting on a pipe, and the key only where no one else may read it.
    std::string why;
    const std::optional<std::string> cert =
        ReadTrustedFile(settings_.cert_file, FileSecrecy::kPublic, kMostPemBytes, why);
    if (!cert) {
      error = "[WebPanel] CertFile=" + settings_.cert_file + " " + why;
      return false;
    }
    const std::optional<std::string> key =
        ReadTrustedFile(settings_.key_file, FileSecrecy::kSecret, kMostPemBytes, why);
    if (!key) {
      error = "[WebPanel] KeyFile=" + settings_.key_file + " " + why;
      return false;
    }
    const QList<QSslCertificate> chain =
        QSslCertificate::fromData(QByteArray::fromStdString(*cert), QSsl::Pem);
    QSslKey private_key(QByteArray::fromStdString(*key), QSsl::Rsa, QSsl::Pem);
    if (private_key.isNull())
      private_key = QSslKey(QByteArray::fromStdString(*key), QSsl::Ec, QSsl::Pem);
    if (chain.isEmpty() || private_key.isNull()) {
      error = "[WebPanel] CertFile=" + settings_.cert_file + " and KeyFile=" + settings_.key_file +
              " are not a PEM certificate and its key";
      return false;
    }
    tls_ = QSslConfiguration::defaultConfiguration();
    tls_.setLocalCertificateChain(chain);
    tls_.setPrivateKey(private_key);
  }
  listener_ = new Listener(*this);
  // A burst waits in the system's queue to be taken, each newcomer making room, rather than
  // having its connects dropped (and retried only a second later) behind Qt's 50.
  listener_->setListenBacklogSize(kListenBacklog);
  if (!listener_->listen(QHostAddress(QString::fromStdString(settings_.host)),
                         static_cast<quint16>(settings_.port))) {
    error = "the web panel cannot listen at " + settings_.listen + ": " +
            listener_->errorString().toStdString();
    delete listener_;
    listener_ = nullptr;
    return false;
  }
  http_.bind(listener_);
  hosts_ = WebHosts(settings_, port());
  app_.AllowHosts(hosts_);

  if (hooks_.overview) {
    RouteOverview();
    sweeper_.start(1000);
    return true;
  }
  RoutePage(QStringLiteral(":/web/index.html"));
  auto api = [this](const QHttpServerRequest& request) {
    WebResponse out;
    app_.Handle(ApiRequest(request, settings_.tls()), AccessClock::now(),
                [&out](WebResponse response) { out = std::move(response); });
    return QtResponse(out);
  };
  std::vector<std::string> paths = WebActionPaths();
  paths.insert(paths.end(), {"/api/state", "/api/logout"});
  for (const std::string& path : paths)
    http_.route(QString::fromStdString(path), api);
  // A log in is answered once its PIN is checked off the loop; a connection closed meanwhile
  // gets nothing. (Qt 6.4's answer through a QFuture fails in the server's continuation.)
  http_.route(QStringLiteral("/api/login"),
              [this](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
                auto later = std::make_shared<QHttpServerResponder>(std::move(responder));
                const QPointer<QTcpSocket> socket = later->socket();
                app_.Handle(ApiRequest(request, settings_.tls()), AccessClock::now(),
                            [later, socket](WebResponse out) {
                              if (socket) QtResponse(out).write(std::move(*later));
                            });
              });

  // The newest records for the first page; later ones as they are committed.
  ReadNewRecords();
  sweeper_.start(1000);
  return true;
}

void QtWebServer::RoutePage(const QString& resource) {
  const QByteArray page = ReadResource(resource);
  http_.route(QStringLiteral("/"), [this, page](const QHttpServerRequest& request) {
    // A later request of a kept-alive connection is not routed by its head: asked here.
    if (const int refusal = HostRefusal(Header(request, "host"), hosts_); refusal != 0)
      return QHttpServerResponse(static_cast<QHttpServerResponse::StatusCode>(refusal));
    QHttpServerResponse response(QByteArrayLiteral("text/html; charset=utf-8"), page);
    response.addHeader(QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-store"));
    // Never inside another site's frame, where a click could be stolen.
    response.addHeader(QByteArrayLiteral("Content-Security-Policy"),
                       QByteArrayLiteral("frame-ancestors 'none'"));
    return response;
  });
}

void QtWebServer::RouteOverview() {
  RoutePage(QStringLiteral(":/web/overview.html"));
  http_.route(QStringLiteral("/api/overview"), [this](const QHttpServerRequest& request) {
    if (const int refusal = HostRefusal(Header(request, "host"), hosts_); refusal != 0)
      return QHttpServerResponse(static_cast<QHttpServerResponse::StatusCode>(refusal));
    QHttpServerResponse response(QByteArrayLiteral("application/json"),
                                 QByteArray::fromStdString(hooks_.overview()));
    response.addHeader(QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-store"));
    return response;
  });
}

void QtWebServer::Accept(qintptr handle) {
  // Ours until a server takes it; whatever is still open when the panel ends goes with it.
  QTcpSocket* socket =
      settings_.tls() ? static_cast<QTcpSocket*>(new QSslSocket(this)) : new QTcpSocket(this);
  if (!socket->setSocketDescriptor(handle)) {
    delete socket;
    return;
  }
  QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
  // Qt's server writes a response in pieces: without this each would wait for the peer's
  // delayed acknowledgement.
  socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
  const std::string peer = PeerText(socket->peerAddress());
  const WebConnections::Admission admission = connections_.Open(peer, Now());
  if (admission.closed != 0) Evict(admission.closed);
  const int id = admission.id;
  if (id == 0) {
    Refuse(socket, 503, "Service Unavailable",
           "every place the web panel has for " + peer + " is a live page");
    socket->disconnectFromHost();
    return;
  }
  // A visitor's request is often here before the connection is taken: it has been heard, and
  // a crowd taken after it in the same burst does not count it as silent.
  if (int waiting = 0; ::ioctl(static_cast<int>(handle), FIONREAD, &waiting) == 0 && waiting > 0)
    connections_.Arrived(id, Now());
  sockets_[id] = socket;
  QObject::connect(socket, &QObject::destroyed, this, [this, id] {
    if (sockets_.erase(id) != 0) connections_.Close(id);
  });
  // A response went out: the next request is counted afresh.
  QObject::connect(socket, &QIODevice::bytesWritten, this,
                   [this, id] { connections_.Responded(id, Now()); });
  // Routed at its first whole head; until then nothing reads it.
  QObject::connect(socket, &QIODevice::readyRead, this, [this, id, socket] { Route(id, socket); });
  if (auto* tls = qobject_cast<QSslSocket*>(socket)) {
    tls->setSslConfiguration(tls_);
    QObject::connect(tls, &QSslSocket::sslErrors, tls, [tls] { tls->abort(); });
    tls->startServerEncryption();
  }
}

void QtWebServer::Route(int id, QTcpSocket* socket) {
  connections_.Arrived(id, Now());
  const QByteArray bytes = socket->peek(kMostHeadBytes);
  const RequestHead head =
      ParseRequestHead(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  if (!head.complete) {
    if (bytes.size() >= kMostHeadBytes)
      Refuse(socket, 431, "Request Header Fields Too Large", "the request's head is too large");
    return;
  }
  // Only for the panel's own names: a page of another site whose name was pointed here would
  // otherwise read the state and follow it live.
  if (const int refusal = HostRefusal(head.Header("host"), hosts_); refusal == 400) {
    Refuse(socket, 400, "Bad Request", "a request must name this panel's host");
    return;
  } else if (refusal != 0) {
    Refuse(socket, 421, "Misdirected Request", "this panel does not answer for that host");
    return;
  }
  QObject::disconnect(socket, &QIODevice::readyRead, this, nullptr);
  if (!IsPageUpgrade(head) || hooks_.overview) {
    ServeHttp(id, socket);
    return;
  }
  // A page of another site may not follow this one live.
  const std::string origin = head.Header("origin");
  if (!origin.empty() && !SameOrigin(origin, head.Header("host"))) {
    Refuse(socket, 403, "Forbidden", "refused: not from this panel's page");
    return;
  }
  if (!connections_.Upgrade(id, Now())) {
    Refuse(socket, 503, "Service Unavailable",
           "the web panel has " + std::to_string(connections_.pages()) +
               " live pages, as many as it takes");
    return;
  }
  // The WebSocket server owns it from here; its page is known again by its peer.
  socket->disconnect(this);
  sockets_.erase(id);
  // Whether it sees an operator's view is the session its cookie at the upgrade names: a browser
  // that logs in later opens its live page again.
  upgrading_[{socket->peerAddress().toString(), socket->peerPort()}] = {
      id, Viewer{PeerText(socket->peerAddress()), head.Header("cookie")}};
  pages_server_.handleConnection(socket);
  emit socket->readyRead();  // the head it has to read is here already
}

void QtWebServer::ServeHttp(int id, QTcpSocket* socket) {
  // Counted before Qt's server reads them: connected first, this runs first.
  QObject::connect(socket, &QIODevice::readyRead, this,
                   [this, id, socket] { Counted(id, socket); });
  listener_->Pend(socket);
  // The head waits in the socket already: both read it once the server has taken the socket.
  QMetaObject::invokeMethod(
      socket, [socket] { emit socket->readyRead(); }, Qt::QueuedConnection);
}

void QtWebServer::Counted(int id, QTcpSocket* socket) {
  if (connections_.Received(id, static_cast<std::size_t>(socket->bytesAvailable()), Now())) return;
  Refuse(socket, 413, "Payload Too Large",
         "a request may have at most " + std::to_string(connections_.limits().max_request_bytes) +
             " bytes");
}

void QtWebServer::Refuse(QTcpSocket* socket, int status, const char* reason,
                         const std::string& text) {
  // Whatever comes from now on is read and dropped, so that nothing else parses it (Qt's server
  // would gather a body of any length) and the peer gets the answer instead of a reset; the idle
  // bound ends the connection.
  QObject::disconnect(socket, &QIODevice::readyRead, nullptr, nullptr);
  socket->readAll();
  QObject::connect(socket, &QIODevice::readyRead, this, [socket] { socket->readAll(); });
  const std::string response = ClosingResponse(status, reason, text);
  socket->write(response.data(), static_cast<qint64>(response.size()));
  if (qobject_cast<QSslSocket*>(socket) != nullptr) {
    socket->disconnectFromHost();
    return;
  }
  // Plain TCP: the answer, then our half of the connection closed once it is written.
  QObject::connect(socket, &QIODevice::bytesWritten, this, [socket] {
    if (socket->bytesToWrite() == 0)
      ::shutdown(static_cast<int>(socket->socketDescriptor()), SHUT_WR);
  });
  socket->flush();
}

void QtWebServer::TakePage() {
  while (QWebSocket* socket = pages_server_.nextPendingConnection()) {
    const auto found = upgrading_.find({socket->peerAddress().toString(), socket->peerPort()});
    if (found == upgrading_.end()) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    const int id = found->second.id;
    pages_[id] = Page{socket, 0, std::move(found->second.viewer)};
    upgrading_.erase(found);
    connections_.Heard(id, Now());
    // A page sends nothing the panel needs; what it sends is small or it is dropped.
    socket->setMaxAllowedIncomingFrameSize(4096);
    socket->setMaxAllowedIncomingMessageSize(4096);
    QObject::connect(socket, &QWebSocket::disconnected, this, [this, id] { DropPage(id); });
    QObject::connect(socket, &QWebSocket::pong, this,
                     [this, id] { connections_.Heard(id, Now()); });
    QObject::connect(socket, &QWebSocket::textMessageReceived, this,
                     [this, id] { connections_.Heard(id, Now()); });
    QObject::connect(socket, &QWebSocket::bytesWritten, this, [this, id](qint64 written) {
      const auto page = pages_.find(id);
      if (page != pages_.end())
        page->second.queued = std::max<std::int64_t>(0, page->second.queued - written);
    });
  }
}

void QtWebServer::Send(int id, const std::string& message) {
  Page& page = pages_[id];
  // A page that stopped reading is dropped before its backlog grows past the bound.
  page.queued += static_cast<std::int64_t>(message.size());
  if (page.queued > static_cast<std::int64_t>(connections_.limits().max_queue_bytes)) {
    DropPage(id);
    return;
  }
  page.socket->sendTextMessage(QString::fromStdString(message));
}

void QtWebServer::DropPage(int id) {
  connections_.Close(id);
  const auto found = pages_.find(id);
  if (found == pages_.end()) return;
  QWebSocket* socket = found->second.socket;
  pages_.erase(found);
  socket->disconnect(this);
  socket->abort();
  socket->deleteLater();
}

void QtWebServer::Evict(int id) {
  // Already let go of by the bounds: its socket goes, and its deletion finds nothing to close.
  if (const auto found = sockets_.find(id); found != sockets_.end()) {
    QPointer<QTcpSocket> socket = found->second;
    sockets_.erase(found);
    if (socket) socket->abort();
  }
}

void QtWebServer::Sweep() {
  const std::int64_t now = Now();
  for (const int id : connections_.Idle(now)) {
    if (pages_.count(id) != 0) {
      DropPage(id);
    } else if (const auto found = sockets_.find(id); found != sockets_.end() && found->second) {
      found->second->abort();  // its close deletes it, and its deletion closes the entry
    } else {
      connections_.Close(id);  // a handshake that never ended, a socket gone unnoticed
    }
  }
  std::erase_if(upgrading_, [this](const auto& entry) {
    return pages_.count(entry.second.id) != 0 || !connections_.IsOpen(entry.second.id);
  });
  if (++sweeps_ % kPingSweeps == 0) {
    for (auto& [id, page] : pages_)
      page.socket->ping();
  }
}

void QtWebServer::Tick() {
  SendByViewer(feed_.Tick(hooks_.state()));
}

void QtWebServer::Committed(std::int64_t) {
  ReadNewRecords();
}

void QtWebServer::ReadNewRecords() {
  if (hooks_.journal.empty()) return;
  // The journal's file comes with its first commit: looked for again until it is there.
  if (!reader_.is_open() && !reader_.Open(hooks_.journal).ok()) return;
  std::vector<JournalRow> rows;
  if (feed_.newest_record() == 0) {
    if (!reader_.NewestFirst({}, 0, 2 * WebFeed::kEvents, rows).ok()) return;
    std::reverse(rows.begin(), rows.end());
  } else if (!reader_.OldestFirst({}, feed_.newest_record(), 0, 2 * WebFeed::kEvents, rows).ok()) {
    return;
  }
  SendByViewer(feed_.Records(rows));
}

void QtWebServer::SendByViewer(const WebFeed::Messages& messages) {
  // Asked each time: a log-in that ended (logged out, timed out, replaced) leaves its page a
  // viewer's.
  std::vector<std::pair<int, bool>> viewers;
  for (const auto& [id, page] : pages_) {
    WebRequest request;
    request.peer = page.viewer.peer;
    request.cookie = page.viewer.cookie;
    viewers.emplace_back(id, !app_.SignedIn(request));
  }
  for (const auto& [id, anonymous] : viewers) {
    const std::string& message = anonymous ? messages.anonymous : messages.operators;
    if (!message.empty()) Send(id, message);
  }
}

}  // namespace orv
