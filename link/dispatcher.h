#pragma once

#include <cstdint>
#include <span>

#include "link/receiver.h"
#include "platform/signal.h"

namespace orv {

// Sends each good frame on by its command byte: the fault image, the four trigger status
// replies, the panel status report and every other report.
class Dispatcher {
 public:
  static constexpr std::uint8_t kPanelStatusKind = 0x50;  // 'P'

  void DispatchRxFrame(const ReceivedFrame& frame);

  // Command 6: its first two data bytes.
  Signal<std::uint8_t, std::uint8_t>& fault_image() { return fault_image_; }
  // Commands 7 to 10: the command and the payload buffer.
  Signal<std::uint8_t, std::span<const std::uint8_t>>& trigger_status_reply() {
    return trigger_status_reply_;
  }
  // Report 'P' with its value.
  Signal<std::int32_t>& panel_status() { return panel_status_; }
  // Any other report: its kind and value.
  Signal<std::uint8_t, std::int32_t>& event_report() { return event_report_; }

  // The frame being dispatched, for listeners that keep the raw bytes; null between frames.
  const ReceivedFrame* current_frame() const { return current_; }

  std::uint8_t report_kind() const { return ReportKind; }
  std::int32_t report_value() const { return ReportValue; }

 private:
  Signal<std::uint8_t, std::uint8_t> fault_image_;
  Signal<std::uint8_t, std::span<const std::uint8_t>> trigger_status_reply_;
  Signal<std::int32_t> panel_status_;
  Signal<std::uint8_t, std::int32_t> event_report_;
  const ReceivedFrame* current_ = nullptr;
  std::uint8_t ReportKind = 0;
  // The 16-bit word as an unsigned value 0..65535: a high byte of 0x80 or more is kept.
  std::int32_t ReportValue = 0;
};

}  // namespace orv
