#pragma once

#include <cstdint>
#include <span>

#include "link/shared_state.h"

namespace orv {

// Copies a page's bit image (least significant bit first, 6 or 8 bits per byte) into its state
// table and asks for a redraw when that page is on screen. It reads the fixed positions of the
// payload whatever the frame's length was.
void HandleTriggerStatusReply(SharedState& shared, std::span<const std::uint8_t> payload,
                              std::uint8_t command);

}  // namespace orv
