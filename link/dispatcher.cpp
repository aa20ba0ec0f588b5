#include "link/dispatcher.h"

#include "link/frame.h"

namespace orv {

void Dispatcher::DispatchRxFrame(const ReceivedFrame& frame) {
  const auto payload = frame.payload;
  if (payload.size() < 3) return;
  current_ = &frame;
  switch (frame.command) {
    case cmd::kFaultImage:
      fault_image_(payload[0], payload[1]);
      break;
    case cmd::kSoftStatus:
    case cmd::kEmgStatus:
    case cmd::kBusStatus:
    case cmd::kBgmStatus:
      trigger_status_reply_(frame.command, payload);
      break;
    case cmd::kReport:
      ReportKind = payload[0];
      ReportValue = payload[1] * 256 + payload[2];
      if (ReportKind == kPanelStatusKind) {
        panel_status_(ReportValue);
      } else {
        event_report_(ReportKind, ReportValue);
      }
      break;
    default:
      break;
  }
  current_ = nullptr;
}

}  // namespace orv
