#include "link/dispatcher.h"

#include "link/frame.h"

namespace orv {

void Dispatcher::DispatchRxFrame() {
  const auto& payload = receiver_.rx_payload();
  const std::uint8_t command = receiver_.rx_command();
  switch (command) {
    case cmd::kFaultImage:
      if (handlers_.fault_image) handlers_.fault_image(payload[0], payload[1]);
      break;
    case cmd::kSoftStatus:
    case cmd::kEmgStatus:
    case cmd::kBusStatus:
    case cmd::kBgmStatus:
      if (handlers_.trigger_status_reply) handlers_.trigger_status_reply(command);
      break;
    case cmd::kReport:
      ReportKind = payload[0];
      ReportValue = payload[1] * 256 + payload[2];
      if (ReportKind == kPanelStatusKind) {
        if (handlers_.panel_status) handlers_.panel_status(ReportValue);
      } else if (handlers_.event_report) {
        handlers_.event_report(ReportKind, ReportValue);
      }
      break;
    default:
      break;
  }
}

}  // namespace orv
