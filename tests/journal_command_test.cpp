// The journal commands of the command line, run as the real program from a program folder of its
// own with no display: CSV of what the filters take, the chain verified, a record changed,
// deleted or inserted with plain SQL named by its sequence number, and exit status 2 with one
// line for what is not understood.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/journal_commands.h"
#include "journal/journal.h"
#include "journal/journal_query.h"
#include "platform/sqlite.h"
#include "tests/temp_folder.h"

extern char** environ;

namespace orv {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kBase = 1796601600000;  // 2026-12-07 00:00:00 UTC

struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

// A program folder with the real executable in it (hard-linked when the file system allows, so
// that it finds this folder as its own) and a journal of 30 records: one every hour from
// 2026-12-07 00:00 UTC, kinds in turn event, operator, link, program.
class JournalCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = temp_.path() / "orvandel";
    std::error_code error;
    fs::create_hard_link(ORV_PROGRAM_EXECUTABLE, program_, error);
    if (error) fs::copy_file(ORV_PROGRAM_EXECUTABLE, program_);
    MakeJournal();
  }
  // A fresh DATA folder with the 30 records.
  void MakeJournal() {
    fs::remove_all(temp_.path() / "DATA");
    fs::create_directory(temp_.path() / "DATA");
    JournalOptions options;
    options.anchor = nullptr;  // the same file is made again: no anchor of the last one counts
    Journal journal(temp_.path() / "DATA", nullptr, options);
    static constexpr JournalKind kKinds[] = {JournalKind::kEvent, JournalKind::kOperator,
                                             JournalKind::kLink, JournalKind::kProgram};
    for (int i = 0; i < 30; ++i) {
      JournalEntry e;
      e.time = {kBase + i * 3600000LL, 3600};
      e.kind = kKinds[i % 4];
      e.text = "record " + std::to_string(i + 1) + (i == 5 ? ", with \"quotes\"" : "");
      e.login = "operator1";
      e.host = "panel-pc";
      journal.Append(e);
    }
    ASSERT_TRUE(journal.Commit());
  }
  fs::path JournalFile() const { return temp_.path() / "DATA" / Journal::kFileName; }

  // Runs the program with args, in UTC and with no display at all.
  ProgramRun Program(const std::vector<std::string>& args) {
    const fs::path out = temp_.path() / "stdout", err = temp_.path() / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> strings = {program_.string()};
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : strings)
      argv.push_back(s.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_strings = {"TZ=UTC", "PATH=/usr/bin:/bin"};
    std::vector<char*> env;
    for (std::string& s : env_strings)
      env.push_back(s.data());
    env.push_back(nullptr);
    ProgramRun run;
    pid_t pid = 0;
    const int spawned =
        posix_spawn(&pid, program_.c_str(), &actions, nullptr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0);
    int status = 0;
    if (spawned == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
      run.status = WEXITSTATUS(status);
    run.out = test::ReadBytes(out);
    run.err = test::ReadBytes(err);
    return run;
  }
  // The sequence numbers of the CSV's records, after checking its header.
  static std::vector<int> Sequences(const std::string& csv) {
    std::vector<int> sequences;
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "seq,time,kind,text,user,host,raw frame,detail\r");
    while (std::getline(in, line))
      sequences.push_back(std::stoi(line));
    return sequences;
  }
  void Sql(const std::string& sql) {
    sqlite::Database db;
    ASSERT_TRUE(db.Open(JournalFile(), sqlite::kReadWrite).ok());
    const sqlite::Result result = db.Exec(sql);
    ASSERT_TRUE(result.ok()) << result.message;
  }

  test::TempFolder temp_;
  fs::path program_;
};

