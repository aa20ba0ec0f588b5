#pragma once

#include <cstdint>
#include <string>

#include "access/access_gate.h"
#include "link/link.h"
#include "platform/controls.h"
#include "platform/signal.h"

namespace orv {

// The supervision time byte from Timer_CB's text: its leading number rounded half to even, then
// held to 0..255 (a text without a leading number gives 0).
std::uint8_t SupervisionTimeByte(const std::string& text);

// A key's caption as the panel shows it ("EMG ACK"); "code N" for a code no key sends.
std::string PanelKeyName(std::uint8_t key_code);

// The operator panel's keys. Every frame goes out at once from the click that asked for it.
class OperatorCommands {
 public:
  enum KeyCode : std::uint8_t {
    kEmg = 1,
    kEmgAck = 2,
    kEmgReset = 3,
    kFaultAck = 4,
    kFaultReset = 5,
    kEmgMessage = 6,
  };

  OperatorCommands(Link& link, CheckBox& supervision_check, ComboBox& timer_cb);

  void SendPanelKey(std::uint8_t key_code);
  void SendImpedanceCheck();
  // Command of the page (19, 20, 18, 23) with the trigger number and state.
  void SendTriggerCommand(int page, std::uint8_t trigger_number, std::uint8_t state);
  void SupervisionSetting(std::uint8_t control_data);
  void SupervisionTimeSetting(std::uint8_t control_data);
  // Time (command 16) first, then on/off (command 17).
  void SendSupervisionSettings();

  void SupervisionCheck_Click();
  void Clear_CommandButton_Click();

  bool supervision_enabled() const { return SupervisionEnabled; }
  // Every command frame handed to the line, described for the record ("Key EMG ACK").
  Signal<const std::string&>& sent() { return sent_; }

 private:
  void Sent(std::uint8_t command, std::initializer_list<std::uint8_t> data,
            const std::string& what);

  Link& link_;
  Transmitter& transmitter_;
  CheckBox& SupervisionCheck;
  ComboBox& Timer_CB;
  bool SupervisionEnabled = false;
  Signal<const std::string&> sent_;
};

// The access gate's name for an operator key; every code but the first five is EMG Message's,
// whose level it shares.
Action PanelKeyAction(std::uint8_t key_code);

}  // namespace orv
