// What the journal watches in its own file while it runs, and what verify makes of the anchors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "journal/journal_anchor.h"
#include "platform/sqlite.h"
#include "tests/journal_test_fixture.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::FakeAnchors;
using test::JournalTest;
using test::kBase;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

std::string Hex(const std::string& bytes) {
  return FormatJournalAnchor({1, bytes}).substr(2);
}

// Anchored at 8, then 9 to 12 written within the minute; the file changed as a forger with the
// sqlite3 shell would; then the program goes on as it does at a stop (a last record, the end),
// at the end alone, or at the next anchor a minute on.
TEST_F(JournalTest, TheChainSinceTheAnchorIsCheckedBeforeEachAnchorAndAChangeIsNeverAnchored) {
  enum class Then { kStop, kEnd, kMinuteOn };
  const struct {
    const char* what;
    const char* sql;
    std::int64_t recompute_from;
    Then then;
    std::int64_t broken_at;  // 0: nothing found, the head is anchored
  } kCases[] = {
      {"nothing changed", "", 0, Then::kStop, 0},
      {"recomputed after the anchor", "", 10, Then::kStop, 12},
      {"recomputed from before the anchor", "", 5, Then::kStop, 8},
      {"recomputed, then only the end", "", 10, Then::kEnd, 12},
      {"edited, chain left", "UPDATE journal SET text = 'x' WHERE seq = 10", 0, Then::kMinuteOn,
       10},
      {"a record deleted", "DELETE FROM journal WHERE seq = 10", 0, Then::kMinuteOn, 10},
      {"the anchored record deleted", "DELETE FROM journal WHERE seq = 8", 0, Then::kMinuteOn, 8},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    auto journal = Fresh(8, anchors_);
    const std::string at8 = Rows().at(7).chain;
    now_ms_ += 10000;
    for (int i = 8; i < 12; ++i)
      journal->Append(Entry(i));
    ASSERT_TRUE(journal->Commit());
    notices_.clear();
    if (*c.sql != '\0') Sql(c.sql);
    if (c.recompute_from > 0) test::Recompute(File(), c.recompute_from, "forged");
    if (c.then == Then::kMinuteOn) now_ms_ += 61000;
    if (c.then != Then::kEnd) {
      journal->Append(Entry(12, "stopped "));
      ASSERT_TRUE(journal->Commit());
    }
    if (c.then == Then::kMinuteOn) {  // and later on: still not anchored past 8
      now_ms_ += 120000;
      journal->Append(Entry(13));
      ASSERT_TRUE(journal->Commit());
      journal->AnchorNow();
    }
    journal.reset();

    const std::vector<JournalRow> rows = Rows();
    if (c.broken_at == 0) {
      EXPECT_THAT(notices_, IsEmpty());
      EXPECT_EQ(anchors_->sent.back(), (JournalAnchor{rows.back().sequence, rows.back().chain}));
      continue;
    }
    const std::string found =
        "the chain since the anchor at 8 fails at record " + std::to_string(c.broken_at);
    EXPECT_THAT(notices_, ElementsAre(Said(NoticeLevel::kError, found)));
    const std::string said = "The journal was changed outside the program: " + found;
    EXPECT_EQ(std::ranges::count_if(
                  rows, [&](const JournalRow& row) { return row.entry.text.starts_with(said); }),
              1);
    EXPECT_EQ(anchors_->sent.back(), (JournalAnchor{8, at8, c.broken_at}));
    EXPECT_EQ(anchors_->sent.size(), 2U) << "the finding goes out once";
  }
}

