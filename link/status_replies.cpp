#include "link/status_replies.h"

namespace orv {

int HandleTriggerStatusReply(TriggerStates& states, std::span<const std::uint8_t> payload,
                             std::uint8_t command) {
  const int page = PageOfStatusReply(command);
  if (page < 0) return -1;
  const TriggerPage& layout = kTriggerPages[static_cast<std::size_t>(page)];
  TriggerStateTable& table = states.States(page);
  int k = 1;
  for (std::size_t i = 0; i < layout.reply_bytes && i < payload.size(); ++i) {
    for (int bit = 0; bit < layout.reply_bits_per_byte; ++bit) {
      table.Set(k++, (payload[i] >> bit) & 1 ? 1 : 0);
    }
  }
  return page;
}

}  // namespace orv
