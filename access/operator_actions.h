#pragma once

// The operator's actions, each named here once: what the journal and the socket call it, the
// access level it needs, whether it goes at a hand's pace, and what a request for it carries.
// The window, the socket and the web panel all ask in these terms, and one Perform does what the
// socket and the web ask for, for whoever the gate said acts.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "access/origin.h"
#include "access/users_file.h"

namespace orv {

// In the table's order: an action is its row's index.
enum class Action {
  kView,
  kHistory,
  kSilence,
  kLampTest,
  kEmg,
  kEmgAck,
  kEmgReset,
  kFaultAck,
  kFaultReset,
  kEmgMessage,
  kImpedanceCheck,
  kTriggerSwitching,
  kSupervisionOnOff,
  kSupervisionTime,
  kConnection,
  kPortAndBaudRate,
  kTriggerRenaming,
  kWithoutDisplay,
  kAcknowledge,
  kShelve,
  kHandOver,
};

// What a request asks to be done; each is one row's, or the gate's own (log in and out).
enum class ActionKind {
  kKey,
  kImpedanceCheck,
  kTrigger,
  kRename,
  kConnect,
  kDisconnect,
  kPort,
  kBaud,
  kSupervision,
  kSupervisionTime,
  kSilence,
  kLampTest,
  kHistory,
  kView,
  kWithoutDisplay,
  kLogIn,
  kLogOut,
  kAcknowledge,
  kShelve,
  kHandOver,
};

// One way of asking for an action: its kind and the name the socket gives it (none: only the
// window's own control asks).
struct ActionForm {
  ActionKind kind = ActionKind::kView;
  std::string_view wire;
};

struct OperatorAction {
  Action action;
  std::string_view name;  // as the journal and the window's notices say it: "EMG Reset"
  AccessLevel level;
  // A key or switch a hand presses, held to the origin's pace. Looking is not, nor what only
  // changes a setting in the program (typed letter by letter, or spun through with a wheel).
  bool hands_pace;
  ActionForm form;
  ActionForm other{};    // a second form (disconnect, baud), or none
  std::uint8_t key = 0;  // a key: the code it sends
  bool web = false;      // the web panel offers it
};

inline constexpr ActionForm kKeyForm{ActionKind::kKey, "key"};

// Level 1 is anyone's; level 2 the operator keys and day-to-day controls; level 3 what changes
// the installation.
// clang-format off
inline constexpr std::array<OperatorAction, 21> kOperatorActions{{
    // action, name, level, at a hand's pace, form[, second form, key code, on the web]
    {Action::kView, "View", AccessLevel::kLevel1, false, {ActionKind::kView, ""}},
    {Action::kHistory, "History", AccessLevel::kLevel1, false, {ActionKind::kHistory, ""}},
    {Action::kSilence, "Silence", AccessLevel::kLevel1, true,
     {ActionKind::kSilence, "silence"}, {}, 0, true},
    {Action::kLampTest, "Lamp test", AccessLevel::kLevel1, true,
     {ActionKind::kLampTest, "lamp-test"}},
    {Action::kEmg, "EMG", AccessLevel::kLevel2, true, kKeyForm, {}, 1, true},
    {Action::kEmgAck, "EMG ACK", AccessLevel::kLevel2, true, kKeyForm, {}, 2, true},
    {Action::kEmgReset, "EMG Reset", AccessLevel::kLevel2, true, kKeyForm, {}, 3, true},
    {Action::kFaultAck, "Fault ACK", AccessLevel::kLevel2, true, kKeyForm, {}, 4, true},
    {Action::kFaultReset, "Fault Reset", AccessLevel::kLevel2, true, kKeyForm, {}, 5, true},
    {Action::kEmgMessage, "EMG Message", AccessLevel::kLevel2, true, kKeyForm, {}, 6, true},
    {Action::kImpedanceCheck, "Impedance Check", AccessLevel::kLevel2, true,
     {ActionKind::kImpedanceCheck, "impedance-check"}},
    {Action::kTriggerSwitching, "Trigger switching", AccessLevel::kLevel2, true,
     {ActionKind::kTrigger, "trigger"}},
    // The box and its time, as a window sends them together.
    {Action::kSupervisionOnOff, "Supervision on/off", AccessLevel::kLevel2, true,
     {ActionKind::kSupervision, "supervision"}},
    {Action::kSupervisionTime, "Supervision time", AccessLevel::kLevel2, false,
     {ActionKind::kSupervisionTime, ""}},
    {Action::kConnection, "Connection/Disconnection", AccessLevel::kLevel3, true,
     {ActionKind::kConnect, "connect"}, {ActionKind::kDisconnect, "disconnect"}},
    {Action::kPortAndBaudRate, "Port and baud rate", AccessLevel::kLevel3, false,
     {ActionKind::kPort, "port"}, {ActionKind::kBaud, "baud"}},
    {Action::kTriggerRenaming, "Trigger renaming", AccessLevel::kLevel3, true,
     {ActionKind::kRename, "rename"}},
    {Action::kWithoutDisplay, "Without Display", AccessLevel::kLevel3, false,
     {ActionKind::kWithoutDisplay, ""}},
    // A condition: seen, with a comment, by anyone; set aside for a while by an operator.
    {Action::kAcknowledge, "Acknowledge", AccessLevel::kLevel1, true,
     {ActionKind::kAcknowledge, "acknowledge"}, {}, 0, true},
    {Action::kShelve, "Shelve", AccessLevel::kLevel2, true, {ActionKind::kShelve, "shelve"}, {}, 0,
     true},
    // The shift's sign-off, from the history window: both operators give their PINs there.
    {Action::kHandOver, "Hand over", AccessLevel::kLevel1, false, {ActionKind::kHandOver, ""}},
}};
// clang-format on

// Log in and out are the gate's, not a row's: they need no level.
inline constexpr ActionForm kLogInForm{ActionKind::kLogIn, "log-in"};
inline constexpr ActionForm kLogOutForm{ActionKind::kLogOut, "log-out"};

inline constexpr std::array<Action, kOperatorActions.size()> kAllActions = [] {
  std::array<Action, kOperatorActions.size()> all{};
  for (std::size_t i = 0; i < all.size(); ++i)
    all[i] = kOperatorActions[i].action;
  return all;
}();

// Every enumerator has its row, at its own index, and the last is the table's last.
static_assert([] {
  for (std::size_t i = 0; i < kOperatorActions.size(); ++i) {
    if (kOperatorActions[i].action != static_cast<Action>(i)) return false;
  }
  return kOperatorActions.back().action == Action::kHandOver;
}());

constexpr const OperatorAction& ActionRow(Action action) {
  return kOperatorActions[static_cast<std::size_t>(action)];
}
constexpr AccessLevel RequiredLevel(Action action) {
  return ActionRow(action).level;
}
constexpr std::string_view ActionName(Action action) {
  return ActionRow(action).name;
}

// The key that sends code; every code but the first five is EMG Message's, whose level it shares.
Action KeyAction(std::uint8_t code);
constexpr std::uint8_t KeyCodeOf(Action action) {
  return ActionRow(action).key;
}

// An operator's action as a window, the socket or the web panel asks for it.
struct ActionRequest {
  std::int64_t id = 0;  // the window's own number, given back with the result
  ActionKind kind = ActionKind::kKey;
  int key = 0;     // kKey: the key code, 1..6
  int page = 0;    // kTrigger, kRename: 0..2
  int number = 0;  // kTrigger, kRename: 1..the page's size
  int state = 0;   // kTrigger, kSupervision: 0 or 1
  // kRename; kSupervision and kSupervisionTime: the supervision time as typed; kSilence: where
  // ("window", "Esc", "web", "orvandelctl"); kLogIn: the operator
  std::string name;
  std::string pin;            // kLogIn
  int port = 0;               // kPort: 1..10
  std::string baud;           // kBaud
  std::string condition;      // kAcknowledge, kShelve: the condition's id
  std::string text;           // kAcknowledge: the comment; kShelve: the reason
  std::int64_t until_ms = 0;  // kShelve: the shelf's end, wall-clock ms
  bool shell = false;         // asked with orvandelctl: the socket's user acts as a shell

