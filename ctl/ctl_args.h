#pragma once

// The command line of orvandelctl, the service's client for an administrator's shell: what to
// ask the service, and the exit codes a script reads back.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

enum class CtlCommand {
  kHelp,
  kStatus,
  kWatch,
  kEvents,
  kSilence,
  kAcknowledge,
  kShelve,
  kKey,
  kLogIn,
  kLogOut,
};

// What a script reads from the exit status, as gpsd's and NUT's clients do.
enum CtlExit : int {
  kCtlQuiet = 0,      // nothing stands, or an action was done
  kCtlFaults = 1,     // a fault, the link or the service stands (no alarm)
  kCtlAlarm = 2,      // an alarm stands
  kCtlNoService = 3,  // no service at the socket, or it refused this user
  kCtlRefused = 4,    // the service refused the action
  kCtlUsage = 64,     // EX_USAGE: the command line is wrong
};

struct CtlOptions {
  CtlCommand command = CtlCommand::kHelp;
  std::string socket;
  // --socket or --instance named the socket; else it is chosen from those running
  // (ChooseServiceSocket).
  bool socket_named = false;
  std::string instance;  // --instance NAME
  bool json = false;
  std::string since;      // events: a date as the journal commands take it
  std::string condition;  // ack, shelve: the condition's id ("fault-4")
  std::string text;       // ack: the comment; shelve: the reason
  int minutes = 0;        // shelve
  int key = 0;            // key: the code the key sends
  std::string name;       // login: the operator

  bool operator==(const CtlOptions&) const = default;
};

// A shelf lasts at most a day, as the conditions' book holds it.
inline constexpr int kMaxShelfMinutes = 24 * 60;

// args without the program's name; error says what is wrong (exit kCtlUsage).
CtlOptions ParseCtlArguments(const std::vector<std::string>& args, std::string& error);

// The key a name on the command line means: the action table's key names in any case, with '-',
// '_' or a space between words ("fault-ack", "Fault ACK"); 0 when none is.
int CtlKeyCode(std::string_view name);
// The keys' names as the command line takes them, in the table's order.
std::vector<std::string> CtlKeyNames();

std::string CtlUsage(const std::string& default_socket);

}  // namespace orv
