#pragma once

#include <cstdint>
#include <string>

#include "access/operator_actions.h"
#include "link/link.h"
#include "platform/controls.h"
#include "platform/signal.h"

namespace orv {

// The supervision time byte from Timer_CB's text: its leading number rounded half to even, then
// held to 0..255 (a text without a leading number gives 0).
std::uint8_t SupervisionTimeByte(const std::string& text);

// A key's caption as the panel shows it ("EMG ACK"); "code N" for a code no key sends.
std::string PanelKeyName(std::uint8_t key_code);

// The operator panel's keys. Every frame goes out at once from the click that asked for it, said
// with who asked for it (by; none given: the program itself).
class OperatorCommands {
 public:
  enum KeyCode : std::uint8_t {
    kEmg = KeyCodeOf(Action::kEmg),
    kEmgAck = KeyCodeOf(Action::kEmgAck),
    kEmgReset = KeyCodeOf(Action::kEmgReset),
    kFaultAck = KeyCodeOf(Action::kFaultAck),
    kFaultReset = KeyCodeOf(Action::kFaultReset),
    kEmgMessage = KeyCodeOf(Action::kEmgMessage),
  };

  OperatorCommands(Link& link, CheckBox& supervision_check, ComboBox& timer_cb);

  void SendPanelKey(std::uint8_t key_code, const Actor& by = {});
  void SendImpedanceCheck(const Actor& by = {});
  // Command of the page (19, 20, 18, 23) with the trigger number and state.
  void SendTriggerCommand(int page, std::uint8_t trigger_number, std::uint8_t state,
                          const Actor& by = {});
  void SupervisionSetting(std::uint8_t control_data, const Actor& by = {});
  void SupervisionTimeSetting(std::uint8_t control_data, const Actor& by = {});
  // Time (command 16) first, then on/off (command 17).
  void SendSupervisionSettings(const Actor& by = {});

  void SupervisionCheck_Click(const Actor& by = {});
  void Clear_CommandButton_Click();

  bool supervision_enabled() const { return SupervisionEnabled; }
  // Every command frame handed to the line, described for the record ("Key EMG ACK"), and who
  // asked for it.
  Signal<const std::string&, const Actor&>& sent() { return sent_; }

 private:
  void Sent(std::uint8_t command, std::initializer_list<std::uint8_t> data, const std::string& what,
            const Actor& by);

  Link& link_;
  Transmitter& transmitter_;
  CheckBox& SupervisionCheck;
  ComboBox& Timer_CB;
  bool SupervisionEnabled = false;
  Signal<const std::string&, const Actor&> sent_;
};

}  // namespace orv
