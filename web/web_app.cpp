// The API's JSON is written and read by Qt Core's JSON classes, as the attach protocol's is.
#include "web/web_app.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cstdio>
#include <random>

#include "web/web_http.h"

namespace orv {
namespace {

std::string Json(const QJsonObject& object) {
  return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

WebResponse Error(int status, const std::string& text) {
  return WebResponse{status,
                     "application/json",
                     Json({{QStringLiteral("error"), QString::fromStdString(text)}}),
                     {}};
}

}  // namespace

std::vector<std::string> WebActionPaths() {
  std::vector<std::string> paths;
  for (const OperatorAction& row : kOperatorActions) {
    // A key by its code: /api/key/3.
    if (row.web)
      paths.push_back("/api/" + std::string(row.form.wire) +
                      (row.key != 0 ? "/" + std::to_string(row.key) : ""));
  }
  return paths;
}

std::optional<ActionRequest> WebAction(std::string_view path) {
  const std::vector<std::string> paths = WebActionPaths();
  const auto found = std::ranges::find(paths, path);
  if (found == paths.end()) return std::nullopt;
  std::size_t index = static_cast<std::size_t>(found - paths.begin());
  for (const OperatorAction& row : kOperatorActions) {
    if (!row.web || index-- != 0) continue;
    ActionRequest action;
    action.kind = row.form.kind;
    action.key = row.key;
    if (row.form.kind == ActionKind::kSilence) action.name = "web";
    return action;
  }
  return std::nullopt;
}

WebApp::WebApp(AccessGate* gate, PerformFn perform, SnapshotFn snapshot, TokenFn token)
    : gate_(gate),
      perform_(std::move(perform)),
      snapshot_(std::move(snapshot)),
      token_(std::move(token)) {}

std::string WebApp::Cookie(const std::string& token, bool tls, bool expire) const {
  // Not readable by the page's script, never sent along from another site's page.
  return std::string(kSessionCookie) + "=" + token + "; Path=/; HttpOnly; SameSite=Strict" +
         (tls ? "; Secure" : "") + (expire ? "; Max-Age=0" : "");
}

const Origin* WebApp::Session(const WebRequest& request) {
  if (gate_ == nullptr) return nullptr;
  const auto found = sessions_.find(CookieValue(request.cookie, kSessionCookie));
  if (found == sessions_.end()) return nullptr;
  // A cookie carried to another address is not that operator; a log-in the gate ended (idle, or
  // replaced from the same address) is over here too.
  if (found->second.detail != request.peer) return nullptr;
  if (gate_->Level(found->second) == AccessLevel::kLevel1) {
    sessions_.erase(found);
    return nullptr;
  }
  return &found->second;
}

std::string WebApp::AccessJson(const WebRequest& request, AccessClock::time_point) {
  const bool levels = gate_ != nullptr && gate_->mode() != AccessMode::kOff;
  QJsonObject access{{QStringLiteral("levels"), levels}};
  const Origin* origin = levels ? Session(request) : nullptr;
  QJsonArray keys;
  bool silence = false, acknowledge = false, shelve = false;
  if (origin != nullptr) {
    const AccessLevel level = gate_->Level(*origin);
    access[QStringLiteral("operator")] = QString::fromStdString(gate_->OperatorName(*origin));
    access[QStringLiteral("level")] = LevelNumber(level);
    for (const OperatorAction& row : kOperatorActions) {
      if (!row.web || LevelNumber(row.level) > LevelNumber(level)) continue;
      if (row.form.kind == ActionKind::kKey) keys.append(row.key);
      if (row.form.kind == ActionKind::kSilence) silence = true;
      if (row.form.kind == ActionKind::kAcknowledge) acknowledge = true;
      if (row.form.kind == ActionKind::kShelve) shelve = true;
    }
  }
  // The keys' captions by code, as the window shows them.
  QJsonObject names;
  for (const OperatorAction& row : kOperatorActions) {
    if (row.web && row.key != 0)
      names[QString::number(row.key)] = QString::fromUtf8(row.name.data(), row.name.size());
  }
  access[QStringLiteral("keyNames")] = names;
  access[QStringLiteral("keys")] = keys;
  access[QStringLiteral("silence")] = silence;
  access[QStringLiteral("acknowledge")] = acknowledge;
  access[QStringLiteral("shelve")] = shelve;
  return Json(access);
}

void WebApp::Handle(const WebRequest& request, AccessClock::time_point now, AnswerFn answer) {
  if (std::optional<WebResponse> response = Respond(request, now, answer))
    answer(std::move(*response));
}

std::optional<WebResponse> WebApp::Respond(const WebRequest& request, AccessClock::time_point now,
                                           const AnswerFn& answer) {
  // Every request of a kept-alive connection comes here, not only its first: each is asked.
  // With the Host one of the panel's own, the Origin check below compares against it too.
  if (const int refusal = HostRefusal(request.host, hosts_); refusal != 0)
    return Error(refusal, refusal == 400 ? "no host of this panel named"
                                         : "refused: this panel does not answer for that host");
  if (request.path == "/api/state") {
    if (request.method != "GET") return Error(405, "GET only");
    // Only an operator's own browser sees who did what and who tried to log in.
    std::string body = snapshot_(!SignedIn(request));
    body.pop_back();  // the closing brace: the access part goes inside
    body += ",\"access\":" + AccessJson(request, now) + "}";
    return WebResponse{200, "application/json", std::move(body), {}};
  }
  if (request.method != "POST") return Error(404, "not found");
  // Only the panel's own page may act: a form or script of another site would carry the
  // operator's cookie along, but not this host as its Origin.
  if (!SameOrigin(request.origin, request.host))
    return Error(403, "refused: not from this panel's page");
  if (request.path == "/api/login") return LogIn(request, now, answer);
  if (request.path == "/api/logout") {
    if (const Origin* origin = Session(request)) {
      const Origin gone = *origin;
      gate_->LogOut(gone, now);
      std::erase_if(sessions_, [&gone](const auto& entry) { return entry.second == gone; });
    }
    WebResponse response{200, "application/json", "{}", Cookie("", request.tls, true)};
    return response;
  }
  std::optional<ActionRequest> action = WebAction(request.path);
  if (!action) return Error(404, "not found");
  if (action->kind == ActionKind::kAcknowledge || action->kind == ActionKind::kShelve) {
    // Nobody's body is read: a visitor without a log-in learns nothing of its form.
    if (Session(request) == nullptr) return Error(403, "refused: log in first");
    // {"condition":"fault-7","text":"…","minutes":60}: the shelf's end from this clock.
    const QJsonObject body =
        QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object();
    const QJsonValue minutes = body[QStringLiteral("minutes")];
    if (!body[QStringLiteral("condition")].isString() ||
        body[QStringLiteral("condition")].toString().size() > 64 ||
        !body[QStringLiteral("text")].isString() ||
        body[QStringLiteral("text")].toString().size() > 1024 ||
        (action->kind == ActionKind::kShelve &&
         (!minutes.isDouble() || minutes.toInt() < 1 || minutes.toInt() > 24 * 60)))
      return Error(400, "a condition, a text and (to shelve) 1 to 1440 minutes");
    action->condition = body[QStringLiteral("condition")].toString().toStdString();
    action->text = body[QStringLiteral("text")].toString().toStdString();
    if (action->kind == ActionKind::kShelve)
      action->until_ms = QDateTime::currentMSecsSinceEpoch() + minutes.toInt() * 60'000LL;
  }
  return Act(request, *action, now);
}

std::optional<WebResponse> WebApp::LogIn(const WebRequest& request, AccessClock::time_point now,
                                         const AnswerFn& answer) {
  if (gate_ == nullptr || gate_->mode() == AccessMode::kOff)
    return Error(403, "refused: access levels are off, the web panel is read-only");
  const QJsonObject body =
      QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object();
  const std::string name = body[QStringLiteral("name")].toString().toStdString();
  const std::string pin = body[QStringLiteral("pin")].toString().toStdString();
  const Origin origin{OriginKind::kWeb, request.peer};
  // Finished at the request's time: the check takes milliseconds.
  gate_->LogIn(
      origin, name, pin, [now] { return now; },
      [this, alive = std::weak_ptr<char>(alive_), request, origin, name,
       answer](const LogInResult& result) {
        if (!alive.lock()) return;
        if (result.outcome == LogInOutcome::kWaiting) {
          answer(Error(429, "refused: too many wrong PINs, try again in " +
                                std::to_string(result.wait.count()) + " s"));
        } else if (result.outcome == LogInOutcome::kBusy) {
          answer(Error(503, "busy: try again"));
        } else if (result.outcome != LogInOutcome::kOk) {
          answer(Error(403, "refused: wrong operator or PIN"));
        } else {
          answer(LoggedIn(request, origin, name));
        }
      });
  return std::nullopt;
}

WebResponse WebApp::LoggedIn(const WebRequest& request, const Origin& origin,
                             const std::string& name) {
  // One log-in per peer, as the gate holds it: an older cookie of that peer is void.
  std::erase_if(sessions_, [&origin](const auto& entry) { return entry.second == origin; });
  if (sessions_.size() >= kMostSessions) sessions_.erase(sessions_.begin());
  const std::string token = token_();
  sessions_[token] = origin;
  return WebResponse{200, "application/json",
                     Json({{QStringLiteral("operator"), QString::fromStdString(name)},
                           {QStringLiteral("level"), LevelNumber(gate_->Level(origin))}}),
                     Cookie(token, request.tls, false)};
}

WebResponse WebApp::Act(const WebRequest& request, const ActionRequest& action,
                        AccessClock::time_point now) {
  const Origin* origin = Session(request);
  if (origin == nullptr) return Error(403, "refused: log in first");
  // The one perform step asks the gate, once: the input and the decision.
  const std::string result = perform_(action, *origin, now);
  // Keys faster than a hand's are 429, so that the page keeps its session and just says so.
  const int status = result == kResultDone              ? 200
                     : result == KeyPace::RefusalText() ? 429
                     : result.starts_with("refused")    ? 403
                                                        : 409;
  return WebResponse{status,
                     "application/json",
                     Json({{QStringLiteral("result"), QString::fromStdString(result)}}),
                     {}};
}

std::string RandomSessionToken() {
  std::random_device source("/dev/urandom");
  std::string token;
  char hex[9];
  for (int i = 0; i < 8; ++i) {
    std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(source()));
    token += hex;
  }
  return token;
}

}  // namespace orv
