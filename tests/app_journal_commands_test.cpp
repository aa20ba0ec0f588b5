// The journal commands of the command line, in process (the chain and anchor rules are the
// journal's tests) and once per path through the real program.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/journal_commands.h"
#include "journal/journal.h"
#include "journal/journal_query.h"
#include "tests/program_folder_fixture.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kBase = 1796601600000;  // 2026-12-07 00:00:00 UTC

// Local time is UTC here.
bool Utc(std::int64_t local, std::int64_t& utc) {
  utc = local;
  return true;
}

struct Outcome {
  int status;
  std::string out, err = {};
  bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* out) {
  *out << o.status << ", out \"" << o.out << "\", err \"" << o.err << '"';
}

// A program folder with a journal of 30 records: one every hour from 2026-12-07 00:00 UTC, kinds
// in turn event, operator, link, program, written an hour east of UTC.
class JournalCommandTest : public test::ProgramFolderTest {
 protected:
  void SetUp() override {
    ProgramFolderTest::SetUp();
    JournalOptions options;
    options.anchor = nullptr;
    Journal journal(folder_.path() / "DATA", nullptr, options);
    static constexpr JournalKind kKinds[] = {JournalKind::kEvent, JournalKind::kOperator,
                                             JournalKind::kLink, JournalKind::kProgram};
    for (int i = 0; i < 30; ++i) {
      journal.Append(test::PanelEntry(kBase + i * 3600000LL, kKinds[i % 4],
                                      "record " + std::to_string(i + 1)));
    }
    ASSERT_TRUE(journal.Commit());
  }
  std::string File() const { return (folder_.path() / "DATA" / Journal::kFileName).string(); }

  // In process, as the program runs a parsed command line.
  Outcome Command(const std::vector<std::string>& args,
                  const std::shared_ptr<JournalAnchorSink>& anchors = SystemJournalAnchors()) {
    const ParsedOptions parsed = ParseProgramOptions(args, Utc);
    EXPECT_EQ(parsed.error, "");
    std::ostringstream out, err;
    const int status = RunJournalCommand(parsed.options, folder_.path(), "", out, err, anchors);
    return {status, out.str(), err.str()};
  }
  // The folder's program, in UTC.
  Outcome Program(const std::vector<std::string>& args) {
    const auto child =
        StartProgram(args, {.env = {"TZ=UTC", "PATH=/usr/bin:/bin"}, .capture_stderr = true});
    const int status = child->WaitForExit();
    return {status, child->output(), child->error_output()};
  }
  void Sql(const std::string& sql) { test::JournalSql(File(), sql); }
};

// The real program: filters from its command line in the zone of its TZ, the CSV on standard
// output, a changed chain's exit status. (A refused option's one line is the site check's test.)
TEST_F(JournalCommandTest, TheProgramExportsAndVerifiesFromItsCommandLine) {
  EXPECT_EQ(
      Program({"--journal-export", "--from", "2026-12-07 03:00", "--to", "2026-12-07 05:00"}),
      (Outcome{0, JournalCsvHeader() +
                      "4,2026-12-07T04:00:00.000+01:00,program,record 4,alice,panel-pc,,\r\n"
                      "5,2026-12-07T05:00:00.000+01:00,event,record 5,alice,panel-pc,,\r\n"
                      "6,2026-12-07T06:00:00.000+01:00,operator,record 6,alice,panel-pc,,\r\n"}));
  Sql("DELETE FROM journal WHERE seq = 17");
  EXPECT_EQ(Program({"--journal-verify"}),
            (Outcome{1, File() + ": record 17 fails the chain (changed, deleted or inserted); 16 "
                                 "record(s) before it verify\n"}));
}

// The system journal's anchors as a user sees them: every one sent, the older first; none, or
// (why set) none because this user may not read where they are.
struct Anchors final : JournalAnchorSink {
  bool Send(const std::string&, const JournalAnchor&, std::string&) override { return false; }
  std::optional<JournalAnchor> Newest(const std::string&) override {
    return all.empty() ? std::nullopt : std::optional(all.back());
  }
  std::vector<JournalAnchor> All(const std::string&) override { return all; }
  std::string unreadable() const override { return why; }
  std::vector<JournalAnchor> all;
  std::string why;
};