// Looked at no more than every five seconds; the records of those seconds go to the old file, and
// the next file's first record from the program names the old chain's last one.
TEST_F(JournalTest, AFileDeletedMovedOrReplacedIsFoundWithinSecondsAndANewChainBegins) {
  enum class Do { kMove, kReplace, kLaterChain };
  const struct {
    Do action;
    std::string said;
    bool read = false;  // a reader (the history, the web panel) keeps the log from being emptied
  } kCases[] = {
      {Do::kMove, "deleted or moved away"},
      {Do::kReplace, "replaced by another file, kept as Journal.sqlite.replaced-20261207T000006Z"},
      {Do::kReplace, "replaced by another file, kept as Journal.sqlite.replaced-20261207T000006Z",
       true},
      // As another copy of the program leaves it that moved a damaged file aside: numbered on
      // after every record given. Not moved aside again; checked at the next anchor instead.
      {Do::kLaterChain, "replaced by another file, whose records begin at 101"},
  };
  const fs::path forged_folder = folder_.path() / "forged";
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.said);
    const bool later = c.action == Do::kLaterChain;
    fs::remove_all(forged_folder);
    auto journal = Fresh(5, anchors_);
    const std::string at5 = Rows().back().chain;
    now_ms_ = kBase + 1000;
    journal->Append(Entry(5));
    ASSERT_TRUE(journal->Commit());
    const std::string at6 = Rows().back().chain;
    sqlite::Database reader;
    sqlite::Statement reading;
    if (c.read) {
      ASSERT_TRUE(reader.Open(File(), sqlite::kReadOnly).ok());
      ASSERT_TRUE(reading.Prepare(reader, "SELECT seq FROM journal").ok());
      ASSERT_TRUE(reading.Step().row());
    }
    if (c.action == Do::kMove) fs::rename(File(), File().string() + ".old");
    if (c.action == Do::kReplace || later) {
      const auto given = std::make_shared<FakeAnchors>();
      given->sent.push_back({100, std::string(32, 'x')});
      JournalOptions options;
      options.anchor = later ? given : nullptr;
      Journal forged(forged_folder, nullptr, options);
      forged.Append(Entry(0, "forged "));
      ASSERT_TRUE(forged.Commit());
    }
    if (c.action == Do::kReplace || later) fs::rename(forged_folder / Journal::kFileName, File());
    now_ms_ = kBase + 5000;
    journal->Append(Entry(6));
    ASSERT_TRUE(journal->Commit());
    EXPECT_THAT(notices_, IsEmpty()) << "looked at again too soon: " << notices_[0].text;
    // The record just written went to the old file: its chain value as the program made it.
    const std::string last = Hex(JournalChainValue(at6, 7, Entry(6)));
    now_ms_ = kBase + 6000;
    journal->Append(Entry(7));
    ASSERT_TRUE(journal->Commit());

    if (later) {  // and its anchor's check says at once that it is not the program's chain
      EXPECT_THAT(notices_, ElementsAre(Said(NoticeLevel::kError, c.said),
                                        Said(NoticeLevel::kError, "fails at record 5")));
    } else {
      EXPECT_THAT(notices_, ElementsAre(Said(NoticeLevel::kError, c.said)));
    }
    const std::vector<JournalRow> rows = Rows();
    ASSERT_EQ(rows.size(), later ? 4U : 2U);  // the other chain's two first
    const JournalRow& note = rows[rows.size() - 2];
    EXPECT_EQ(note.sequence, later ? 103 : 8);
    EXPECT_EQ(note.entry.text,
              "The journal file was " + c.said +
                  " outside the program while it was open. The old chain ended "
                  "at record 7 with chain value " +
                  last + (later ? "; records go on in it." : "; a new chain begins here."));
    EXPECT_TRUE(journal->Verify().ok);
    if (c.action == Do::kMove) {  // with the records of its log
      const JournalCheck moved = VerifyJournalFile(File().string() + ".old");
      EXPECT_TRUE(moved.ok && moved.last_sequence == 7) << moved.last_sequence;
    }
    journal.reset();
    std::vector<JournalAside> asides;
    if (c.action == Do::kReplace) {
      const fs::path aside = data_ / "Journal.sqlite.replaced-20261207T000006Z";
      std::string problem;
      asides.push_back({aside.filename().string(), JournalFileSha256(aside, problem)});
      EXPECT_EQ(test::JournalRows(aside).at(0).entry.text, "forged 0");
    }
    // A new chain is anchored as it is; the other copy's is not the program's own: found changed
    // since the anchor at 5.
    const JournalAnchor expected =
        later ? JournalAnchor{5, at5, 5} : JournalAnchor{9, rows[1].chain, 0, asides};
    EXPECT_EQ(anchors_->sent.back(), expected);
  }
}