  bool operator==(const ActionRequest&) const = default;
};

// What an action came to, as the window shows it.
inline constexpr const char* kResultDone = "done";
inline constexpr const char* kResultNotConnected = "not connected";
inline constexpr const char* kResultLevelNeeded = "refused: level 2 needed";
// A log in's result begins with it, then the operator and level: "logged in: alice, level 2".
inline constexpr const char* kResultLoggedIn = "logged in: ";
inline constexpr const char* kResultLoggedOut = "logged out";

// The row a request is held to; none for a log in or out, which the gate answers itself.
std::optional<Action> RequestAction(const ActionRequest& request);

// The socket's names of the kinds, both ways.
std::string_view WireName(ActionKind kind);
std::optional<ActionKind> KindOfWireName(std::string_view name);

// Who does an action, as the gate decided it: the operator logged in at the origin and the level
// held there (none with access levels off).
struct Actor {
  std::string operator_name;
  std::optional<AccessLevel> level;
  Origin origin;

  bool operator==(const Actor&) const = default;
};

// "operator alice, level 2", "level 1"; "" with levels off, so that records stay as they were
// without a users file.
std::string ActorText(const Actor& actor);

// Does what was asked on the panel as the actor given, every record it makes carrying them; the
// gate has allowed it already. Answers what it came to ("done", "not connected", "refused: ...").
class ActionPerformer {
 public:
  virtual ~ActionPerformer() = default;
  virtual std::string Perform(const ActionRequest& request, const Actor& actor) = 0;
};

}  // namespace orv