// Verify against older anchors naming a copy moved aside (the rules are the journal's tests), no
// anchor, one given by hand, and anchors this user may not read: those never let a chain pass
// alone (status 3, the file there or gone), while a copy gone, a deleted end or a failing chain is
// still said as such.
TEST_F(JournalCommandTest, VerifySaysWhatTheChainAndTheAnchorsShow) {
  const std::string copy = "Journal.sqlite.damaged-20261207T000000Z";
  test::WriteBytes(folder_.path() / "DATA" / copy, "not a database");
  std::string problem;
  const JournalAside aside{copy, JournalFileSha256(folder_.path() / "DATA" / copy, problem)};
  const auto older = std::make_shared<Anchors>();
  older->all = {{10, Rows().at(9).chain, 0, {aside}}, {30, Rows().at(29).chain}};
  EXPECT_EQ(
      Command({"--journal-verify"}, older),
      (Outcome{0, File() + ": 30 record(s), the chain verifies and matches the anchor at 30; " +
                      copy + ", moved aside by the program, is as it was\n"}));
  fs::remove(folder_.path() / "DATA" / copy);
  EXPECT_EQ(Command({"--journal-verify"}, older),
            (Outcome{1, File() + ": " + copy + ", moved aside by the program, is missing\n"}));

  const auto none = std::make_shared<Anchors>();
  const auto closed = std::make_shared<Anchors>();
  closed->why = "/var/log/journal/m/system.journal: Permission denied";
  const std::string cannot =
      "the anchors in the system journal cannot be read by this user: run as root or a member of "
      "systemd-journal (/var/log/journal/m/system.journal: Permission denied)\n";
  const std::string by_hand = FormatJournalAnchor({30, Rows().at(29).chain});
  EXPECT_EQ(Command({"--journal-verify"}, none),
            (Outcome{0, File() + ": 30 record(s), the chain verifies; no anchor was found, so "
                                 "deleted last records or a recomputed chain would not show\n"}));
  EXPECT_EQ(Command({"--journal-verify"}, closed),
            (Outcome{3, "",
                     "orvandel: " + File() + ": 30 record(s), the chain verifies, but " + cannot}));
  EXPECT_EQ(
      Command({"--journal-verify", "--journal-anchor", by_hand}, closed),
      (Outcome{0, File() + ": 30 record(s), the chain verifies and matches the anchor at 30\n"}));
  Sql("DELETE FROM journal WHERE seq > 27");
  EXPECT_EQ(Command({"--journal-verify", "--journal-anchor", by_hand}),
            (Outcome{1, File() + ": the journal ends at 27 but was anchored at 30: records were "
                                 "deleted from its end, or the file was replaced\n"}));
  Sql("DELETE FROM journal WHERE seq = 17");
  EXPECT_EQ(Command({"--journal-verify"}, closed).status, 1);
  for (const char* suffix : {"", "-wal", "-shm"})
    fs::remove(File() + suffix);
  EXPECT_EQ(Command({"--journal-verify"}, closed),
            (Outcome{3, "", "orvandel: no journal at " + File() + ", and " + cannot}));
}

// An export fails in one line when its output cannot be written, when there is no journal and
// when there is no program folder; a verify of no journal says there is none yet (a fresh
// installation), unless an anchor shows there was one; and reading makes none.
// A pruned journal verifies from its cut, and the line says where and which record says so.
TEST_F(JournalCommandTest, APrunedJournalVerifiesFromItsCut) {
  {
    JournalOptions options;
    options.anchor = nullptr;
    options.segment_records = 10;
    options.retention = {0, 1};  // whatever may go, goes
    Journal journal(folder_.path() / "DATA", nullptr, options);
    for (int tick = 0; tick < 5; ++tick) {
      journal.Append(test::PanelEntry(kBase + 40 * 3600000LL, JournalKind::kEvent, "new"));
      ASSERT_TRUE(journal.Commit());
    }
  }
  const std::vector<JournalRow> rows = Rows();
  ASSERT_GT(rows.front().sequence, 1);
  std::int64_t by = 0;
  for (const JournalRow& row : rows)
    if (row.entry.text.starts_with("Records ")) by = row.sequence;
  EXPECT_EQ(
      Command({"--journal-verify"}, std::make_shared<Anchors>()),
      (Outcome{0, File() + ": " + std::to_string(rows.size()) +
                      " record(s), the chain verifies from the cut after record " +
                      std::to_string(rows.front().sequence - 1) + " (record " + std::to_string(by) +
                      " says what was pruned); no anchor was found, so deleted last "
                      "records or a recomputed chain would not show\n"}));
}

