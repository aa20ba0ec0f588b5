#include "link/poll_scheduler.h"

#include "link/frame.h"
#include "link/trigger_states.h"

namespace orv {

void PollScheduler::PollNextCommand(bool connected, std::int16_t shown_page) {
  if (!connected) return;
  if (PollDelay > 0) {
    --PollDelay;
    return;
  }
  PollStep = static_cast<std::int16_t>(PollStep % 6);
  PollDelay = kSlotSpacing;
  const std::int16_t shown_page_step = static_cast<std::int16_t>(shown_page + 2);
  if (PollStep == kFaultImageStep) {
    transmitter_.SendPollCommand(cmd::kFaultImage);
    PollStep = shown_page_step;
  } else if (PollStep >= 2 && PollStep <= 5) {
    const auto& page = kTriggerPages[static_cast<std::size_t>(PollStep - 2)];
    transmitter_.SendPollCommand(page.status_request);
    if (PollStep == shown_page_step) {
      PollRotation = static_cast<std::int16_t>((PollRotation + 1) % 4);
      PollStep = static_cast<std::int16_t>(PollRotation + 2);
    } else {
      PollStep = kFaultImageStep;
    }
  }
  // Step 0: idle until the next connect; nothing is sent.
}

}  // namespace orv
