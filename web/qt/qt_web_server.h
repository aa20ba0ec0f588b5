#pragma once

#include <QElapsedTimer>
#include <QHttpServer>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTimer>
#include <QWebSocketServer>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "journal/journal_query.h"
#include "platform/notice.h"
#include "web/web_app.h"
#include "web/web_bounds.h"
#include "web/web_feed.h"
#include "web/web_settings.h"

class QTcpSocket;
class QWebSocket;

namespace orv {

// The web panel on Qt's event loop: Qt's HTTP server answers the page and the API, a WebSocket
// server the live pages. (Or the site's overview: its page and its state, see Hooks.) Every
// connection is accepted here first and held to WebLimits before either sees it: their number in
// all and from one address, the size of a request, the time it may stay silent and the time a whole
// request may take.
class QtWebServer : public QObject {
 public:
  struct Hooks {
    std::function<PanelState()> state;  // the panel's state now
    WebApp::PerformFn perform;
    AccessGate* gate = nullptr;     // none: read-only
    std::filesystem::path journal;  // the journal file; empty: no events
    // Set: the server is the site's overview, not a panel. It serves the overview's page and
    // /api/overview (what this gives) alone, under the same bounds; the rest above is unused.
    std::function<std::string()> overview;
  };

  QtWebServer(WebPanelSettings settings, Hooks hooks, NoticeFn notice, WebLimits limits = {});
  ~QtWebServer() override;
  QtWebServer(const QtWebServer&) = delete;
  QtWebServer& operator=(const QtWebServer&) = delete;

  // Listens at the settings' address; false, with the reason in error, when it cannot (the
  // address taken, the certificate or key unreadable).
  bool Listen(std::string& error);
  quint16 port() const;
  // Every tick: the state's changes and heartbeat to every live page.
  void Tick();
  // The journal committed up to sequence: its new records to every live page.
  void Committed(std::int64_t sequence);

  const WebConnections& connections() const { return connections_; }

 private:
  class Listener;
  friend class Listener;

  void Accept(qintptr handle);
  void Route(int id, QTcpSocket* socket);
  void ServeHttp(int id, QTcpSocket* socket);
  void Counted(int id, QTcpSocket* socket);
  void Refuse(QTcpSocket* socket, int status, const char* reason, const std::string& text);
  void TakePage();
  // GET /: the page of the resource, for this server's own names only.
  void RoutePage(const QString& resource);
  // The overview's page and its state instead of the panel's routes.
  void RouteOverview();
  void Send(int id, const std::string& message);
  // Each live page its message: an operator's or a viewer's, as its log-in is now.
  void SendByViewer(const WebFeed::Messages& messages);
  void DropPage(int id);
  void Evict(int id);
  void Sweep();
  void ReadNewRecords();
  std::int64_t Now() const { return clock_.elapsed(); }

  WebPanelSettings settings_;
  AllowedHosts hosts_;  // known once the port is
  Hooks hooks_;
  NoticeFn notice_;
  WebConnections connections_;
  WebFeed feed_;
  WebApp app_;
  QElapsedTimer clock_;
  QSslConfiguration tls_;
  QHttpServer http_;
  Listener* listener_ = nullptr;  // owned by http_
  QWebSocketServer pages_server_;
  // Connections before and outside Qt's servers, by number.
  std::map<int, QPointer<QTcpSocket>> sockets_;
  // Who a live page is: its peer and the cookie of its upgrade, whose session is asked before
  // each record is sent.
  struct Viewer {
    std::string peer;
    std::string cookie;
  };
  struct Upgrading {
    int id = 0;
    Viewer viewer;
  };
  // Connections handed to the WebSocket server, by peer, until their handshake ends.
  std::map<std::pair<QString, quint16>, Upgrading> upgrading_;
  struct Page {
    QWebSocket* socket = nullptr;
    std::int64_t queued = 0;  // bytes sent and not yet written
    Viewer viewer;
  };
  std::map<int, Page> pages_;
  JournalReader reader_;
  QTimer sweeper_;
  int sweeps_ = 0;
};

}  // namespace orv
