#pragma once

// A web hook's server for the tests: plain or TLS on a free loopback port, answering each POST
// with a set status (and Location), or never; it keeps every request it read whole.

#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>

namespace orv::test {

struct HookRequest {
  QByteArray method;
  QByteArray path;
  QMap<QByteArray, QByteArray> headers;  // names in lower case
  QByteArray body;
};

class HookServer : public QObject {
 public:
  // Plain HTTP; with a certificate and key, HTTPS.
  explicit HookServer(const QSslConfiguration* tls = nullptr)
      : server_(tls ? new QSslServer(this) : new QTcpServer(this)) {
    if (tls) static_cast<QSslServer*>(server_)->setSslConfiguration(*tls);
    connect(server_, &QTcpServer::pendingConnectionAvailable, this, [this] {
      while (QTcpSocket* socket = server_->nextPendingConnection())
        Serve(socket);
    });
    server_->listen(QHostAddress::LocalHost);
  }

  int port() const { return server_->serverPort(); }
  QString Url(const QString& scheme, const QString& path) const {
    return scheme + "://127.0.0.1:" + QString::number(port()) + path;
  }

  int status = 200;
  QByteArray location;  // a Location header when set
  bool silent = false;  // reads the request and never answers
  bool hold = false;    // answers the head, then never the body it announced
  QList<HookRequest> requests;

 private:
  void Serve(QTcpSocket* socket) {
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
      buffer->append(socket->readAll());
      const qsizetype head_end = buffer->indexOf("\r\n\r\n");
      if (head_end < 0) return;
      HookRequest request;
      const QList<QByteArray> lines = buffer->left(head_end).split('\n');
      const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
      request.method = first.value(0);
      request.path = first.value(1);
      for (const QByteArray& line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        request.headers[line.left(colon).trimmed().toLower()] = line.mid(colon + 1).trimmed();
      }
      const qsizetype length = request.headers.value("content-length").toLongLong();
      if (buffer->size() < head_end + 4 + length) return;
      request.body = buffer->mid(head_end + 4, length);
      buffer->clear();
      requests.append(request);
      if (silent) return;
      QByteArray answer = "HTTP/1.1 " + QByteArray::number(status) + " Whatever\r\n";
      if (!location.isEmpty()) answer += "Location: " + location + "\r\n";
      if (hold) {
        socket->write(answer + "Content-Length: 100000000\r\n\r\nthe start");
        return;
      }
      answer += "Content-Length: 2\r\nConnection: close\r\n\r\nok";
      socket->write(answer);
      socket->disconnectFromHost();
    });
  }

  QTcpServer* server_;
};

}  // namespace orv::test
