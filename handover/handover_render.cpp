#include "handover/handover_render.h"

#include <QByteArray>
#include <QCryptographicHash>

#include "journal/journal_query.h"

namespace orv {
namespace {

std::string Local(const JournalTime& time) {
  return FormatJournalLocalTime(time);
}

// A moment the records do not stamp (a shelf's end): at the offset of the report's end.
std::string LocalAt(std::int64_t utc_ms, const JournalTime& like) {
  return FormatJournalLocalTime(JournalTime{utc_ms, like.utc_offset_s});
}

std::array<std::string, 4> ConditionRow(const HandoverCondition& c, bool cleared) {
  std::string more = c.kind;
  if (cleared) more += ", cleared " + Local(c.cleared);
  if (c.acknowledged) {
    more += ", acknowledged " + Local(c.acknowledged_at);
    if (!c.comment.empty()) more += ": " + c.comment;
  }
  return {Local(c.since), c.name, c.acknowledged ? c.acknowledged_by : std::string(), more};
}

std::array<std::string, 4> RecordRow(const JournalRow& row) {
  return {Local(row.entry.time), row.entry.text, row.entry.login, row.entry.detail};
}

}  // namespace

std::vector<HandoverSection> HandoverSections(const HandoverReport& report) {
  std::vector<HandoverSection> sections{
      {"unacknowledged", "Conditions standing, not acknowledged", {}},
      {"acknowledged", "Conditions acknowledged, still standing", {}},
      {"cleared", "Conditions cleared in the period", {}},
      {"shelves", "Shelves ending in the next 8 h", {}},
      {"refused", "Refused actions", {}},
      {"link", "Link losses", {}},
      {"logins", "Log-ins and log-outs", {}},
      {"logged-in", "Logged in at the end", {}},
  };
  for (const HandoverCondition& c : report.unacknowledged)
    sections[0].rows.push_back(ConditionRow(c, false));
  for (const HandoverCondition& c : report.acknowledged)
    sections[1].rows.push_back(ConditionRow(c, false));
  for (const HandoverCondition& c : report.cleared)
    sections[2].rows.push_back(ConditionRow(c, true));
  for (const HandoverShelf& s : report.shelves_ending)
    sections[3].rows.push_back({LocalAt(s.until_ms, report.to), s.name, s.by,
                                "shelved " + Local(s.shelved_at) + ": " + s.reason});
  for (const JournalRow& row : report.refusals)
    sections[4].rows.push_back(RecordRow(row));
  for (const JournalRow& row : report.link_losses)
    sections[5].rows.push_back(RecordRow(row));
  for (const JournalRow& row : report.logins)
    sections[6].rows.push_back(RecordRow(row));
  for (const HandoverSession& s : report.logged_in)
    sections[7].rows.push_back({Local(s.since), s.name, s.origin, "logged in"});
  return sections;
}

std::string HandoverPeriodText(const HandoverReport& report) {
  std::string text = "From " + Local(report.from) + " to " + Local(report.to);
  text += report.since_handover.empty()
              ? std::string()
              : ", since the last handover (" + report.since_handover + ")";
  if (report.rows_left_out > 0)
    text += "; " + std::to_string(report.rows_left_out) + " more records not listed (at most " +
            std::to_string(HandoverBuilder::kMostRows) + " a section)";
  return text;
}

std::string HandoverText(const HandoverReport& report) {
  std::string text = std::string(kHandoverTitle) + "\n" + HandoverPeriodText(report) + "\n";
  for (const HandoverSection& section : HandoverSections(report)) {
    text +=
        "\n" + std::string(section.heading) + " (" + std::to_string(section.rows.size()) + ")\n";
    if (section.rows.empty()) text += "  none\n";
    for (const auto& row : section.rows) {
      std::string line = "  " + row[0] + "  " + row[1];
      if (!row[2].empty()) line += "  (" + row[2] + ")";
      if (!row[3].empty()) line += "  " + row[3];
      // A record's text is one line here whatever it holds, so a line cannot pose as a heading.
      for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
      text += line + "\n";
    }
  }
  return text;
}

std::string HandoverCsv(const HandoverReport& report) {
  // The period first, so that the file says what it covers: from, to, and the sign-off it follows.
  std::string csv = "section,time,what,who,more\r\nperiod," + CsvField(Local(report.from)) + "," +
                    CsvField("to " + Local(report.to)) + ",," +
                    CsvTextField(report.since_handover) + "\r\n";
  for (const HandoverSection& section : HandoverSections(report))
    for (const auto& row : section.rows)
      csv += std::string(section.key) + "," + CsvField(row[0]) + "," + CsvTextField(row[1]) + "," +
             CsvTextField(row[2]) + "," + CsvTextField(row[3]) + "\r\n";
  return csv;
}

std::string HandoverSha256(std::string_view text) {
  const QByteArray hash = QCryptographicHash::hash(
      QByteArrayView(text.data(), static_cast<qsizetype>(text.size())), QCryptographicHash::Sha256);
  return hash.toHex().toStdString();
}

}  // namespace orv
