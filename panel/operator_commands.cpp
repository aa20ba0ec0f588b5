#include "panel/operator_commands.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "link/frame.h"

namespace orv {

std::uint8_t SupervisionTimeByte(const std::string& text) {
  // The leading decimal number: optional blanks, sign, digits, one decimal point.
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  double number = 0;
  bool digits = false;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    number = std::min(number * 10 + (text[i] - '0'), 1e6);
    digits = true;
  }
  if (i < text.size() && text[i] == '.') {
    double scale = 0.1;
    for (++i; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
      number += (text[i] - '0') * scale;
      scale /= 10;
      digits = true;
    }
  }
  if (!digits) return 0;
  const double rounded = std::nearbyint(negative ? -number : number);  // ties to even
  return static_cast<std::uint8_t>(std::clamp(rounded, 0.0, 255.0));
}

OperatorCommands::OperatorCommands(SharedState& shared, Transmitter& transmitter,
                                   CheckBox& supervision_check, ComboBox& timer_cb)
    : shared_(shared),
      transmitter_(transmitter),
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
  if (!shared_.PortConnected) return;
  SendSupervisionSettings();
}

void OperatorCommands::Clear_CommandButton_Click() {
  // A closed port takes no frames; the button is not switched with the connection.
  if (!shared_.PortConnected) return;
  transmitter_.SendPollCommand(cmd::kSoftStatus);
}

void OperatorCommands::Transmission_CommandButton_Click() {
  shared_.TriggerUiEnabled = true;
}

}  // namespace orv
