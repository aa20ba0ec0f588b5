#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "access/access_gate.h"
#include "attach/attach_protocol.h"
#include "web/web_http.h"

namespace orv {

// A request to the panel's API as Qt's server hands it over.
struct WebRequest {
  std::string method;  // "GET", "POST"
  std::string path;
  std::string peer;  // the peer's address, as the journal names it
  std::string host;  // the Host header
  std::string origin;
  std::string cookie;  // the Cookie header
  std::string body;
  bool tls = false;
};

struct WebResponse {
  int status = 200;
  std::string content_type = "application/json";
  std::string body;
  std::string set_cookie;  // empty: none
};

inline constexpr const char* kSessionCookie = "orvandel_session";

// The panel's API: the state for anyone, log in and the actions for an operator with a session
// of this browser. Every action goes through the one gate and the one perform step of the
// program, as from the web peer; without access levels the web panel stays read-only.
class WebApp {
 public:
  // The one perform step: asks the gate for the origin's action and, allowed, does it.
  using PerformFn =
      std::function<std::string(const ActionRequest&, const Origin&, AccessClock::time_point now)>;
  // The state as /api/state serves it, without the access part; anonymous: as a viewer without
  // a log-in sees it.
  using SnapshotFn = std::function<std::string(bool anonymous)>;
  // Fresh session tokens (random, hex).
  using TokenFn = std::function<std::string()>;
  static constexpr std::size_t kMostSessions = 256;

  WebApp(AccessGate* gate, PerformFn perform, SnapshotFn snapshot, TokenFn token);

  // The names it answers for; until they are given, none.
  void AllowHosts(AllowedHosts hosts) { hosts_ = std::move(hosts); }

  using AnswerFn = std::function<void(WebResponse)>;
  // Answers through answer: at once, or for a log in once its PIN is checked off the loop.
  void Handle(const WebRequest& request, AccessClock::time_point now, AnswerFn answer);

  // Whether the request's cookie names a session of its peer that the gate still holds logged
  // in: what an operator may see (asked for a live page before each record goes out).
  bool SignedIn(const WebRequest& request) { return Session(request) != nullptr; }

  // The access part of the state for this browser: {"levels":..,"operator":..,"level":..,
  // "keys":[..],"silence":..,"keyNames":{"1":"EMG",..}}.
  std::string AccessJson(const WebRequest& request, AccessClock::time_point now);

 private:
  // The origin of a request whose cookie names a session of this peer that the gate still holds
  // logged in; nothing otherwise.
  const Origin* Session(const WebRequest& request);
  // Nothing when the answer comes later through answer.
  std::optional<WebResponse> Respond(const WebRequest& request, AccessClock::time_point now,
                                     const AnswerFn& answer);
  std::optional<WebResponse> LogIn(const WebRequest& request, AccessClock::time_point now,
                                   const AnswerFn& answer);
  WebResponse LoggedIn(const WebRequest& request, const Origin& origin, const std::string& name);
  WebResponse Act(const WebRequest& request, const ActionRequest& action,
                  AccessClock::time_point now);
  std::string Cookie(const std::string& token, bool tls, bool expire) const;

  AccessGate* gate_;
  PerformFn perform_;
  SnapshotFn snapshot_;
  TokenFn token_;
  std::map<std::string, Origin> sessions_;  // token -> the peer that logged in
  AllowedHosts hosts_;
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

// The API's paths of the actions the web panel offers, by their socket names ("/api/silence",
// a key by its code: "/api/key/3"), and the action a path asks for (none for any other path).
std::vector<std::string> WebActionPaths();
std::optional<ActionRequest> WebAction(std::string_view path);

// A random session token from the system's random source: 32 bytes as 64 hex digits.
std::string RandomSessionToken();

}  // namespace orv
