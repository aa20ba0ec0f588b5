#include "panel/panel_actions.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace orv {

std::unique_ptr<ActionPerformer> MainForm::MakeActions(ServiceLine line) {
  return std::make_unique<PanelActions>(*this, std::move(line));
}

bool PanelActions::Select(ComboBox& list, const std::string& text) {
  const auto& items = list.items();
  const auto found = std::find(items.begin(), items.end(), text);
  if (found == items.end()) return false;
  form_.Quietly([&] { list.SetListIndex(static_cast<int>(found - items.begin())); });
  return true;
}

std::string PanelActions::Perform(const ActionRequest& request, const Actor& actor) {
  const bool connected = form_.link().port_connected();
  switch (request.kind) {
    case ActionKind::kKey:
      if (!connected) return kResultNotConnected;
      form_.commands().SendPanelKey(static_cast<std::uint8_t>(request.key), actor);
      return kResultDone;
    case ActionKind::kImpedanceCheck:
      if (!connected) return kResultNotConnected;
      form_.commands().SendImpedanceCheck(actor);
      return kResultDone;
    case ActionKind::kTrigger:
      // As a ticked box: the state is taken at once, the controller's next report confirms it.
      if (!connected) return kResultNotConnected;
      form_.link().trigger_states().States(request.page).Set(request.number, request.state);
      form_.commands().SendTriggerCommand(request.page, static_cast<std::uint8_t>(request.number),
                                          static_cast<std::uint8_t>(request.state), actor);
      return kResultDone;
    case ActionKind::kRename: {
      // A name is one line, as the window's editor keeps it.
      std::string name = request.name;
      std::replace(name.begin(), name.end(), '\r', ' ');
      std::replace(name.begin(), name.end(), '\n', ' ');
      auto& names = form_.config().Names(request.page);
      names.resize(std::max<std::size_t>(names.size(), static_cast<std::size_t>(request.number)));
      const std::string old_name =
          std::exchange(names[static_cast<std::size_t>(request.number - 1)], name);
      if (!form_.config().SaveName(request.page, request.number)) {
        names[static_cast<std::size_t>(request.number - 1)] = old_name;
        return "refused: the name could not be stored (the service's notices say why)";
      }
      if (old_name != name) {
        form_.trigger_bank().renamed()(request.page, request.number, old_name, name);
        form_.RecordRename({request.page, request.number, old_name, name}, actor);
      }
      return kResultDone;
    }
    case ActionKind::kConnect:
      if (!connected) line_.connect(actor);
      return form_.link().port_connected() ? kResultDone
                                           : "refused: the port cannot be opened (the service's "
                                             "notices say why)";
    case ActionKind::kDisconnect:
      if (!connected) return kResultNotConnected;
      line_.disconnect(actor);
      return kResultDone;
    case ActionKind::kPort:
      // The window offers the port only while disconnected.
      if (connected) return "refused: disconnect first";
      if (Select(form_.ComPort_CB, "COM" + std::to_string(request.port))) form_.ComPort_CB_Click();
      return kResultDone;
    case ActionKind::kBaud:
      if (connected) return "refused: disconnect first";
      if (!Select(form_.BaudRate_CB, request.baud)) return "refused: no such baud rate";
      form_.BaudRate_CB_Click();
      return kResultDone;
    case ActionKind::kSupervision:
      form_.SetSupervision(request.state != 0, request.name, actor);
      return kResultDone;
    case ActionKind::kSilence:
      // A silence from any window silences the one annunciator, for every window.
      form_.annunciation().Silence(request.name, actor);
      return kResultDone;
    case ActionKind::kLampTest:
      // The window that asked lights its own lamps; the service's stay the controller's.
      form_.annunciation().LampTest(actor, false);
      return kResultDone;
    case ActionKind::kAcknowledge:
      return form_.AcknowledgeCondition(request.condition, request.text, actor);
    case ActionKind::kShelve:
      return form_.ShelveCondition(request.condition, request.text, request.until_ms, actor);
    case ActionKind::kSupervisionTime:
    case ActionKind::kHistory:
    case ActionKind::kHandOver:
    case ActionKind::kView:
    case ActionKind::kWithoutDisplay:
    case ActionKind::kLogIn:
    case ActionKind::kLogOut:
      break;
  }
  return "refused: an unknown action";
}

}  // namespace orv
