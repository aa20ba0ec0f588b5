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

Action PanelKeyAction(std::uint8_t key_code) {
  switch (key_code) {
    case OperatorCommands::kEmg:
      return Action::kEmg;
    case OperatorCommands::kEmgAck:
      return Action::kEmgAck;
    case OperatorCommands::kEmgReset:
      return Action::kEmgReset;
    case OperatorCommands::kFaultAck:
      return Action::kFaultAck;
    case OperatorCommands::kFaultReset:
      return Action::kFaultReset;
    default:
      return Action::kEmgMessage;
  }
}

std::string PanelKeyName(std::uint8_t key_code) {
  switch (key_code) {
    case OperatorCommands::kEmg:
      return "EMG";
    case OperatorCommands::kEmgAck:
      return "EMG ACK";
    case OperatorCommands::kEmgReset:
      return "EMG Reset";
    case OperatorCommands::kFaultAck:
      return "Fault ACK";
    case OperatorCommands::kFaultReset:
      return "Fault Reset";
    case OperatorCommands::kEmgMessage:
      return "EMG Message";
    default:
      return "code " + std::to_string(key_code);
  }
}

OperatorCommands::OperatorCommands(Link& link, CheckBox& supervision_check, ComboBox& timer_cb)
    : link_(link),
      transmitter_(link.transmitter()),
      SupervisionCheck(supervision_check),
      Timer_CB(timer_cb) {}

void OperatorCommands::Sent(std::uint8_t command, std::initializer_list<std::uint8_t> data,
                            const std::string& what) {
  transmitter_.SendFrame(command, data);
  if (sent_.empty()) return;
  sent_(link_.port_connected() ? what : what + " (not connected: nothing went out)");
}

void OperatorCommands::SendPanelKey(std::uint8_t key_code) {
  Sent(cmd::kPanelKey, {key_code}, "Key " + PanelKeyName(key_code));
}

void OperatorCommands::SendImpedanceCheck() {
  Sent(cmd::kImpedanceCheck, {}, "Impedance Check");
}

void OperatorCommands::SendTriggerCommand(int page, std::uint8_t trigger_number,
                                          std::uint8_t state) {
  if (page < 0 || page >= kPageCount) return;
  const TriggerPage& p = kTriggerPages[static_cast<std::size_t>(page)];
  Sent(p.set_command, {trigger_number, state},
       std::string(p.default_name_prefix) + std::to_string(trigger_number) +
           (state != 0 ? " on" : " off"));
}

void OperatorCommands::SupervisionSetting(std::uint8_t control_data) {
  Sent(cmd::kSupervisionOnOff, {control_data},
       std::string("Supervision ") + (control_data != 0 ? "on" : "off"));
}

void OperatorCommands::SupervisionTimeSetting(std::uint8_t control_data) {
  Sent(cmd::kSupervisionTime, {control_data}, "Supervision time " + std::to_string(control_data));
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
  if (!sent_.empty()) sent_("Test: soft trigger status request");
}

}  // namespace orv
