#include "link/status_replies.h"

namespace orv {

void HandleTriggerStatusReply(SharedState& shared, std::span<const std::uint8_t> payload,
                              std::uint8_t command) {
  const int page = PageOfStatusReply(command);
  if (page < 0) return;
  const TriggerPage& layout = kTriggerPages[static_cast<std::size_t>(page)];
  TriggerStateTable& states = shared.States(page);
  int k = 1;
  for (std::size_t i = 0; i < layout.reply_bytes && i < payload.size(); ++i) {
    for (int bit = 0; bit < layout.reply_bits_per_byte; ++bit) {
      states.Set(k++, (payload[i] >> bit) & 1 ? 1 : 0);
    }
  }
  if (shared.TriggerBankPage == page) shared.RefreshTriggers = true;
}

}  // namespace orv
