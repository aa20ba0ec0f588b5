#pragma once

// The one place that decides whether an operator action may happen: every action has its access
// level, every origin (the window, a web panel's peer, a local socket's user) its own log-in, and
// every log in, log out, timeout and refusal is told to whoever keeps the journal.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "access/key_pace.h"
#include "access/login_backoff.h"
#include "access/operator_actions.h"
#include "access/origin.h"
#include "access/pin_check_pool.h"
#include "access/users_file.h"
#include "platform/signal.h"

namespace orv {

// "window", "web 192.0.2.7", "local user alice".
std::string OriginText(const Origin& origin);
// The login a journal record made from the origin carries: a local socket's Unix user, a web
// panel's peer ("web 192.0.2.7"); empty for the window, whose records carry the desktop's.
std::string OriginLogin(const Origin& origin);

// kBusy: the PIN was not checked, too many checks wait already; try again.
enum class LogInOutcome { kOk, kWrongPin, kDisabled, kUnknown, kWaiting, kLevelsOff, kBusy };

struct LogInResult {
  LogInOutcome outcome = LogInOutcome::kUnknown;
  std::chrono::seconds wait{0};  // kWaiting: how long until this name may try again
};

// A log-in waiting for its PIN check: the PIN and the hash to check it against (empty: the dummy
// hash unknown and disabled names are checked against, so that the time tells no name).
struct PinCheck {
  std::uint64_t ticket = 0;
  PinLane lane = PinLane::kWindow;
  std::string pin;
  std::string hash;
};

// A log-in's first step: either its answer at once, or the check to run.
struct LogInStart {
  std::optional<LogInResult> answer;
  PinCheck check;
};

using LogInAnswer = std::function<void(const LogInResult&)>;
using AccessNowFn = std::function<AccessClock::time_point()>;

struct Decision {
  bool allowed = false;
  std::string text;  // why it was refused: "refused: level 2 needed"
  // Who acts: no operator at level 1 or with levels off, no level with levels off.
  Actor actor;
  // Refused for keys faster than a hand presses them, whatever the level: a log-in would not help.
  bool too_fast = false;
  // too_fast, and the origin was told so already in this burst.
  bool told_before = false;
};

// What a log-in dialog says: "logged in", "not logged in", "not logged in: wait 30 s". Never why
// a PIN was refused, so that nobody learns which names exist.
std::string LogInResultText(const LogInResult& result);

enum class AccessEventKind { kLogIn, kLogOut, kTimeout, kRefusedPin, kRefusedAction, kAction };

// One line for the journal.
struct AccessEvent {
  AccessEventKind kind = AccessEventKind::kAction;
  std::string operator_name;                 // the operator, or the name tried for a refused PIN
  AccessLevel level = AccessLevel::kLevel1;  // the level held at that origin afterwards
  Origin origin;
  std::optional<Action> action;  // kAction and kRefusedAction
  std::string text;              // why a PIN or an action was refused
};

// The event as a journal record says it: "Log in: alice, level 2, window".
std::string AccessEventText(const AccessEvent& event);

// A name a refused log-in tried, as its record keeps it: anyone may try any name, up to a
// request's whole size, so at most kNameTriedChars characters are kept, control characters,
// backslashes and bytes that are no UTF-8 escaped as \xNN, and a cut name ends in how long it was.
inline constexpr std::size_t kNameTriedChars = 64;
std::string NameTried(std::string_view name);

class AccessGate {
 public:
  static constexpr std::chrono::seconds kDefaultIdleTimeout = std::chrono::minutes(10);
  static constexpr int kFreeAttempts = LogInBackOff::kFreeAttempts;
  static constexpr std::chrono::seconds kFirstWait = LogInBackOff::kFirstWait;
  static constexpr std::chrono::seconds kLongestWait = LogInBackOff::kLongestWait;
  // PIN checks for web origins together, per second (and at most at once): a flood from the
  // network costs a bounded share of the checks, and the window's and local sockets' come first.
  static constexpr int kWebChecksPerSecond = 10;
  // Wrong PINs for a name from all web addresses together before the name waits at the web: a
  // guesser with many addresses gets no more guesses than this, and the window never waits.
  static constexpr int kWebFreeAttempts = 20;

  // An idle timeout of zero or less is the default.
  explicit AccessGate(UsersFile users, std::chrono::seconds idle_timeout = kDefaultIdleTimeout);

  AccessMode mode() const { return users_.mode; }

  // Allowed or refused, told to events either way (with levels off, allowed and not told). An
  // origin idle for the timeout is logged out first. The keys and switches (not View, History,
  // nor the settings that stay in the program: supervision time, port and baud rate, Without
  // Display) are held to the origin's KeyPace too, with levels off as well.
  Decision Decide(const Origin& origin, Action action, AccessClock::time_point now);

