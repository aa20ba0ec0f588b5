#include "ctl/ctl_args.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "access/operator_actions.h"
#include "attach/attach_protocol.h"
#include "config/instance.h"

namespace orv {
namespace {

std::string CommandLineName(std::string_view name) {
  std::string out;
  for (const char c : name)
    out += c == ' ' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

struct Verb {
  std::string_view word;
  CtlCommand command;
  std::size_t operands;  // words after the verb, before any option
};
constexpr Verb kVerbs[] = {
    {"help", CtlCommand::kHelp, 0},       {"status", CtlCommand::kStatus, 0},
    {"watch", CtlCommand::kWatch, 0},     {"events", CtlCommand::kEvents, 0},
    {"silence", CtlCommand::kSilence, 0}, {"ack", CtlCommand::kAcknowledge, 1},
    {"shelve", CtlCommand::kShelve, 1},   {"key", CtlCommand::kKey, 1},
    {"login", CtlCommand::kLogIn, 1},     {"logout", CtlCommand::kLogOut, 0},
};

}  // namespace

int CtlKeyCode(std::string_view name) {
  std::string wanted;
  for (const char c : name)
    wanted +=
        c == '_' || c == ' ' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const OperatorAction& row : kOperatorActions)
    if (row.form.kind == ActionKind::kKey && CommandLineName(row.name) == wanted) return row.key;
  return 0;
}

std::vector<std::string> CtlKeyNames() {
  std::vector<std::string> names;
  for (const OperatorAction& row : kOperatorActions)
    if (row.form.kind == ActionKind::kKey) names.push_back(CommandLineName(row.name));
  return names;
}

CtlOptions ParseCtlArguments(const std::vector<std::string>& args, std::string& error) {
  CtlOptions options;
  options.socket = kDefaultPanelSocket;
  error.clear();
  std::vector<std::string> words;
  bool has_minutes = false, has_reason = false, has_comment = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // An option's value is the next word, whatever it looks like ("--comment -", a reason).
    const auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        error = arg + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    std::string minutes;
    if (arg == "-h" || arg == "--help") {
      options.command = CtlCommand::kHelp;
      return options;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--socket" || arg == "-s") {
      if (!value(options.socket)) return options;
      if (options.socket.empty()) error = "--socket needs a path";
      if (!options.instance.empty()) error = "--socket and --instance cannot be combined";
      options.socket_named = true;
    } else if (arg == "--instance" || arg == "-i") {
      if (!value(options.instance)) return options;
      if (!InstanceNameProblem(options.instance).empty()) {
        error = InstanceNameRefusal(options.instance);
      } else if (options.socket_named) {
        error = "--socket and --instance cannot be combined";
      } else {
        options.socket = PlacesOfInstance(options.instance).socket.string();
        options.socket_named = true;
      }
    } else if (arg == "--since") {
      if (!value(options.since)) return options;
    } else if (arg == "--comment") {
      if (!value(options.text)) return options;
      has_comment = true;
    } else if (arg == "--reason") {
      if (!value(options.text)) return options;
      has_reason = true;
    } else if (arg == "--minutes") {
      if (!value(minutes)) return options;
      const char* end = minutes.data() + minutes.size();
      const auto [at, ec] = std::from_chars(minutes.data(), end, options.minutes);
      if (ec != std::errc{} || at != end || options.minutes < 1 ||
          options.minutes > kMaxShelfMinutes)
        error = "--minutes takes a whole number from 1 to " + std::to_string(kMaxShelfMinutes);
      has_minutes = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option " + arg;
    } else {
      words.push_back(arg);
    }
    if (!error.empty()) return options;
  }
  if (words.empty()) {
    error = "no command given";
    return options;
  }
  const auto verb = std::find_if(std::begin(kVerbs), std::end(kVerbs),
                                 [&](const Verb& v) { return v.word == words[0]; });
  if (verb == std::end(kVerbs)) {
    error = "unknown command " + words[0];
    return options;
  }
  options.command = verb->command;
  if (words.size() != verb->operands + 1) {
    error = words[0] + (verb->operands == 0 ? " takes no operand" : " takes one operand");
    return options;
  }
  const std::string operand = verb->operands ? words[1] : "";
  // Options only where they mean something: a typo in a script is said, not ignored.
  const bool json_ok = options.command == CtlCommand::kStatus ||
                       options.command == CtlCommand::kWatch ||
                       options.command == CtlCommand::kEvents;
  if (options.json && !json_ok) error = "--json is for status, watch and events";
  if (!options.since.empty() != (options.command == CtlCommand::kEvents))
    error = "events needs --since, and only events takes it";
  if (has_minutes != (options.command == CtlCommand::kShelve) ||
      has_reason != (options.command == CtlCommand::kShelve))
    error = "shelve needs --minutes and --reason, and only shelve takes them";
  if (has_comment && options.command != CtlCommand::kAcknowledge)
    error = "only ack takes --comment";
  if (!error.empty()) return options;
  switch (options.command) {
    case CtlCommand::kAcknowledge:
    case CtlCommand::kShelve:
      options.condition = operand;
      break;
    case CtlCommand::kKey:
      options.key = CtlKeyCode(operand);
      if (options.key == 0) error = "no key " + operand;
      break;
    case CtlCommand::kLogIn:
      options.name = operand;
      if (!IsValidOperatorName(operand)) error = "no operator name: " + operand;
      break;
    default:
      break;
  }
  return options;
}

std::string CtlUsage(const std::string& default_socket) {
  std::string keys;
  for (const std::string& name : CtlKeyNames())
    keys += (keys.empty() ? "" : ", ") + name;
  return "Usage: orvandelctl [--socket PATH | --instance NAME] COMMAND [OPTIONS]\n"
         "Asks the Orvandel service at its socket (" +
         default_socket +
         ") as the attached windows do;\n"
         "with --instance, the instance NAME of several (/run/orvandel/NAME/panel.sock). Named\n"
         "neither, where the plain service's socket is missing, the one instance running is "
         "asked;\n"
         "with several running, their names are said (exit status 64).\n"
         "\n"
         "Commands:\n"
         "  status [--json]           the fault lamps, the conditions, the link, the sounder\n"
         "  watch [--json]            the changes as they come, one line each, until interrupted\n"
         "  events --since TIME [--json]\n"
         "                            the journal's records since TIME (2026-12-07,\n"
         "                            2026-12-07 14:03 or 2026-12-07T14:03:22, local time)\n"
         "  silence                   silence the sounder\n"
         "  ack CONDITION [--comment TEXT]\n"
         "                            acknowledge a condition (its id, as status lists it)\n"
         "  shelve CONDITION --minutes N --reason TEXT\n"
         "                            set a condition aside for N minutes (at most " +
         std::to_string(kMaxShelfMinutes) +
         ")\n"
         "  key NAME                  press an operator key, one of\n"
         "                            " +
         keys +
         "\n"
         "  login NAME                log in as operator NAME; the PIN is read from the\n"
         "                            terminal without echo, or as one line of standard input\n"
         "  logout                    log out\n"
         "A log-in holds for this Unix user at the service until logout or its idle time-out.\n"
         "\n"
         "Exit status:\n"
         "  0   nothing stands (status, watch), or the action was done\n"
         "  1   a fault, the link or the service stands, no alarm\n"
         "  2   an alarm stands\n"
         "  3   no service: the socket cannot be reached, or the service refused this user\n"
         "  4   the service refused the action (its answer is printed)\n"
         "  64  the command line is wrong\n";
}

}  // namespace orv
