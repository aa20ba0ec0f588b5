// orvandelctl: asks the service at its socket for its state, its changes and its journal, and
// hands it an operator's actions, which pass the service's one gate as a window's do.
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "attach/service_probe.h"
#include "ctl/ctl_args.h"
#include "ctl/ctl_connection.h"
#include "ctl/ctl_render.h"
#include "journal/journal_query.h"

namespace orv {
namespace {

// An answer: a PIN's check and a page of the journal take the service a moment, never this long.
constexpr int kAnswerMs = 30000;
// The service's heartbeat comes every second: ten without a word means it is gone.
constexpr int kWatchSilenceMs = 10000;

int Fail(int code, const std::string& why) {
  std::cerr << "orvandelctl: " << why << "\n";
  return code;
}

// The PIN from the terminal without echo, or one line of standard input when it is not one.
bool ReadPin(std::string& pin) {
  if (!isatty(STDIN_FILENO)) return static_cast<bool>(std::getline(std::cin, pin));
  termios saved{};
  if (tcgetattr(STDIN_FILENO, &saved) != 0) return false;
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  std::cerr << "PIN: " << std::flush;
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  const bool read = static_cast<bool>(std::getline(std::cin, pin));
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  std::cerr << "\n";
  return read;
}

ActionRequest Request(const CtlOptions& o, const std::string& pin) {
  ActionRequest request;
  request.id = 1;
  request.shell = true;  // its own log-in, and none of level 1 without it
  switch (o.command) {
    case CtlCommand::kSilence:
      request.kind = ActionKind::kSilence;
      request.name = "orvandelctl";  // where the journal says it came from
      break;
    case CtlCommand::kAcknowledge:
    case CtlCommand::kShelve:
      request.kind =
          o.command == CtlCommand::kShelve ? ActionKind::kShelve : ActionKind::kAcknowledge;
      request.condition = o.condition;
      request.text = o.text;
      if (o.command == CtlCommand::kShelve) {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        request.until_ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count() +
                           static_cast<std::int64_t>(o.minutes) * 60000;
      }
      break;
    case CtlCommand::kKey:
      request.kind = ActionKind::kKey;
      request.key = o.key;
      break;
    case CtlCommand::kLogIn:
      request.kind = ActionKind::kLogIn;
      request.name = o.name;
      request.pin = pin;
      break;
    default:
      request.kind = ActionKind::kLogOut;
      break;
  }
  return request;
}

int Watch(CtlConnection& connection, PanelState& state, bool json) {
  for (;;) {
    const PanelState before = state;
    ServerMessage message;
    std::string error;
    if (!connection.Next(state, message, kWatchSilenceMs, error)) return Fail(kCtlNoService, error);
    std::string line;
    if (message.type == ServerMessageType::kChange) {
      line = json ? ChangeJson(message.seq, state, message.sections)
                  : ChangeText(message.seq, before, state, message.sections);
    } else if (message.type == ServerMessageType::kResult) {
      // Told to every window of this user: its log-in ended.
      line = json ? ResultJson(message.text) : message.text;
    }
    if (!line.empty()) std::cout << line << std::endl;
  }
}

int Events(CtlConnection& connection, PanelState& state, const CtlOptions& o,
           std::int64_t since_ms) {
  HistoryRequest request;
  request.query.filter.from_utc_ms = since_ms;
  request.query.newer = true;
  for (;;) {
    ++request.id;
    std::string error;
    if (!connection.Send(HistoryRequestMessage(request), error)) return Fail(kCtlNoService, error);
    ServerMessage message;
    do {
      if (!connection.Next(state, message, kAnswerMs, error)) return Fail(kCtlNoService, error);
    } while (message.type != ServerMessageType::kHistory || message.id != request.id);
    if (!message.text.empty()) {
      std::cout << message.text << std::endl;
      return kCtlRefused;
    }
    // Newest first in a page: a reader of a log wants them in order.
    for (auto row = message.page.rows.rbegin(); row != message.page.rows.rend(); ++row)
      std::cout << (o.json ? EventJson(*row) : EventText(*row)) << "\n";
    // A page that looked no further than the last would be asked for again and again.
    if (!message.page.more || message.page.newest_seen <= request.query.after) break;
    request.query.after = message.page.newest_seen;
  }
  std::cout << std::flush;
  return kCtlQuiet;
}

int Act(CtlConnection& connection, PanelState& state, const ActionRequest& request) {
  std::string error;
  if (!connection.Send(ActionMessage(request), error)) return Fail(kCtlNoService, error);
  ServerMessage message;
  do {
    if (!connection.Next(state, message, kAnswerMs, error)) return Fail(kCtlNoService, error);
  } while (message.type != ServerMessageType::kResult || message.id != request.id);
  std::cout << message.text << std::endl;
  return ResultExitCode(message.text);
}

int Run(const CtlOptions& o) {
  std::string error;
  std::int64_t since_ms = 0;
  if (o.command == CtlCommand::kEvents) {
    since_ms = ParseJournalDate(o.since, SystemLocalToUtc, error).first_ms;
    if (!error.empty()) return Fail(kCtlUsage, "--since " + o.since + ": " + error);
  }
  std::string pin;
  if (o.command == CtlCommand::kLogIn && !ReadPin(pin)) return Fail(kCtlUsage, "no PIN given");
  CtlConnection connection;
  if (!connection.Connect(o.socket, error))
    return Fail(kCtlNoService, "no service at " + o.socket + ": " + error);
  PanelState state = EmptyPanelState();
  ServerMessage first;
  if (!connection.Next(state, first, kAnswerMs, error))
    return Fail(kCtlNoService, "no service at " + o.socket + ": " + error);
  if (first.type == ServerMessageType::kRefused)
    return Fail(kCtlNoService, "the service refused: " + first.text);
  if (first.type != ServerMessageType::kSnapshot)
    return Fail(kCtlNoService, "the service did not send its state first");
  switch (o.command) {
    case CtlCommand::kStatus:
      std::cout << (o.json ? StatusJson(state) + "\n" : StatusText(state)) << std::flush;
      return StateExitCode(state);
    case CtlCommand::kWatch:
      return Watch(connection, state, o.json);
    case CtlCommand::kEvents:
      return Events(connection, state, o, since_ms);
    default:
      return Act(connection, state, Request(o, pin));
  }
}

}  // namespace
}  // namespace orv

int main(int argc, char** argv) {
  std::string error;
  const orv::CtlOptions options =
      orv::ParseCtlArguments(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!error.empty()) {
    std::cerr << "orvandelctl: " << error << "\nTry 'orvandelctl --help'.\n";
    return orv::kCtlUsage;
  }
  if (options.command == orv::CtlCommand::kHelp) {
    std::cout << orv::CtlUsage(orv::kDefaultPanelSocket);
    return 0;
  }
  // Named neither way: the plain service, or the one instance running; of several, none.
  orv::CtlOptions chosen = options;
  if (!options.socket_named) {
    const orv::ServiceSocketChoice choice = orv::ChooseServiceSocket(std::nullopt, std::nullopt);
    if (choice.socket.empty()) {
      std::cerr << "orvandelctl: " << orv::SeveralInstancesText(choice.instances) << "\n";
      return orv::kCtlUsage;
    }
    chosen.socket = choice.socket;
  }
  return orv::Run(chosen);
}