  // A log in replaces the origin's operator. A name with kFreeAttempts wrong PINs in a row at an
  // origin waits kFirstWait there after the last one, twice as long after each further wrong
  // PIN, at most kLongestWait; while it waits, no PIN is even checked. An origin has one check
  // at a time; a web origin waits its turn among kWebChecksPerSecond: the others are kBusy.
  LogInStart BeginLogIn(const Origin& origin, std::string_view name, std::string_view pin,
                        AccessClock::time_point now);
  // The check's outcome: the session, the back-off and the event. Unknown and disabled names are
  // refused whatever the check said.
  LogInResult FinishLogIn(std::uint64_t ticket, bool pin_right, AccessClock::time_point now);
  // The check could not be queued: kBusy.
  LogInResult AbandonLogIn(std::uint64_t ticket);

  // Begins, checks on the calling thread and finishes: for tools and tests. The service's loop
  // uses the LogIn below.
  LogInResult LogIn(const Origin& origin, std::string_view name, std::string_view pin,
                    AccessClock::time_point now);
  // Begins; the answer comes at once when there is no check to run, else on the loop once the
  // pool (UsePinChecks) checked the PIN, finished at now()'s time. Without a pool, as above.
  void LogIn(const Origin& origin, std::string_view name, std::string_view pin,
             const AccessNowFn& now, LogInAnswer answer);
  // A PIN checked for an act of its own (the two operators of a shift's sign-off) that logs
  // nobody in or out: the same back-off, the same pool, a wrong PIN told to events as a log-in's
  // is. kOk: a known, enabled operator and the right PIN; kLevelsOff with levels off.
  void CheckPin(const Origin& origin, std::string_view name, std::string_view pin,
                const AccessNowFn& now, LogInAnswer answer);
  // The pool checks run on; it must end before the gate. Null: checked on the calling thread.
  void UsePinChecks(PinCheckPool* pool) { pool_ = pool; }

  LogInBackOff& back_off() { return back_off_; }

  void LogOut(const Origin& origin, AccessClock::time_point now);

  // Input at the origin: keeps its log-in alive, unless it was already idle too long.
  void Touch(const Origin& origin, AccessClock::time_point now);
  // Logs out every origin idle for the timeout.
  void Tick(AccessClock::time_point now);

  // The origin's level; with levels off, level 3, since everything is allowed.
  AccessLevel Level(const Origin& origin) const;
  std::string OperatorName(const Origin& origin) const;
  // Who is logged in, and where, in the origins' order.
  std::vector<Actor> LoggedIn() const;

  Signal<const AccessEvent&> events;

 private:
  struct Session {
    std::string name;
    AccessLevel level = AccessLevel::kLevel1;
    AccessClock::time_point last_input;
  };
  struct Pending {
    Origin origin;
    std::string name;           // as tried, bounded
    std::string operator_name;  // empty: unknown or disabled, refused after the check
    AccessLevel level = AccessLevel::kLevel1;
    LogInOutcome refusal = LogInOutcome::kWrongPin;  // or unknown, disabled
    std::string why;
    bool check_only = false;  // CheckPin's: no session comes of it
  };

  // Logs out the origin when it is idle too long; true when it did.
  bool ExpireIfIdle(const Origin& origin, AccessClock::time_point now);
  bool WebTurn(AccessClock::time_point now);
  std::chrono::seconds WaitLeft(const std::string& tried, const Origin& origin,
                                AccessClock::time_point now) const;
  // tried: the name as NameTried keeps it.
  LogInResult Refuse(LogInOutcome outcome, std::string_view tried, const Origin& origin,
                     std::string why, std::chrono::seconds wait = {});
  void Report(AccessEventKind kind, std::string name, AccessLevel level, const Origin& origin,
              std::optional<Action> action = std::nullopt, std::string text = {});

  UsersFile users_;
  std::chrono::seconds idle_timeout_;
  KeyPace pace_;
  std::map<Origin, Session> sessions_;
  LogInBackOff back_off_;
  std::map<std::uint64_t, Pending> pending_;
  std::uint64_t next_ticket_ = 1;
  double web_turns_ = kWebChecksPerSecond;
  AccessClock::time_point web_since_{};
  PinCheckPool* pool_ = nullptr;
};

// Where a request at the local socket comes from: the Unix user's attached windows, or the user's
// orvandelctl when it says so (it acts only after a log-in of its own).
Origin SocketOrigin(const ActionRequest& request, const std::string& user);

// A request from origin asks the gate once: its input keeps the log-in alive, then the decision;
// allowed, it is performed as the actor the decision names, else answered with why not. A log in
// (its PIN checked here) or out is the gate's own. Without a gate, levels are off: everything is
// performed.
std::string PerformAtGate(AccessGate* gate, ActionPerformer& performer,
                          const ActionRequest& request, const Origin& origin,
                          AccessClock::time_point now);
// A log in answered once its PIN is checked off the loop (at once when nothing is checked).
void LogInAtGate(AccessGate* gate, const ActionRequest& request, const Origin& origin,
                 const AccessNowFn& now, std::function<void(const std::string&)> answer);

}  // namespace orv
