#include "sim/report_generator.h"

namespace orv::sim {
namespace {

// Beyond this many faults the generator prefers to let one go, so the panel is never all red.
constexpr int kBusyFaultCount = 3;

}  // namespace

std::vector<Report> FaultReports(const ControllerState& state) {
  const std::uint16_t word = state.PanelStatusWord();
  return {{kPanelStatusKind, word}, {kFaultEvent, word}};
}

std::vector<Report> ReportGenerator::Next(ControllerState& state) {
  const int pick = random_.Below(100);
  if (pick < 20) return FaultActivity(state);
  if (pick < 55) return TriggerActivity(state);
  if (pick < 80) return BgmActivity(state);
  if (pick < 90) return {{kAlert, 0}};
  return {{kAlarm, 0}};
}

std::vector<Report> ReportGenerator::FaultActivity(ControllerState& state) {
  int lamp = random_.Below(kFaultLamps);
  if (!state.Fault(lamp) && state.FaultCount() >= kBusyFaultCount) lamp = PickLitLamp(state);
  state.SetFault(lamp, !state.Fault(lamp));
  return FaultReports(state);
}

int ReportGenerator::PickLitLamp(const ControllerState& state) {
  int skip = random_.Below(state.FaultCount());
  for (int lamp = 0; lamp < kFaultLamps; ++lamp) {
    if (state.Fault(lamp) && skip-- == 0) return lamp;
  }
  return 0;
}

std::vector<Report> ReportGenerator::TriggerActivity(ControllerState& state) {
  const int unit = random_.Below(kUnits);
  const int page = random_.Below(2);  // EMG or business
  const int n = unit * kUnitSize + random_.Below(kUnitSize) + 1;
  state.SetTrigger(page, n, !state.Trigger(page, n));
  const int base = random_.OneIn(4) ? kTriggerUnitBaseWide : kTriggerUnitBase;
  return {{static_cast<std::uint8_t>(base + unit), state.UnitTriggerValue(unit)}};
}

std::vector<Report> ReportGenerator::BgmActivity(ControllerState& state) {
  const int unit = random_.Below(kUnits);
  const int n = unit * kUnitSize + random_.Below(kUnitSize) + 1;
  state.SetTrigger(kBgmPage, n, !state.Trigger(kBgmPage, n));
  const int base = random_.OneIn(4) ? kBgmUnitBaseWide : kBgmUnitBase;
  return {{static_cast<std::uint8_t>(base + unit), state.UnitBgmValue(unit)}};
}

}  // namespace orv::sim
