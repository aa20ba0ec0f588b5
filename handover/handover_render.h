// The handover report as people and spreadsheets read it: text (what is signed and hashed), and
// CSV, one line per item. The PDF is made from the same sections (handover/qt).
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "handover/handover_report.h"

namespace orv {

// One section: its heading and its lines, each line its cells (time, what, who, more).
struct HandoverSection {
  std::string_view key;  // the CSV's section name
  std::string_view heading;
  std::vector<std::array<std::string, 4>> rows;
};

inline constexpr std::string_view kHandoverTitle = "Shift handover report";

// The report's sections in their order, with times as the records' local time.
std::vector<HandoverSection> HandoverSections(const HandoverReport& report);
// "From 2026-12-08 06:00:00 to 2026-12-08 14:00:00, since the handover ...": the period in words.
std::string HandoverPeriodText(const HandoverReport& report);

// Plain text: the title, the period, then each section with its count and lines ("none" when
// empty). LF line ends.
std::string HandoverText(const HandoverReport& report);
// CSV (RFC 4180): section,time,what,who,more, the period's line first; CR LF.
std::string HandoverCsv(const HandoverReport& report);

// The SHA-256 of the text, as 64 lowercase hex digits.
std::string HandoverSha256(std::string_view text);

}  // namespace orv
