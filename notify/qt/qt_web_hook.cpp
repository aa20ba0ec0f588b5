#include "notify/qt/qt_web_hook.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSysInfo>
#include <QTimer>
#include <QUrl>

#include "notify/notify_text.h"
#include "platform/trusted_file.h"

namespace orv {

QtWebHook::QtWebHook(const WebHookSettings& settings, QObject* parent)
    : QObject(parent), tls_(QSslConfiguration::defaultConfiguration()), limit_(settings.limit) {
  tls_.setPeerVerifyMode(QSslSocket::VerifyPeer);
  if (settings.ca_file.empty()) return;
  // The CA file decides whom the hooks trust: only root's or the service's own.
  std::string why;
  const auto bytes = ReadTrustedFile(settings.ca_file, FileSecrecy::kPublic, 1 << 20, why);
  const auto certificates =
      bytes ? QSslCertificate::fromData(QByteArray::fromStdString(*bytes), QSsl::Pem)
            : QList<QSslCertificate>();
  if (bytes && certificates.isEmpty()) why = "it holds no PEM certificate";
  if (!why.empty()) tls_problem_ = "the CA file " + settings.ca_file + " cannot be used: " + why;
  // Only these: the system's are not asked.
  tls_.setCaCertificates(certificates);
}

QByteArray QtWebHook::Body(const NotifyMessage& msg, const QString& host) {
  const auto text = [](const std::string& s) { return QString::fromStdString(OneLine(s, 1000)); };
  QJsonObject body{{"type", text(msg.type)},
                   {"rule", text(msg.rule)},
                   {"condition", text(msg.condition)},
                   {"text", text(msg.text)},
                   {"seq", static_cast<qint64>(msg.seq)},
                   {"since", QString::fromStdString(IsoUtc(msg.since_ms))},
                   {"step", msg.step},
                   {"host", host}};
  if (!msg.instance.empty()) body.insert(QStringLiteral("instance"), text(msg.instance));
  return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

void QtWebHook::Answer(std::function<void(NotifyResult)> done, NotifyResult result) {
  QMetaObject::invokeMethod(
      this, [done = std::move(done), result = std::move(result)] { done(result); },
      Qt::QueuedConnection);
}

void QtWebHook::Post(const std::string& url, const NotifyMessage& msg,
                     std::function<void(NotifyResult)> done) {
  const QUrl address(QString::fromStdString(url), QUrl::StrictMode);
  const QString scheme = address.scheme();
  if (!address.isValid() || address.host().isEmpty() || (scheme != "http" && scheme != "https"))
    // Not said back: a hook's address often holds its token, and the answer is journalled.
    return Answer(std::move(done), {false, "refused: not an http or https URL"});
  if (scheme == "https" && !tls_problem_.empty())
    return Answer(std::move(done), {false, "refused: " + tls_problem_});
  QNetworkRequest request(address);
  request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
  request.setHeader(QNetworkRequest::UserAgentHeader, "Orvandel");
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::ManualRedirectPolicy);
  request.setSslConfiguration(tls_);
  QNetworkReply* reply = network_.post(request, Body(msg, QSysInfo::machineHostName()));
  // The whole exchange is bounded, not only each silence: a server that trickles is cut too.
  auto* limit = new QTimer(reply);
  limit->setSingleShot(true);
  connect(limit, &QTimer::timeout, reply, [reply] {
    reply->setProperty("orv_out_of_time", true);
    reply->abort();
  });
  limit->start(limit_);
  // The status is the answer: the exchange ends once it is read, and what came with it is
  // dropped, so that a server's long or endless body costs neither time nor memory.
  connect(reply, &QNetworkReply::readyRead, reply,
          [reply] { reply->skip(reply->bytesAvailable()); });
  connect(
      reply, &QNetworkReply::metaDataChanged, reply,
      [reply] {
        if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) reply->abort();
      },
      Qt::QueuedConnection);
  connect(reply, &QNetworkReply::finished, this,
          [reply, done = std::move(done), words = LimitInWords(limit_)] {
            reply->deleteLater();
            const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
            if (reply->property("orv_out_of_time").toBool())
              return done({false, "no answer within " + words});
            if (status.isValid()) {
              const int code = status.toInt();
              return done({code >= 200 && code < 300, "HTTP " + std::to_string(code)});
            }
            done({false, OneLine(reply->errorString().toStdString(), 200)});
          });
}

}  // namespace orv
