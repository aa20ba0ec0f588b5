// Reading the journal: filters, times as people read them, command-line dates, CSV (RFC 4180).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "journal/journal.h"
#include "journal/journal_query.h"
#include "tests/journal_test_fixture.h"

namespace orv {
namespace {

using test::JournalTest;
using test::kBase;
using test::PanelEntry;
using ::testing::ElementsAre;

class JournalQueryTest : public JournalTest {
 protected:
  // Writes the entries in one commit and opens the reader.
  void Write(const std::vector<JournalEntry>& entries) {
    auto journal = MakeJournal();
    for (const JournalEntry& entry : entries)
      journal->Append(entry);
    ASSERT_TRUE(journal->Commit());
    ASSERT_TRUE(reader_.Open(File()).ok());
  }
  std::vector<std::int64_t> Sequences(const JournalFilter& filter) {
    std::vector<JournalRow> rows;
    EXPECT_TRUE(reader_.NewestFirst(filter, 0, 1000, rows).done());
    const std::vector<std::int64_t> sequences = SequencesOf(rows);
    std::int64_t count = -1;
    EXPECT_TRUE(reader_.Count(filter, count).ok());
    EXPECT_EQ(count, std::int64_t(sequences.size())) << "count and pages disagree";
    return sequences;
  }

