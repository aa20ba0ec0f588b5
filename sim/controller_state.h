#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "link/fault_lamps.h"
#include "link/trigger_states.h"
#include "platform/serial_port.h"

namespace orv::sim {

inline constexpr int kFaultLamps = kSystemLamps;
// Units whose triggers and BGM channels fit the 60-entry pages: six entries per unit.
inline constexpr int kUnits = 10;
inline constexpr int kUnitSize = 6;
inline constexpr int kRcpLamp = 10;

// A lamp as the window numbers and names it: lamp index 3 is "4 Music/Spare". The console's
// commands and everything the simulator says use the window's numbers, 1 to 12.
std::string LampName(int lamp);

// Bit of the panel status word ('P' report) that carries each lamp; this word does not follow
// the lamp order of the fault image reply.
inline constexpr std::array<std::uint16_t, kFaultLamps> kPanelStatusBits{
    0x4000, 0x1000, 0x0004, 0x0008, 0x0010, 0x2000, 0x0002, 0x0001, 0x0100, 0x0200, 0x0400, 0x0800};

// What the simulated controller knows: its system faults, the four trigger pages, the
// supervision settings and whether an emergency is running.
class ControllerState {
 public:
  ControllerState();

  bool Fault(int lamp) const;
  // False when lamp is not 0..11 (nothing changes then).
  bool SetFault(int lamp, bool on);
  void ClearFaults() { faults_.fill(false); }
  int FaultCount() const;
  // Reply 6: d0 lamps 0..7, d1 bits 0..3 lamps 8..11.
  std::array<std::uint8_t, 2> FaultImage() const;
  std::uint16_t PanelStatusWord() const;

  // page 0 EMG, 1 business, 2 soft, 3 BGM; n from 1.
  bool Trigger(int page, int n) const;
  // False when page or n is out of range (nothing changes then).
  bool SetTrigger(int page, int n, bool on);
  // The page's status reply: reply_bytes bytes of reply_bits_per_byte states, LSB first.
  Bytes PageImage(int page) const;
  // A unit's trigger report value: its EMG group in bits 0..5, business group in bits 6..11.
  std::uint16_t UnitTriggerValue(int unit) const;
  // A unit's BGM report value: its six channels in bits 0..5.
  std::uint16_t UnitBgmValue(int unit) const;

  bool emergency() const { return emergency_; }
  void set_emergency(bool on) { emergency_ = on; }
  bool emergency_acknowledged() const { return emergency_acknowledged_; }
  void set_emergency_acknowledged(bool on) { emergency_acknowledged_ = on; }
  bool supervision_on() const { return supervision_on_; }
  void set_supervision_on(bool on) { supervision_on_ = on; }
  std::uint8_t supervision_time() const { return supervision_time_; }
  void set_supervision_time(std::uint8_t seconds) { supervision_time_ = seconds; }

 private:
  std::uint16_t UnitGroup(int page, int unit) const;

  std::array<bool, kFaultLamps> faults_{};
  std::vector<TriggerStateTable> pages_;
  bool emergency_ = false;
  bool emergency_acknowledged_ = false;
  bool supervision_on_ = false;
  std::uint8_t supervision_time_ = 10;
};

}  // namespace orv::sim
