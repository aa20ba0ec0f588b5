// The access gate: levels of actions, log-ins per origin, the PIN back-off and the idle timeout.

#include "access/access_gate.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "access/pin_hash.h"

namespace orv {
namespace {

// The back-off's entry for all web addresses together (a peer's address is never empty).
const Origin kAnyWeb{OriginKind::kWeb, ""};

}  // namespace

std::string OriginText(const Origin& origin) {
  switch (origin.kind) {
    case OriginKind::kWindow:
      return "window";
    case OriginKind::kWeb:
      return "web " + origin.detail;
    case OriginKind::kLocalSocket:
      return "local user " + origin.detail;
    case OriginKind::kShell:
      return "orvandelctl as " + origin.detail;
  }
  return "unknown origin";
}

std::string OriginLogin(const Origin& origin) {
  switch (origin.kind) {
    case OriginKind::kLocalSocket:
    case OriginKind::kShell:
      return origin.detail;
    case OriginKind::kWeb:
      return OriginText(origin);
    case OriginKind::kWindow:
      break;
  }
  return {};
}

std::string LogInResultText(const LogInResult& result) {
  switch (result.outcome) {
    case LogInOutcome::kOk:
      return "logged in";
    case LogInOutcome::kLevelsOff:
      return "access levels are off";
    case LogInOutcome::kBusy:
      return "not logged in: busy, try again";
    case LogInOutcome::kWrongPin:
    case LogInOutcome::kDisabled:
    case LogInOutcome::kUnknown:
    case LogInOutcome::kWaiting:
      break;
  }
  if (result.wait <= std::chrono::seconds::zero()) return "not logged in";
  return "not logged in: wait " + std::to_string(result.wait.count()) + " s";
}

std::string AccessEventText(const AccessEvent& event) {
  const std::string who = event.operator_name.empty() ? "no operator" : event.operator_name;
  const std::string level = "level " + std::to_string(LevelNumber(event.level));
  const std::string where = OriginText(event.origin);
  const std::string action = event.action ? std::string(ActionName(*event.action)) : "";
  switch (event.kind) {
    case AccessEventKind::kLogIn:
      return "Log in: " + who + ", " + level + ", " + where;
    case AccessEventKind::kLogOut:
      return "Log out: " + who + ", " + where;
    case AccessEventKind::kTimeout:
      return "Log-in timed out: " + who + ", " + where;
    case AccessEventKind::kRefusedPin:
      return "Log in refused (" + event.text + "): " + who + ", " + level + ", " + where;
    case AccessEventKind::kRefusedAction:
      return action + " " + event.text + ": " + who + ", " + level + ", " + where;
    case AccessEventKind::kAction:
      break;
  }
  return action + ": " + who + ", " + level + ", " + where;
}

std::string NameTried(std::string_view name) {
  std::string shown;
  std::size_t at = 0;
  for (std::size_t chars = 0; at < name.size() && chars < kNameTriedChars; ++chars) {
    const auto byte = static_cast<unsigned char>(name[at]);
    const std::size_t length = byte < 0x80             ? 1
                               : (byte & 0xE0) == 0xC0 ? 2
                               : (byte & 0xF0) == 0xE0 ? 3
                               : (byte & 0xF8) == 0xF0 ? 4
                                                       : 0;
    bool whole = length != 0 && at + length <= name.size();
    for (std::size_t i = 1; whole && i < length; ++i)
      whole = (static_cast<unsigned char>(name[at + i]) & 0xC0) == 0x80;
    if (!whole || byte < 0x20 || byte == 0x7F || byte == '\\') {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      shown += escaped;
      ++at;
      continue;
    }
    shown.append(name.substr(at, length));
    at += length;
  }
  if (at < name.size()) shown += "... (" + std::to_string(name.size()) + " bytes)";
  return shown;
}

AccessGate::AccessGate(UsersFile users, std::chrono::seconds idle_timeout)
    : users_(std::move(users)),
      idle_timeout_(idle_timeout > std::chrono::seconds::zero() ? idle_timeout
                                                                : kDefaultIdleTimeout) {}

Decision AccessGate::Decide(const Origin& origin, Action action, AccessClock::time_point now) {
  Decision decision;
  decision.actor.origin = origin;
  if (users_.mode == AccessMode::kOff) {
    decision.allowed = true;
  } else {
    ExpireIfIdle(origin, now);
    decision.actor.level = Level(origin);
    decision.actor.operator_name = OperatorName(origin);
    const AccessLevel needed = RequiredLevel(action);
    decision.allowed = LevelNumber(*decision.actor.level) >= LevelNumber(needed);
    if (!decision.allowed)
      decision.text = "refused: level " + std::to_string(LevelNumber(needed)) + " needed";
  }
  // Only what the level allows takes a key from the bucket: refusals cost the line nothing.
  if (decision.allowed && ActionRow(action).hands_pace) {
    const KeyPace::Verdict verdict = pace_.Take(OriginText(origin), now);
    if (verdict != KeyPace::Verdict::kAllowed) {
      decision.allowed = false;
      decision.too_fast = true;
      decision.told_before = verdict == KeyPace::Verdict::kRefusedAgain;
      decision.text = KeyPace::RefusalText();
    }
  }
  if (!decision.allowed) {
    Report(AccessEventKind::kRefusedAction, decision.actor.operator_name, Level(origin), origin,
           action, decision.text);
  } else if (decision.actor.level) {
    Report(AccessEventKind::kAction, decision.actor.operator_name, *decision.actor.level, origin,
           action);
  }
  return decision;
}

LogInResult AccessGate::Refuse(LogInOutcome outcome, std::string_view tried, const Origin& origin,
                               std::string why, std::chrono::seconds wait) {
  Report(AccessEventKind::kRefusedPin, std::string(tried), Level(origin), origin, std::nullopt,
         std::move(why));
  return LogInResult{outcome, wait};
}

std::chrono::seconds AccessGate::WaitLeft(const std::string& tried, const Origin& origin,
                                          AccessClock::time_point now) const {
  const std::chrono::seconds own = back_off_.WaitLeft(tried, origin, now);
  if (origin.kind != OriginKind::kWeb) return own;
  return std::max(own, back_off_.WaitLeft(tried, kAnyWeb, now, kWebFreeAttempts));
}

bool AccessGate::WebTurn(AccessClock::time_point now) {
  const std::chrono::duration<double> since = now - web_since_;
  web_since_ = now;
  web_turns_ = std::min<double>(kWebChecksPerSecond,
                                web_turns_ + std::max(0.0, since.count()) * kWebChecksPerSecond);
  if (web_turns_ < 1) return false;
  web_turns_ -= 1;
  return true;
}

LogInStart AccessGate::BeginLogIn(const Origin& origin, std::string_view name, std::string_view pin,
                                  AccessClock::time_point now) {
  if (users_.mode == AccessMode::kOff) return {LogInResult{LogInOutcome::kLevelsOff, {}}, {}};
  ExpireIfIdle(origin, now);
  const std::string tried = NameTried(name);
  if (const auto wait = WaitLeft(tried, origin, now); wait > std::chrono::seconds::zero())
    return {Refuse(LogInOutcome::kWaiting, tried, origin,
                   "waiting " + std::to_string(wait.count()) + " s after wrong PINs", wait),
            {}};
  const bool checking = std::any_of(pending_.begin(), pending_.end(), [&](const auto& entry) {
    return entry.second.origin == origin;
  });
  if (checking || (origin.kind == OriginKind::kWeb && !WebTurn(now))) {
    return {Refuse(LogInOutcome::kBusy, tried, origin, "busy"), {}};
  }
  Pending pending{
      origin, tried, {}, AccessLevel::kLevel1, LogInOutcome::kUnknown, "unknown operator"};
  PinCheck check{next_ticket_++, PinLane::kWindow, std::string(pin), {}};
  check.lane = origin.kind == OriginKind::kWeb ? PinLane::kWeb
               : origin.kind == OriginKind::kLocalSocket || origin.kind == OriginKind::kShell
                   ? PinLane::kLocal
                   : PinLane::kWindow;
  if (const Operator* op = users_.Find(name); op != nullptr && op->disabled) {
    pending.refusal = LogInOutcome::kDisabled;
    pending.why = "operator disabled";
  } else if (op != nullptr) {
    pending.operator_name = op->name;
    pending.level = op->level;
    pending.refusal = LogInOutcome::kWrongPin;
    pending.why = "wrong PIN";
    check.hash = op->hash;
  }
  pending_.emplace(check.ticket, std::move(pending));
  return {std::nullopt, std::move(check)};
}

LogInResult AccessGate::FinishLogIn(std::uint64_t ticket, bool pin_right,
                                    AccessClock::time_point now) {
  const auto found = pending_.find(ticket);
  if (found == pending_.end()) return LogInResult{LogInOutcome::kBusy, {}};
  const Pending pending = std::move(found->second);
  pending_.erase(found);
  const Origin& origin = pending.origin;
  ExpireIfIdle(origin, now);
  if (!pin_right || pending.operator_name.empty()) {
    back_off_.Failed(pending.name, origin, now);
    if (origin.kind == OriginKind::kWeb)
      back_off_.Failed(pending.name, kAnyWeb, now, kWebFreeAttempts);
    return Refuse(pending.refusal, pending.name, origin, pending.why,
                  WaitLeft(pending.name, origin, now));
  }
  back_off_.Succeeded(pending.name, origin);
  if (origin.kind == OriginKind::kWeb) back_off_.Succeeded(pending.name, kAnyWeb);
  if (pending.check_only) return LogInResult{LogInOutcome::kOk, {}};
  const auto previous = sessions_.find(origin);
  if (previous != sessions_.end()) {
    Report(AccessEventKind::kLogOut, previous->second.name, AccessLevel::kLevel1, origin);
  }
  sessions_[origin] = Session{pending.operator_name, pending.level, now};
  Report(AccessEventKind::kLogIn, pending.operator_name, pending.level, origin);
  return LogInResult{LogInOutcome::kOk, {}};
}

LogInResult AccessGate::AbandonLogIn(std::uint64_t ticket) {
  const auto found = pending_.find(ticket);
  if (found == pending_.end()) return LogInResult{LogInOutcome::kBusy, {}};
  const Pending pending = std::move(found->second);
  pending_.erase(found);
  return Refuse(LogInOutcome::kBusy, pending.name, pending.origin, "busy");
}

LogInResult AccessGate::LogIn(const Origin& origin, std::string_view name, std::string_view pin,
                              AccessClock::time_point now) {
  const LogInStart start = BeginLogIn(origin, name, pin, now);
  if (start.answer) return *start.answer;
  return FinishLogIn(start.check.ticket, VerifyPin(pin, start.check.hash), now);
}

void AccessGate::LogIn(const Origin& origin, std::string_view name, std::string_view pin,
                       const AccessNowFn& now, LogInAnswer answer) {
  if (pool_ == nullptr) {
    answer(LogIn(origin, name, pin, now()));
    return;
  }
  LogInStart start = BeginLogIn(origin, name, pin, now());
  if (start.answer) {
    answer(*start.answer);
    return;
  }
  const std::uint64_t ticket = start.check.ticket;
  const bool queued = pool_->Check(
      start.check.lane, std::move(start.check.pin), std::move(start.check.hash),
      [this, ticket, now, answer](bool right) { answer(FinishLogIn(ticket, right, now())); });
  if (!queued) answer(AbandonLogIn(ticket));
}

void AccessGate::CheckPin(const Origin& origin, std::string_view name, std::string_view pin,
                          const AccessNowFn& now, LogInAnswer answer) {
  LogInStart start = BeginLogIn(origin, name, pin, now());
  if (start.answer) {
    answer(*start.answer);
    return;
  }
  const std::uint64_t ticket = start.check.ticket;
  pending_[ticket].check_only = true;
  if (pool_ == nullptr) {
    answer(FinishLogIn(ticket, VerifyPin(pin, start.check.hash), now()));
    return;
  }
  const bool queued = pool_->Check(
      start.check.lane, std::move(start.check.pin), std::move(start.check.hash),
      [this, ticket, now, answer](bool right) { answer(FinishLogIn(ticket, right, now())); });
  if (!queued) answer(AbandonLogIn(ticket));
}

void AccessGate::LogOut(const Origin& origin, AccessClock::time_point now) {
  if (ExpireIfIdle(origin, now)) return;
  const auto it = sessions_.find(origin);
  if (it == sessions_.end()) return;
  const std::string name = std::move(it->second.name);
  sessions_.erase(it);
  Report(AccessEventKind::kLogOut, name, AccessLevel::kLevel1, origin);
}

void AccessGate::Touch(const Origin& origin, AccessClock::time_point now) {
  if (ExpireIfIdle(origin, now)) return;
  const auto it = sessions_.find(origin);
  if (it != sessions_.end()) it->second.last_input = std::max(it->second.last_input, now);
}

void AccessGate::Tick(AccessClock::time_point now) {
  std::vector<Origin> idle;
  for (const auto& [origin, session] : sessions_) {
    if (now - session.last_input >= idle_timeout_) idle.push_back(origin);
  }
  for (const Origin& origin : idle)
    ExpireIfIdle(origin, now);
}

AccessLevel AccessGate::Level(const Origin& origin) const {
  if (users_.mode == AccessMode::kOff) return AccessLevel::kLevel3;
  const auto it = sessions_.find(origin);
  if (it != sessions_.end()) return it->second.level;
  return origin.kind == OriginKind::kShell ? AccessLevel::kLevel0 : AccessLevel::kLevel1;
}

std::vector<Actor> AccessGate::LoggedIn() const {
  std::vector<Actor> logged_in;
  for (const auto& [origin, session] : sessions_)
    logged_in.push_back(Actor{session.name, session.level, origin});
  return logged_in;
}

std::string AccessGate::OperatorName(const Origin& origin) const {
  const auto it = sessions_.find(origin);
  return it == sessions_.end() ? std::string() : it->second.name;
}

bool AccessGate::ExpireIfIdle(const Origin& origin, AccessClock::time_point now) {
  const auto it = sessions_.find(origin);
  if (it == sessions_.end() || now - it->second.last_input < idle_timeout_) return false;
  const std::string name = std::move(it->second.name);
  sessions_.erase(it);
  Report(AccessEventKind::kTimeout, name, AccessLevel::kLevel1, origin);
  return true;
}

void AccessGate::Report(AccessEventKind kind, std::string name, AccessLevel level,
                        const Origin& origin, std::optional<Action> action, std::string text) {
  events(AccessEvent{kind, std::move(name), level, origin, action, std::move(text)});
}

namespace {

std::string LoggedInText(const AccessGate& gate, const Origin& origin) {
  return kResultLoggedIn + gate.OperatorName(origin) + ", level " +
         std::to_string(LevelNumber(gate.Level(origin)));
}

}  // namespace

Origin SocketOrigin(const ActionRequest& request, const std::string& user) {
  return Origin{request.shell ? OriginKind::kShell : OriginKind::kLocalSocket, user};
}

std::string PerformAtGate(AccessGate* gate, ActionPerformer& performer,
                          const ActionRequest& request, const Origin& origin,
                          AccessClock::time_point now) {
  const std::optional<Action> action = RequestAction(request);
  if (!action) {
    if (gate == nullptr || gate->mode() == AccessMode::kOff)
      return LogInResultText({LogInOutcome::kLevelsOff, {}});
    if (request.kind == ActionKind::kLogOut) {
      gate->LogOut(origin, now);
      return kResultLoggedOut;
    }
    const LogInResult result = gate->LogIn(origin, request.name, request.pin, now);
    return result.outcome == LogInOutcome::kOk ? LoggedInText(*gate, origin)
                                               : LogInResultText(result);
  }
  if (gate == nullptr) return performer.Perform(request, Actor{{}, {}, origin});
  gate->Touch(origin, now);
  const Decision decision = gate->Decide(origin, *action, now);
  return decision.allowed ? performer.Perform(request, decision.actor) : decision.text;
}

void LogInAtGate(AccessGate* gate, const ActionRequest& request, const Origin& origin,
                 const AccessNowFn& now, std::function<void(const std::string&)> answer) {
  if (gate == nullptr || gate->mode() == AccessMode::kOff) {
    answer(LogInResultText({LogInOutcome::kLevelsOff, {}}));
    return;
  }
  gate->LogIn(origin, request.name, request.pin, now,
              [gate, origin, answer = std::move(answer)](const LogInResult& result) {
                answer(result.outcome == LogInOutcome::kOk ? LoggedInText(*gate, origin)
                                                           : LogInResultText(result));
              });
}

}  // namespace orv
