#pragma once

#include <cstdint>
#include <span>

#include "link/trigger_states.h"

namespace orv {

// Copies a page's bit image (least significant bit first, 6 or 8 bits per byte) into its state
// table. It reads the fixed positions of the payload whatever the frame's length was. Returns
// the page written, or -1 when the command is no page's status reply.
int HandleTriggerStatusReply(TriggerStates& states, std::span<const std::uint8_t> payload,
                             std::uint8_t command);

}  // namespace orv
