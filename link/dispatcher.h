#pragma once

#include <cstdint>
#include <functional>

#include "link/receiver.h"

namespace orv {

// Where each good frame goes, by its command byte.
struct DispatchHandlers {
  std::function<void(std::uint8_t d0, std::uint8_t d1)> fault_image;        // command 6
  std::function<void(std::uint8_t command)> trigger_status_reply;           // commands 7 to 10
  std::function<void(std::int32_t value)> panel_status;                     // report 'P'
  std::function<void(std::uint8_t kind, std::int32_t value)> event_report;  // any other report
};

class Dispatcher {
 public:
  static constexpr std::uint8_t kPanelStatusKind = 0x50;  // 'P'

  explicit Dispatcher(const Receiver& receiver) : receiver_(receiver) {}

  void SetHandlers(DispatchHandlers handlers) { handlers_ = std::move(handlers); }
  // Reads RxCommand and RxPayload of the frame just completed. Handlers read fixed payload
  // positions whatever LEN said, so a short frame sees what earlier frames left behind.
  void DispatchRxFrame();

  std::uint8_t report_kind() const { return ReportKind; }
  std::int32_t report_value() const { return ReportValue; }

 private:
  const Receiver& receiver_;
  DispatchHandlers handlers_;
  std::uint8_t ReportKind = 0;
  // The 16-bit word as an unsigned value 0..65535: a high byte of 0x80 or more is kept.
  std::int32_t ReportValue = 0;
};

}  // namespace orv
