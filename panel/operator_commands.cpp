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

OperatorCommands::OperatorCommands(Link& link, CheckBox& supervision_check, ComboBox& timer_cb)
    : link_(link),
      transmitter_(link.transmitter()),
      SupervisionCheck(supervision_check),
      Timer_CB(timer_cb) {}

void OperatorCommands::SendPanelKey(std::uint8_t key_code) {
  transmitter_.SendFrame(cmd::kPanelKey, {key_code});
}

void OperatorCommands::SendImpedanceCheck() {
  transmitter_.SendFrame(cmd::kImpedanceCheck, {});
}

void OperatorCommands::SendTriggerCommand(int page, std::uint8_t trigger_number,
                                          std::uint8_t state) {
  if (page < 0 || page >= kPageCount) return;
  transmitter_.SendFrame(kTriggerPages[static_cast<std::size_t>(page)].set_command,
                         {trigger_number, state});
}

void OperatorCommands::SupervisionSetting(std::uint8_t control_data) {
  transmitter_.SendFrame(cmd::kSupervisionOnOff, {control_data});
}

void OperatorCommands::SupervisionTimeSetting(std::uint8_t control_data) {
  transmitter_.SendFrame(cmd::kSupervisionTime, {control_data});
}

void OperatorCommands::SendSupervisionSettings() {
  SupervisionTimeSetting(SupervisionTimeByte(Timer_CB.text()));
  SupervisionSetting(SupervisionEnabled ? 1 : 0);
}

void OperatorCommands::SupervisionCheck_Click() {
  SupervisionEnabled = SupervisionCheck.value() > 0;
  Timer_CB.SetEnabled(!SupervisionEnabled);
  // While disconnected the settings wait for the next connect, which sends them.
  if (!link_.port_connected()) return;
  SendSupervisionSettings();
}

void OperatorCommands::Clear_CommandButton_Click() {
  // A closed port takes no frames; the button is not switched with the connection.
  if (!link_.port_connected()) return;
  transmitter_.SendPollCommand(cmd::kSoftStatus);
}

}  // namespace orv