TEST_F(JournalCommandTest, ExportWritesTheRecordsTheFiltersTakeOldestFirst) {
  struct Case {
    std::vector<std::string> args;
    std::vector<int> sequences;
  };
  const std::vector<Case> cases = {
      {{}, {}},  // every record: filled in below
      {{"--kind", "operator"}, {2, 6, 10, 14, 18, 22, 26, 30}},
      // The hour from 03:00 to the end of the minute 05:00 (UTC, as the child's TZ says).
      {{"--from", "2026-12-07 03:00", "--to", "2026-12-07 05:00"}, {4, 5, 6}},
      {{"--from", "2026-12-07T03:00:01", "--to", "2026-12-07T04:59:59"}, {5}},
      {{"--from", "2026-12-08"}, {25, 26, 27, 28, 29, 30}},
      {{"--to", "2026-12-07", "--kind", "link"}, {3, 7, 11, 15, 19, 23}},
      {{"--from", "2026-12-08", "--to", "2026-12-07"}, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--journal-export"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(testing::PrintToString(args));
    const ProgramRun run = Program(args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    std::vector<int> expected = c.sequences;
    if (c.args.empty()) {
      for (int i = 1; i <= 30; ++i)
        expected.push_back(i);
    }
    EXPECT_EQ(Sequences(run.out), expected);
  }
  // One line in full: ISO time with the stored offset, quotes doubled.
  const ProgramRun run =
      Program({"--journal-export", "--kind", "operator", "--to", "2026-12-07 05:00"});
  EXPECT_NE(run.out.find("\r\n6,2026-12-07T06:00:00.000+01:00,operator,\"record 6, with "
                         "\"\"quotes\"\"\",operator1,panel-pc,,\r\n"),
            std::string::npos)
      << run.out;
}

TEST_F(JournalCommandTest, VerifyCountsAnIntactChainAndExitsZero) {
  const ProgramRun run = Program({"--journal-verify"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, JournalFile().string() +
                         ": 30 record(s), the chain verifies; no anchor was found, so deleted "
                         "last records or a recomputed chain would not show\n");
  EXPECT_EQ(run.err, "");
}

TEST_F(JournalCommandTest, VerifyNamesTheRecordChangedDeletedOrInsertedAndExitsOne) {
  const std::string kColumns = "seq, utc_ms, utc_offset_s, kind, text, raw_hex, login, host, chain";
  struct Case {
    const char* name;
    std::string sql;
    int first_bad;
  };
  const Case cases[] = {
      {"text changed", "UPDATE journal SET text = 'record 17, edited' WHERE seq = 17", 17},
      {"time changed", "UPDATE journal SET utc_ms = utc_ms + 1 WHERE seq = 9", 9},
      {"kind changed", "UPDATE journal SET kind = 'event' WHERE seq = 30", 30},
      {"user changed", "UPDATE journal SET login = 'mallory' WHERE seq = 1", 1},
      {"deleted", "DELETE FROM journal WHERE seq = 17", 17},
      {"last deleted and the one before changed",
       "DELETE FROM journal WHERE seq = 30; UPDATE journal SET host = 'x' WHERE seq = 29", 29},
      // Room is made by moving the later records up one (through negative numbers, since the
      // sequence number is unique at every step), then a copy of record 16 goes in as 17.
      {"inserted",
       "UPDATE journal SET seq = -(seq + 1) WHERE seq >= 17; UPDATE journal SET seq = -seq WHERE "
       "seq < 0; INSERT INTO journal(" +
           kColumns + ") SELECT 17, utc_ms, utc_offset_s, kind, text, raw_hex, login, host, " +
           "chain FROM journal WHERE seq = 16",
       17},
      {"appended with a made-up chain",
       "INSERT INTO journal(" + kColumns +
           ") SELECT 31, utc_ms + 1, utc_offset_s, kind, text, raw_hex, login, host, chain FROM "
           "journal WHERE seq = 30",
       31},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeJournal();  // a fresh journal for each
    if (HasFatalFailure()) return;
    Sql(c.sql);
    const ProgramRun run = Program({"--journal-verify"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, JournalFile().string() + ": record " + std::to_string(c.first_bad) +
                           " fails the chain (changed, deleted or inserted); " +
                           std::to_string(c.first_bad - 1) + " record(s) before it verify\n");
    EXPECT_EQ(run.err, "");
  }
}

// Against an anchor given on the command line: the chain verifies in each case, and what the
// anchor shows is named with exit status 1.
TEST_F(JournalCommandTest, VerifyAgainstAnAnchorNamesWhatWasFound) {
  std::vector<JournalRow> rows;
  ASSERT_TRUE(ReadJournalFile(JournalFile(), 30, 1, rows).ok());
  const std::string anchor = FormatJournalAnchor({30, rows.at(0).chain});
  const struct {
    const char* sql;
    int status;
    std::string out;
  } kCases[] = {
      {"SELECT 1", 0, ": 30 record(s), the chain verifies and matches the anchor at 30"},
      {"DELETE FROM journal WHERE seq > 27", 1,
       ": the journal ends at 27 but was anchored at 30: records were deleted from its end, or "
       "the file was replaced"},
      // One record's text edited and its chain value made up: the walk names it first.
      {"UPDATE journal SET text = 'TEST', chain = zeroblob(32) WHERE seq = 30", 1,
       ": record 30 fails the chain (changed, deleted or inserted); 29 record(s) before it verify"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.sql);
    MakeJournal();
    if (HasFatalFailure()) return;
    Sql(c.sql);
    const ProgramRun run = Program({"--journal-verify", "--journal-anchor", anchor});
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, JournalFile().string() + c.out + "\n");
    EXPECT_EQ(run.err, "");
  }
}

TEST_F(JournalCommandTest, WhatIsNotUnderstoodGetsOneLineAndExitTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"--journal-export", "--bogus"},
      {"--journal-export", "--from", "2026-13-01"},
      {"--journal-export", "--to", "2026-12-07 25:00"},
      {"--journal-export", "--from", "yesterday"},
      {"--journal-export", "--to"},
      {"--journal-export", "--kind", "alarm"},
      {"--journal-verify", "--kind", "event"},
      {"--journal-export", "--journal-verify"},
      {"--journal-verify", "extra"},
      {"--journal-verify", "--journal-anchor", "30:abc"},
      {"--journal-export", "--journal-anchor", "1:" + std::string(64, '0')},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    const ProgramRun run = Program(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    ASSERT_FALSE(run.err.empty());
    EXPECT_EQ(run.err.rfind("orvandel: ", 0), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
  }
}

// No journal at all: an export has nothing to read; a verify says there is none yet (a fresh
// installation), unless an anchor shows there was one.
TEST_F(JournalCommandTest, AMissingJournalIsOneLine) {
  fs::remove(JournalFile());
  fs::remove(JournalFile().string() + "-wal");
  fs::remove(JournalFile().string() + "-shm");
  const ProgramRun exported = Program({"--journal-export"});
  EXPECT_EQ(exported.status, 1);
  EXPECT_EQ(exported.out, "");
  EXPECT_NE(exported.err.find(JournalFile().string()), std::string::npos) << exported.err;
  EXPECT_EQ(exported.err.find('\n'), exported.err.size() - 1) << exported.err;

  const ProgramRun fresh = Program({"--journal-verify"});
  EXPECT_EQ(fresh.status, 0);
  EXPECT_EQ(fresh.out, "no journal yet at " + JournalFile().string() + "\n");

  const ProgramRun gone =
      Program({"--journal-verify", "--journal-anchor", "30:" + std::string(64, 'a')});
  EXPECT_EQ(gone.status, 1);
  EXPECT_EQ(gone.out,
            JournalFile().string() + ": the journal is missing but was anchored at 30\n");
  EXPECT_FALSE(fs::exists(JournalFile())) << "reading creates no journal";
}

TEST_F(JournalCommandTest, HelpListsEveryOptionWithoutADisplay) {
  const ProgramRun run = Program({"--help"});
  EXPECT_EQ(run.status, 0);
  for (const char* option : {"--site-settings FILE", "--journal-export", "--from DATE", "--to DATE",
                             "--kind KIND", "--journal-verify", "oldest record first", "--help"}) {
    EXPECT_NE(run.out.find(option), std::string::npos) << option;
  }
}

TEST(JournalCommandOptions, DatesKindsAndCommandsAreTakenApart) {
  const LocalToUtcFn utc = [](std::int64_t local, std::int64_t& result) {
    result = local;
    return true;
  };
  const ParsedOptions all = ParseProgramOptions(
      {"--journal-export", "--kind", "link", "--from", "2026-12-07", "--to", "2026-12-07 01:30"},
      utc);
  ASSERT_EQ(all.error, "");
  EXPECT_EQ(all.options.journal_command, JournalCommand::kExport);
  EXPECT_EQ(all.options.journal_filter.kind, JournalKind::kLink);
  EXPECT_EQ(all.options.journal_filter.from_utc_ms, kBase);
  EXPECT_EQ(all.options.journal_filter.to_utc_ms, kBase + 91 * 60000 - 1);
  EXPECT_EQ(all.options.journal_filter.text, "");

  const ParsedOptions verify = ParseProgramOptions({"--journal-verify", "--journal-verify"}, utc);
  EXPECT_EQ(verify.error, "");
  EXPECT_EQ(verify.options.journal_command, JournalCommand::kVerify);
  EXPECT_FALSE(verify.options.journal_filter.from_utc_ms.has_value());

  const ParsedOptions window = ParseProgramOptions({}, utc);
  EXPECT_EQ(window.options.journal_command, JournalCommand::kNone);
  EXPECT_FALSE(AsksForJournalCommand({"--site-settings", "x"}));
  EXPECT_TRUE(AsksForJournalCommand({"--site-settings", "x", "--journal-verify"}));

  const std::pair<std::vector<std::string>, std::string> errors[] = {
      {{"--from", "2026-12-07"}, "--from, --to and --kind go with --journal-export"},
      {{"--journal-export", "--kind", "Event"},
       "--kind: \"Event\" is not event, operator, link or program"},
      {{"--journal-export", "--from"}, "--from needs a date"},
      {{"--journal-export", "--to", "2026-02-30"}, "--to: \"2026-02-30\" is no real date or time"},
  };
  for (const auto& [args, error] : errors)
    EXPECT_EQ(ParseProgramOptions(args, utc).error, error) << testing::PrintToString(args);
}

// In process, the output stream failing is a failure of the export.
TEST_F(JournalCommandTest, AnExportThatCannotBeWrittenFails) {
  ProgramOptions options;
  options.journal_command = JournalCommand::kExport;
  std::ostringstream out;
  out.setstate(std::ios::badbit);
  std::ostringstream err;
  EXPECT_EQ(RunJournalCommand(options, temp_.path(), "", out, err), 1);
  EXPECT_NE(err.str().find("cannot be exported"), std::string::npos) << err.str();
  std::ostringstream no_folder_err;
  EXPECT_EQ(RunJournalCommand(options, {}, "/proc/self/exe cannot be read", out, no_folder_err), 1);
  EXPECT_EQ(no_folder_err.str(),
            "orvandel: the program folder cannot be found: /proc/self/exe cannot be read\n");
}

}  // namespace
}  // namespace orv