TEST_F(JournalCommandTest, WhatCannotBeReadOrWrittenIsOneLine) {
  ProgramOptions options;
  options.journal_command = JournalCommand::kExport;
  std::ostringstream bad, err, no_folder_err;
  bad.setstate(std::ios::badbit);
  EXPECT_EQ(RunJournalCommand(options, folder_.path(), "", bad, err), 1);
  EXPECT_NE(err.str().find("cannot be exported"), std::string::npos) << err.str();
  EXPECT_EQ(RunJournalCommand(options, {}, "/proc/self/exe cannot be read", bad, no_folder_err), 1);
  EXPECT_EQ(no_folder_err.str(),
            "orvandel: the program folder cannot be found: /proc/self/exe cannot be read\n");
  for (const char* suffix : {"", "-wal", "-shm"})
    fs::remove(File() + suffix);
  const Outcome exported = Command({"--journal-export"});
  EXPECT_EQ(exported.status, 1);
  EXPECT_EQ(exported.out, "");
  EXPECT_EQ(exported.err.rfind("orvandel: " + File() + " cannot be exported: ", 0), 0u);
  EXPECT_EQ(Command({"--journal-verify"}), (Outcome{0, "no journal yet at " + File() + "\n"}));
  EXPECT_EQ(Command({"--journal-verify", "--journal-anchor", "30:" + std::string(64, 'a')}),
            (Outcome{1, File() + ": the journal is missing but was anchored at 30\n"}));
  EXPECT_FALSE(fs::exists(File())) << "reading creates no journal";
}

TEST(JournalCommandOptions, DatesKindsAndCommandsAreTakenApart) {
  const ParsedOptions all =
      ParseProgramOptions({"--journal-export", "--kind", "link", "--from", "2026-12-07", "--to",
                           "2026-12-07 01:30", "--text", "COM1"},
                          Utc);
  ASSERT_EQ(all.error, "");
  EXPECT_EQ(all.options.journal_filter,
            (JournalFilter{kBase, kBase + 91 * 60000 - 1, JournalKind::kLink, "COM1"}));
  EXPECT_EQ(ParseProgramOptions({"--journal-verify", "--journal-verify"}, Utc).error, "");
  // What is not understood: one line of reason each.
  const std::pair<std::vector<std::string>, std::string> errors[] = {
      {{"--from", "2026-12-07"}, "--from, --to, --kind and --text go with --journal-export"},
      {{"--journal-verify", "--kind", "event"},
       "--from, --to, --kind and --text go with --journal-export"},
      {{"--journal-export", "--kind", "Event"},
       "--kind: \"Event\" is not event, operator, link or program"},
      {{"--journal-export", "--from"}, "--from needs a date"},
      {{"--journal-export", "--text"}, "--text needs a text"},
      {{"--journal-verify", "--text", "x"},
       "--from, --to, --kind and --text go with --journal-export"},
      {{"--journal-export", "--to", "2026-02-30"}, "--to: \"2026-02-30\" is no real date or time"},
      {{"--journal-export", "--journal-anchor", "1:" + std::string(64, '0')},
       "--journal-anchor goes with --journal-verify"},
      {{"--journal-export", "--journal-verify"},
       "--journal-export and --journal-verify cannot be combined"},
      {{"--journal-verify", "--journal-anchor", "30:abc"},
       "--journal-anchor needs SEQ:HEX (a record's number, a colon and its chain value as 64 hex "
       "digits), not \"30:abc\""},
  };
  for (const auto& [args, error] : errors)
    EXPECT_EQ(ParseProgramOptions(args, Utc).error, error) << testing::PrintToString(args);
}

}  // namespace
}  // namespace orv
