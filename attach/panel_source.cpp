#include "attach/panel_source.h"

#include <algorithm>

namespace orv {

std::optional<Action> GatedAction(const ActionRequest& action) {
  switch (action.kind) {
    case ActionKind::kKey:
      return PanelKeyAction(static_cast<std::uint8_t>(action.key));
    case ActionKind::kImpedanceCheck:
      return Action::kImpedanceCheck;
    case ActionKind::kTrigger:
      return Action::kTriggerSwitching;
    case ActionKind::kRename:
      return Action::kTriggerRenaming;
    case ActionKind::kConnect:
    case ActionKind::kDisconnect:
      return Action::kConnection;
    case ActionKind::kPort:
    case ActionKind::kBaud:
      return Action::kPortAndBaudRate;
    case ActionKind::kSupervision:
      // The box and its time go together; both are level 2.
      return Action::kSupervisionOnOff;
    case ActionKind::kSilence:
      return Action::kSilence;
    case ActionKind::kLampTest:
      return Action::kLampTest;
    case ActionKind::kLogIn:
    case ActionKind::kLogOut:
      break;
  }
  return std::nullopt;
}

std::string PanelActions::Perform(const ActionRequest& action, const Origin& origin) {
  form_.recorder().set_acting_login(OriginLogin(origin));
  std::string result = Gated(action, origin);
  form_.recorder().set_acting_login({});
  return result;
}

std::string PanelActions::Gated(const ActionRequest& action, const Origin& origin) {
  const std::optional<Action> gated = GatedAction(action);
  if (!gated) return Access(action, origin);
  Decision decision;
  decision.allowed = true;
  if (AccessGate* gate = form_.gate()) {
    // An action is the only input the service sees from a window or web panel.
    gate->Touch(origin, form_.AccessNow());
    decision = gate->Decide(origin, *gated, form_.AccessNow());
  }
  if (!decision.allowed) return decision.text;
  std::string result;
  form_.ActAs(decision, [&] { result = Act(action); });
  return result;
}

std::string PanelActions::Access(const ActionRequest& action, const Origin& origin) {
  AccessGate* gate = form_.gate();
  if (gate == nullptr || gate->mode() == AccessMode::kOff) {
    return LogInResultText({LogInOutcome::kLevelsOff, {}});
  }
  if (action.kind == ActionKind::kLogOut) {
    gate->LogOut(origin, form_.AccessNow());
    return kResultLoggedOut;
  }
  const LogInResult result = gate->LogIn(origin, action.name, action.pin, form_.AccessNow());
  if (result.outcome != LogInOutcome::kOk) return LogInResultText(result);
  return kResultLoggedIn + gate->OperatorName(origin) + ", level " +
         std::to_string(LevelNumber(gate->Level(origin)));
}

void PanelActions::LogIn(const ActionRequest& action, const Origin& origin,
                         std::function<void(const std::string&)> answer) {
  AccessGate* gate = form_.gate();
  if (gate == nullptr || gate->mode() == AccessMode::kOff) {
    answer(LogInResultText({LogInOutcome::kLevelsOff, {}}));
    return;
  }
  const std::weak_ptr<char> alive = alive_;
  gate->LogIn(
      origin, action.name, action.pin,
      [this, alive] { return alive.lock() ? form_.AccessNow() : AccessClock::now(); },
      [gate, origin, answer = std::move(answer)](const LogInResult& result) {
        if (result.outcome != LogInOutcome::kOk) {
          answer(LogInResultText(result));
          return;
        }
        answer(kResultLoggedIn + gate->OperatorName(origin) + ", level " +
               std::to_string(LevelNumber(gate->Level(origin))));
      });
}

bool PanelActions::Select(ComboBox& list, const std::string& text) {
  const auto& items = list.items();
  const auto found = std::find(items.begin(), items.end(), text);
  if (found == items.end()) return false;
  list.SetListIndex(static_cast<int>(found - items.begin()));
  return true;
}

std::string PanelActions::Act(const ActionRequest& action) {
  const bool connected = form_.link().port_connected();
  switch (action.kind) {
    case ActionKind::kKey:
      if (!connected) return kResultNotConnected;
      form_.commands().SendPanelKey(static_cast<std::uint8_t>(action.key));
      return kResultDone;
    case ActionKind::kImpedanceCheck:
      if (!connected) return kResultNotConnected;
      form_.commands().SendImpedanceCheck();
      return kResultDone;
    case ActionKind::kTrigger:
      // As a ticked box: the state is taken at once, the controller's next report confirms it.
      if (!connected) return kResultNotConnected;
      form_.link().trigger_states().States(action.page).Set(action.number, action.state);
      form_.commands().SendTriggerCommand(action.page, static_cast<std::uint8_t>(action.number),
                                          static_cast<std::uint8_t>(action.state));
      return kResultDone;
    case ActionKind::kRename: {
      // A name is one line, as the window's editor keeps it.
      std::string name = action.name;
      std::replace(name.begin(), name.end(), '\r', ' ');
      std::replace(name.begin(), name.end(), '\n', ' ');
      auto& names = form_.config().Names(action.page);
      names.resize(std::max<std::size_t>(names.size(), static_cast<std::size_t>(action.number)));
      const std::string old_name =
          std::exchange(names[static_cast<std::size_t>(action.number - 1)], name);
      if (!form_.config().SaveName(action.page, action.number)) {
        names[static_cast<std::size_t>(action.number - 1)] = old_name;
        return "refused: the name could not be stored (the service's notices say why)";
      }
      if (old_name != name)
        form_.trigger_bank().renamed()(action.page, action.number, old_name, name);
      return kResultDone;
    }
    case ActionKind::kConnect:
      if (!connected) line_.connect();
      return form_.link().port_connected() ? kResultDone
                                           : "refused: the port cannot be opened (the service's "
                                             "notices say why)";
    case ActionKind::kDisconnect:
      if (!connected) return kResultNotConnected;
      line_.disconnect();
      return kResultDone;
    case ActionKind::kPort:
      // The window offers the port only while disconnected.
      if (connected) return "refused: disconnect first";
      Select(form_.ComPort_CB, "COM" + std::to_string(action.port));
      return kResultDone;
    case ActionKind::kBaud:
      if (connected) return "refused: disconnect first";
      return Select(form_.BaudRate_CB, action.baud) ? kResultDone : "refused: no such baud rate";
    case ActionKind::kSupervision:
      // As the box's click in the service's window (its value changing raises the click): the
      // time as typed while the box is off, sent on the line at once while connected, else at
      // the next connect.
      if (form_.Timer_CB.enabled()) form_.Timer_CB.SetText(action.name);
      form_.SupervisionCheck.SetValue(action.state);
      return kResultDone;
    case ActionKind::kSilence:
      // A silence from any window silences the one annunciator, for every window, under the
      // window's user.
      form_.annunciation().Silence(action.name, form_.recorder().acting_login());
      return kResultDone;
    case ActionKind::kLampTest:
      // The window that asked lights its own lamps; the service's stay the controller's.
      form_.annunciation().LampTest(false);
      return kResultDone;
    case ActionKind::kLogIn:
    case ActionKind::kLogOut:
      break;
  }
  return "refused: an unknown action";
}

}  // namespace orv
