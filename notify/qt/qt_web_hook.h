#pragma once

// A notification posted as JSON to a web hook (ntfy, Gotify, Matrix and chat hooks take this
// shape) through Qt Network: TLS verified against the system's CAs or only the CA file given,
// redirects not followed, the whole exchange bounded in time.

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <chrono>
#include <functional>
#include <string>

#include "notify/notify_message.h"

namespace orv {

struct WebHookSettings {
  std::string ca_file;  // empty: the system's CAs
  std::chrono::milliseconds limit{10000};
};

class QtWebHook : public QObject {
  Q_OBJECT
 public:
  // Reads the CA file now, once.
  explicit QtWebHook(const WebHookSettings& settings, QObject* parent = nullptr);

  // Posts msg to url (http or https); done is called once, later, on this object's thread, with
  // "HTTP 200" (ok for any 2xx), "HTTP 500" (not ok), or why nothing came back.
  void Post(const std::string& url, const NotifyMessage& msg,
            std::function<void(NotifyResult)> done);

  // The body: type, rule, condition, text, seq, since (ISO 8601 UTC), step and host.
  static QByteArray Body(const NotifyMessage& msg, const QString& host);

 private:
  void Answer(std::function<void(NotifyResult)> done, NotifyResult result);

  QNetworkAccessManager network_;
  QSslConfiguration tls_;
  std::string tls_problem_;  // why no https hook can be trusted (the CA file)
  std::chrono::milliseconds limit_;
};

}  // namespace orv
