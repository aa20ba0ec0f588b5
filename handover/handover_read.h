// The handover report read from the journal: where its period begins (the last sign-off, or a
// day before now, or the start asked for) and the records replayed from the program start before
// it, so that a condition standing since before the period is known.
#pragma once

#include <cstdint>
#include <optional>

#include "handover/handover_report.h"
#include "journal/journal_query.h"

namespace orv {

struct HandoverAsk {
  JournalTime now;
  std::optional<std::int64_t> since_ms;  // instead of the last handover
};

// The longest the records before the period are replayed for: a panel running longer than this
// without a restart keeps what stood before only from this far back.
inline constexpr std::int64_t kHandoverLookBackMs = 31LL * 24 * 3600 * 1000;

sqlite::Result ReadHandoverReport(JournalReader& reader, const HandoverAsk& ask,
                                  HandoverReport& report);

}  // namespace orv