  JournalReader reader_;
};

TEST_F(JournalQueryTest, FiltersTakeExactlyWhatTheySay) {
  constexpr auto kEvent = JournalKind::kEvent, kOperator = JournalKind::kOperator;
  JournalEntry fault = PanelEntry(kBase + 2000, kEvent, "Fault Unit 12 zone 3");
  fault.detail = "Mains, Battery";
  Write({
      PanelEntry(kBase, kEvent, "12/07 00:00 Event = EMG Ack"),                              // 1
      PanelEntry(kBase + 1000, kOperator, "Key EMG Reset", "bob"),                           // 2
      fault,                                                                                 // 3
      PanelEntry(kBase + 3000, JournalKind::kLink, "Connect COM1 /dev/ttyUSB0 9600,N,8,1"),  // 4
      PanelEntry(kBase + 4000, kOperator, "Rename ETRG 7 \"Lobby\" to \"Hall\""),            // 5
      PanelEntry(kBase + 5000, JournalKind::kProgram, "100% sure_thing"),                    // 6
      PanelEntry(kBase + 6000, kEvent, "100 percent: sure thing"),                           // 7
      PanelEntry(kBase + 7000, kEvent, "path C:\\data"),                                     // 8
  });
  struct Case {
    const char* name;
    JournalFilter filter;
    std::vector<std::int64_t> sequences;  // newest first
  };
  const std::vector<Case> cases = {
      // filters: from, to, kind, text
      {"all", {}, {8, 7, 6, 5, 4, 3, 2, 1}},
      {"events", {{}, {}, kEvent, ""}, {8, 7, 3, 1}},
      {"both bounds inclusive", {kBase + 2000, kBase + 4000, {}, ""}, {5, 4, 3}},
      {"bounds and kind", {kBase + 2000, kBase + 4000, kEvent, ""}, {3}},
      {"bounds, kind and text", {kBase + 2000, kBase + 4000, kOperator, "LOBBY"}, {5}},
      {"from only", {kBase + 6000, {}, {}, ""}, {8, 7}},
      {"to only, a millisecond short of the second record", {{}, kBase + 999, {}, ""}, {1}},
      {"text in another case", {{}, {}, {}, "emg"}, {2, 1}},
      {"two letters, shorter than the index takes", {{}, {}, {}, "Em"}, {2, 1}},
      {"text with a quote", {{}, {}, {}, "\"lobby\""}, {5}},
      {"quotes are no query language", {{}, {}, {}, "Hall\" OR \"Key"}, {}},
      {"the user's name", {{}, {}, {}, "BOB"}, {2}},
      {"the detail", {{}, {}, {}, "battery"}, {3}},
      {"percent is no wildcard", {{}, {}, {}, "100%"}, {6}},
      {"underscore is no wildcard", {{}, {}, {}, "sure_"}, {6}},
      {"a backslash is itself", {{}, {}, {}, "c:\\d"}, {8}},
      {"nothing matches", {{}, {}, {}, "zzz"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Sequences(c.filter), c.sequences);
  }
}

// As the web panel's long-lived reader must, for the newest number and for pages alike.
TEST_F(JournalQueryTest, AReaderFollowsTheFileAtItsPath) {
  Write({PanelEntry(kBase, JournalKind::kEvent, "old 1"),
         PanelEntry(kBase, JournalKind::kEvent, "old 2")});
  JournalReader other;  // each on the old file
  ASSERT_TRUE(other.Open(File()).ok());
  std::filesystem::remove(File());
  auto fresh = MakeJournal();
  fresh->Append(PanelEntry(kBase, JournalKind::kEvent, "new 1"));
  ASSERT_TRUE(fresh->Commit());
  fresh.reset();
  std::int64_t last = 0;
  ASSERT_TRUE(other.LastSequence(last).ok());
  EXPECT_EQ(last, 1);
  std::vector<JournalRow> rows;
  ASSERT_TRUE(reader_.NewestFirst({}, 0, 10, rows).done());
  ASSERT_EQ(rows.size(), 1U);
  EXPECT_EQ(rows[0].entry.text, "new 1");
}

TEST(JournalTimeTest, LocalAndIsoTimesComeFromTheStoredOffset) {
  struct Case {
    JournalTime time;
    const char* local;
    const char* iso;
  };
  const Case cases[] = {
      {{kBase + 14 * 3600000 + 3 * 60000 + 22125, 3600},
       "2026-12-07 15:03:22",
       "2026-12-07T15:03:22.125+01:00"},
      // The offset moves the date back over midnight and the year's end.
      {{1798761600000 + 30000, -5 * 3600}, "2026-12-31 19:00:30", "2026-12-31T19:00:30.000-05:00"},
      {{1798761600000, 0}, "2027-01-01 00:00:00", "2027-01-01T00:00:00.000+00:00"},
      // A quarter-hour zone west of UTC.
      {{kBase, -(3 * 3600 + 2700)}, "2026-12-06 20:15:00", "2026-12-06T20:15:00.000-03:45"},
      // A leap day, and a time before 1970.
      {{1709164800000 + 1, 0}, "2024-02-29 00:00:00", "2024-02-29T00:00:00.001+00:00"},
      {{-1, 0}, "1969-12-31 23:59:59", "1969-12-31T23:59:59.999+00:00"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatJournalLocalTime(c.time), c.local) << c.iso;
    EXPECT_EQ(FormatJournalIsoTime(c.time), c.iso);
    // To the second: the same moment without its milliseconds, never rounded up.
    EXPECT_EQ(FormatJournalIsoTime(c.time, false), std::string(c.iso).erase(19, 4));
  }
}

TEST(JournalDateTest, CommandLineDatesNameADayAMinuteOrASecondOfLocalTime) {
  // One hour east of UTC, without summer time.
  const LocalToUtcFn plus_one = [](std::int64_t local, std::int64_t& utc) {
    utc = local - 3600;
    return true;
  };
  struct Case {
    const char* text;
    std::int64_t first_ms;
    std::int64_t last_ms;
  };
  const Case cases[] = {
      {"2026-12-07", kBase - 3600000, kBase - 3600000 + 86400000 - 1},
      {"2026-12-07 14:03", kBase + 13 * 3600000 + 180000, kBase + 13 * 3600000 + 240000 - 1},
      {"2026-12-07T14:03", kBase + 13 * 3600000 + 180000, kBase + 13 * 3600000 + 240000 - 1},
      {"2026-12-07T14:03:22", kBase + 13 * 3600000 + 202000, kBase + 13 * 3600000 + 203000 - 1},
      {"2026-12-07 00:00:59", kBase - 3600000 + 59000, kBase - 3600000 + 60000 - 1},
      {"2024-02-29 23:59:59", 1709251199000 - 3600000, 1709251200000 - 3600000 - 1},
  };
  // The first and last millisecond named; {-1, -1} when refused with a reason.
  const auto parse = [](const char* text, const LocalToUtcFn& zone) {
    std::string error;
    const JournalDateSpan span = ParseJournalDate(text, zone, error);
    return error.empty() ? std::pair(span.first_ms, span.last_ms) : std::pair(-1L, -1L);
  };
  for (const Case& c : cases)
    EXPECT_EQ(parse(c.text, plus_one), std::pair(c.first_ms, c.last_ms)) << c.text;
  // clang-format off
  const char* bad[] = {"", "2026-12-7", "26-12-07", "2026/12/07", "2026-13-01", "2026-00-10",
      "2026-02-29", "2026-04-31", "2026-12-00", "2026-12-07 24:00", "2026-12-07 14:60",
      "2026-12-07 14:03:60", "2026-12-07 14", "2026-12-07 14:3", "2026-12-07X14:03",
      "2026-12-07 14:03:22Z", "2026-12-07 14:03:2", "2026-12-07 ", "yesterday", "2026-12-07 +4:03"};
  // clang-format on
  for (const char* text : bad)
    EXPECT_EQ(parse(text, plus_one), std::pair(-1L, -1L)) << '"' << text << '"';
  // A zone that cannot convert is an error too.
  EXPECT_EQ(parse("2026-12-07", [](std::int64_t, std::int64_t&) { return false; }),
            std::pair(-1L, -1L));
}

// A field is quoted only when it must be (a comma, a quote, a line break of any kind), its quotes
// doubled; recorded text that a spreadsheet would run as a formula is exported as text.
TEST(JournalCsvTest, FieldsAreQuotedWhenTheyMustBeAndFormulasGetALeadingQuote) {
  const std::pair<std::string, std::string> cases[] = {
      {"lf\nonly", "\"lf\nonly\""},
      {"cr lf\r\nand cr\r", "\"cr lf\r\nand cr\r\""},
      {"a,b", "\"a,b\""},
      {"\"Lobby\"", "\"\"\"Lobby\"\"\""},
      {"Zoë; 東京", "Zoë; 東京"},
      {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
      {"+1", "'+1"},
      {"-1+2", "'-1+2"},
      {"@SUM(A1)", "'@SUM(A1)"},
      {"\t=1", "'\t=1"},
      {"\r=1", "\"'\r=1\""},
      {"a=b", "a=b"},
      {" =1", " =1"},
      {"'=1", "'=1"},
      {"", ""},
  };
  for (const auto& [value, field] : cases)
    EXPECT_EQ(CsvTextField(value), field) << value;
  // Every recorded column of a record goes through it: text, login, host, frame, detail.
  const JournalRow row{
      7, {{kBase, 3600}, JournalKind::kOperator, "=1", "@4", "+2", "-3", "=5"}, ""};
  EXPECT_EQ(JournalCsvLine(row),
            "7,2026-12-07T01:00:00.000+01:00,operator,'=1,'+2,'-3,'@4,'=5\r\n");
}

// Each record ending CR LF; a filter takes what it says; the header comes even when none matches.
TEST_F(JournalQueryTest, CsvIsEveryRecordOnceInOrderPastOnePage) {
  std::vector<JournalEntry> entries;
  std::string all;
  for (int i = 1; i <= 4500; ++i) {
    const bool link = i % 3 == 0;
    entries.push_back(PanelEntry(kBase, link ? JournalKind::kLink : JournalKind::kEvent,
                                 "r" + std::to_string(i)));
    all += std::to_string(i) + ",2026-12-07T01:00:00.000+01:00," + (link ? "link" : "event") +
           ",r" + std::to_string(i) + ",alice,panel-pc,,\r\n";
  }
  Write(entries);
  const std::tuple<JournalFilter, std::int64_t, std::string> cases[] = {
      {{}, 4500, all}, {{{}, {}, {}, "none"}, 0, ""}};
  for (const auto& [filter, count, lines] : cases) {
    std::ostringstream out;
    std::int64_t written = 0;
    ASSERT_TRUE(WriteJournalCsv(reader_, filter, out, written).ok());
    EXPECT_EQ(written, count);
    EXPECT_EQ(out.str(), JournalCsvHeader() + lines) << count;
  }
}
}  // namespace
}  // namespace orv
