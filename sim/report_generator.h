#pragma once

#include <cstdint>
#include <vector>

#include "sim/controller_state.h"
#include "sim/random.h"

namespace orv::sim {

// One event report: kind byte and 16-bit value.
struct Report {
  std::uint8_t kind;
  std::uint16_t value;
  bool operator==(const Report&) const = default;
};

inline constexpr std::uint8_t kPanelStatusKind = 0x50;
inline constexpr std::uint8_t kFaultEvent = 0x21;
inline constexpr std::uint8_t kAlert = 0x14;
inline constexpr std::uint8_t kAlarm = 0x15;
inline constexpr std::uint8_t kTriggerUnitBase = 0x30;
inline constexpr std::uint8_t kBgmUnitBase = 0x40;
// The second numbering of unit events; the same units, with room for more of them.
inline constexpr std::uint8_t kTriggerUnitBaseWide = 0x60;
inline constexpr std::uint8_t kBgmUnitBaseWide = 0x80;

// The reports that tell of the faults now set: panel status word, then the fault event.
std::vector<Report> FaultReports(const ControllerState& state);

// The controller's own life: each call picks one thing that happens (a fault coming or going,
// triggers or BGM channels of a unit switching, an alert, an alarm), applies it to the state and
// returns the reports that tell of it.
class ReportGenerator {
 public:
  explicit ReportGenerator(Random& random) : random_(random) {}

  std::vector<Report> Next(ControllerState& state);

 private:
  std::vector<Report> FaultActivity(ControllerState& state);
  std::vector<Report> TriggerActivity(ControllerState& state);
  std::vector<Report> BgmActivity(ControllerState& state);
  int PickLitLamp(const ControllerState& state);

  Random& random_;
};

}  // namespace orv::sim
