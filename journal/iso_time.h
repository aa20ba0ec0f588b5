#pragma once

#include <string>

#include "journal/journal.h"

namespace orv {

// "2026-12-07T14:03:22+01:00": the local time of a moment, to the second, with its offset.
std::string IsoLocalTime(const JournalTime& time);

}  // namespace orv
