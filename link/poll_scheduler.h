#pragma once

#include <cstdint>

#include "link/transmitter.h"

namespace orv {

// Paces all polling: one request every 11 ticks while connected. After the fault image request
// comes the shown page's status request, then the next page of the rotation, then 6 again.
class PollScheduler {
 public:
  static constexpr std::int16_t kSlotSpacing = 10;  // ticks skipped between two slots
  static constexpr std::int16_t kIdle = 0;
  static constexpr std::int16_t kFaultImageStep = 1;

  explicit PollScheduler(Transmitter& transmitter) : transmitter_(transmitter) {}

  // One tick's step: nothing unless connected; shown_page is the trigger bank's page (0..3),
  // whose states are asked for after every fault image request.
  void PollNextCommand(bool connected, std::int16_t shown_page);

  // Written on connect (1), disconnect (0) and page change (page + 2).
  void set_poll_step(std::int16_t step) { PollStep = step; }
  std::int16_t poll_step() const { return PollStep; }
  std::int16_t poll_delay() const { return PollDelay; }
  std::int16_t poll_rotation() const { return PollRotation; }

 private:
  Transmitter& transmitter_;
  std::int16_t PollDelay = 0;
  std::int16_t PollStep = kIdle;
  std::int16_t PollRotation = 0;
};

}  // namespace orv