TEST(JournalFileSha256, IsTheSha256OfTheFilesBytes) {
  test::TempFolder folder;
  test::WriteBytes(folder.path() / "abc", "abc");
  std::string problem;
  EXPECT_EQ(Hex(JournalFileSha256(folder.path() / "abc", problem)),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(JournalFileSha256(folder.path() / "none", problem), "");
  EXPECT_EQ(problem, "No such file or directory");
}

// Every anchor is read, not only the newest: a copy named in an older one still counts, and an
// older anchor's chain value is compared too (a chain recomputed and anchored anew after a
// restart).
TEST_F(JournalTest, VerifyFindsACopyMovedAsideDeletedOrChangedAndAChangeTheProgramFound) {
  const std::string damaged = "Journal.sqlite.damaged-A", replaced = "Journal.sqlite.replaced-B";
  const struct {
    const char* what;
    std::string deleted, changed, unread;  // copies (unread: the program could not hash it)
    char chain_at_4;              // the file's chain value at the older anchor: 'a' as anchored
    std::int64_t broken_at;       // what the newer anchor says the program found
    std::int64_t first_sequence;  // the file's first record
    std::string problem;          // the one problem said; "" none
  } kCases[] = {
      // clang-format off
      {"all as they were", "", "", "", 'a', 0, 1, ""},
      {"a copy deleted", damaged, "", "", 'a', 0, 1,
       damaged + ", moved aside by the program, is missing"},
      {"a copy changed", "", replaced, "", 'a', 0, 1,
       replaced + ", moved aside by the program, has changed since"},
      {"a copy the program could not read", "", "", replaced, 'a', 0, 1,
       replaced + ", moved aside by the program, could not be read by it then"},
      {"the older anchor's chain value differs", "", "", "", 'z', 0, 1,
       "the chain value at 4 differs from its anchor"},
      {"a chain since moved aside", "", "", "", 'z', 0, 5, ""},
      {"a change found", "", "", "", 'a', 10, 1,
       "the program found the journal changed outside it: after its anchor at 8 the chain fails "
       "at record 10"},
      {"a change found in a chain since moved aside", "", "", "", 'a', 10, 11, ""},
      // clang-format on
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::create_directories(data_);
    std::vector<JournalAside> asides;
    for (const std::string& name : {damaged, replaced}) {
      test::WriteBytes(data_ / name, "bytes of " + name);
      std::string problem;
      asides.push_back({name, JournalFileSha256(data_ / name, problem)});
    }
    if (!c.deleted.empty()) fs::remove(data_ / c.deleted);
    if (!c.changed.empty()) test::WriteBytes(data_ / c.changed, "forged");
    if (!c.unread.empty()) asides[1].sha256 = std::string(32, '\0');
    const std::vector<JournalAnchor> anchors = {
        {4, std::string(32, 'a'), 0, {asides[0]}},
        {8, std::string(32, 'b'), c.broken_at, {asides[1]}}};
    JournalCheck check;
    check.ok = true;
    check.first_sequence = c.first_sequence;
    check.last_sequence = 30;
    check.chains_at = {{4, std::string(32, c.chain_at_4)}, {8, std::string(32, 'b')}};
    std::vector<std::string> intact;
    const std::vector<std::string> problems = JournalAnchorFindings(check, anchors, data_, intact);
    ASSERT_EQ(problems.size(), c.problem.empty() ? 0U : 1U) << ::testing::PrintToString(problems);
    if (!problems.empty()) {
      EXPECT_THAT(problems[0], StartsWith(c.problem));
    }
    EXPECT_EQ(intact.size(), c.deleted.empty() && c.changed.empty() && c.unread.empty() ? 2U : 1U);
  }
}

}  // namespace
}  // namespace orv
