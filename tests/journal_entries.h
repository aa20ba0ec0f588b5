#pragma once

// A journal record for tests of the journal's readers: written an hour east of UTC on the
// operator PC "panel-pc".
#include <cstdint>
#include <string>
#include <utility>

#include "journal/journal.h"

namespace orv::test {

inline JournalEntry PanelEntry(std::int64_t utc_ms, JournalKind kind, std::string text,
                               std::string login = "alice") {
  JournalEntry e;
  e.time = {utc_ms, 3600};
  e.kind = kind;
  e.text = std::move(text);
  e.login = std::move(login);
  e.host = "panel-pc";
  return e;
}

}  // namespace orv::test
