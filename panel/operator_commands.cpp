#include "panel/operator_commands.h"

#include <algorithm>

#include "link/frame.h"
#include "platform/leading_number.h"

namespace orv {

std::uint8_t SupervisionTimeByte(const std::string& text) {
  // Blanks before the number are allowed, as in a typed entry.
  const std::size_t first = text.find_first_not_of(" \t");
  const long number = first == std::string::npos ? 0 : LeadingNumber(text.substr(first));
  return static_cast<std::uint8_t>(std::clamp(number, 0L, 255L));
}

std::string PanelKeyName(std::uint8_t key_code) {
  const Action key = KeyAction(key_code);
  if (KeyCodeOf(key) != key_code) return "code " + std::to_string(key_code);
  return std::string(ActionName(key));
}

OperatorCommands::OperatorCommands(Link& link, CheckBox& supervision_check, ComboBox& timer_cb)
    : link_(link),
      transmitter_(link.transmitter()),
      SupervisionCheck(supervision_check),
      Timer_CB(timer_cb) {}

void OperatorCommands::Sent(std::uint8_t command, std::initializer_list<std::uint8_t> data,
                            const std::string& what, const Actor& by) {
  transmitter_.SendFrame(command, data);
  if (sent_.empty()) return;
  sent_(link_.port_connected() ? what : what + " (not connected: nothing went out)", by);
}

void OperatorCommands::SendPanelKey(std::uint8_t key_code, const Actor& by) {
  Sent(cmd::kPanelKey, {key_code}, "Key " + PanelKeyName(key_code), by);
}

void OperatorCommands::SendImpedanceCheck(const Actor& by) {
  Sent(cmd::kImpedanceCheck, {}, std::string(ActionName(Action::kImpedanceCheck)), by);
}

void OperatorCommands::SendTriggerCommand(int page, std::uint8_t trigger_number, std::uint8_t state,
                                          const Actor& by) {
  if (page < 0 || page >= kPageCount) return;
  const TriggerPage& p = kTriggerPages[static_cast<std::size_t>(page)];
  Sent(p.set_command, {trigger_number, state},
       std::string(p.default_name_prefix) + std::to_string(trigger_number) +
           (state != 0 ? " on" : " off"),
       by);
}

void OperatorCommands::SupervisionSetting(std::uint8_t control_data, const Actor& by) {
  Sent(cmd::kSupervisionOnOff, {control_data},
       std::string("Supervision ") + (control_data != 0 ? "on" : "off"), by);
}

void OperatorCommands::SupervisionTimeSetting(std::uint8_t control_data, const Actor& by) {
  Sent(cmd::kSupervisionTime, {control_data}, "Supervision time " + std::to_string(control_data),
       by);
}

void OperatorCommands::SendSupervisionSettings(const Actor& by) {
  SupervisionTimeSetting(SupervisionTimeByte(Timer_CB.text()), by);
  SupervisionSetting(SupervisionEnabled ? 1 : 0, by);
}

void OperatorCommands::SupervisionCheck_Click(const Actor& by) {
  SupervisionEnabled = SupervisionCheck.value() > 0;
  Timer_CB.SetEnabled(!SupervisionEnabled);
  // While disconnected the settings wait for the next connect, which sends them.
  if (!link_.port_connected()) return;
  SendSupervisionSettings(by);
}

void OperatorCommands::Clear_CommandButton_Click() {
  // A closed port takes no frames; the button is not switched with the connection.
  if (!link_.port_connected()) return;
  transmitter_.SendPollCommand(cmd::kSoftStatus);
  if (!sent_.empty()) sent_("Test: soft trigger status request", Actor{});
}

}  // namespace orv
