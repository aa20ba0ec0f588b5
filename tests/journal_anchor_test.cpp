// What a hostile operator can do to the shared journal file with the sqlite3 shell, and what the
// journal does about it: objects it does not make move the file aside and a new chain goes on at
// once; records deleted from the end leave their numbers unused; the head anchored outside the
// folder shows a deleted end, a replaced file and a recomputed chain.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "journal/journal_anchor.h"
#include "platform/safe_file.h"
#include "platform/sqlite.h"
#include "tests/support/journal_fixture.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

// The system journal as the tests see it: what was sent, and the newest of it read back.
struct FakeAnchors final : JournalAnchorSink {
  bool Send(const std::string& name, const JournalAnchor& anchor, std::string& problem) override {
    if (down) {
      problem = "down";
      return false;
    }
    names.push_back(name);
    sent.push_back(anchor);
    return true;
  }
  std::optional<JournalAnchor> Newest(const std::string&) override {
    if (sent.empty()) return std::nullopt;
    return sent.back();
  }
  bool down = false;
  std::vector<std::string> names;
  std::vector<JournalAnchor> sent;
};

class JournalAnchorTest : public ::testing::Test {
 protected:
  std::unique_ptr<Journal> MakeJournal(std::shared_ptr<JournalAnchorSink> sink) {
    JournalOptions options;
    options.clock = [this] { return JournalTime{now_ms_, 0}; };
    options.anchor = std::move(sink);
    options.retry_commits = 1;
    return std::make_unique<Journal>(
        data_, [this](const Notice& n) { notices_.push_back(n); }, options);
  }
  std::unique_ptr<Journal> MakeJournal() { return MakeJournal(anchors_); }
  static JournalEntry Entry(int i, const std::string& text = "record ") {
    return {
        {1796601600000 + i, 0}, JournalKind::kEvent, text + std::to_string(i), "", "u", "h", ""};
  }
  // A fresh journal of count records, committed at once.
  std::unique_ptr<Journal> Fresh(int count, std::shared_ptr<JournalAnchorSink> sink,
                                 const std::string& text = "record ") {
    std::error_code ec;
    fs::remove_all(data_, ec);
    auto journal = MakeJournal(std::move(sink));
    for (int i = 0; i < count; ++i)
      journal->Append(Entry(i, text));
    EXPECT_TRUE(journal->Commit());
    return journal;
  }
  void Sql(const std::string& sql) const { test::JournalSql(File(), sql); }
  std::vector<JournalRow> Rows() const { return test::JournalRows(File()); }
  std::vector<std::int64_t> Sequences() const {
    std::vector<std::int64_t> sequences;
    for (const JournalRow& row : Rows())
      sequences.push_back(row.sequence);
    return sequences;
  }
  fs::path File() const { return data_ / Journal::kFileName; }

  test::TempFolder folder_;
  fs::path data_ = folder_.path() / "DATA";
  std::shared_ptr<FakeAnchors> anchors_ = std::make_shared<FakeAnchors>();
  std::vector<Notice> notices_;
  std::int64_t now_ms_ = 1796601600000;
};

// A file that is no sound journal of the program's: garbage from the start, a page overwritten,
// or an object the program does not make, planted before it opens the file or while it has it
// open. The next Commit moves the file aside, byte for byte, under a name dated by the clock with
// one notice naming why, and writes a new chain at once, its numbers going on after the last one
// given, anchored at once.
TEST_F(JournalAnchorTest, AnUnsoundFileIsMovedAsideAndANewChainGoesOn) {
  enum class Plant { kGarbage, kPage, kSqlBefore, kSqlWhileOpen };
  const struct {
    Plant plant;
    const char* sql;
    const char* found;
  } kCases[] = {
      {Plant::kGarbage, "", "file is not a database"},
      {Plant::kPage, "", "quick_check"},
      {Plant::kSqlBefore,
       "CREATE TRIGGER spin BEFORE INSERT ON journal BEGIN SELECT count(*) FROM (WITH RECURSIVE "
       "n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n) SELECT x FROM n); END",
       "a trigger \"spin\" that the program does not make"},
      {Plant::kSqlWhileOpen,
       "CREATE TRIGGER lose BEFORE INSERT ON journal BEGIN SELECT RAISE(IGNORE); END",
       "a trigger \"lose\" that"},
      {Plant::kSqlBefore, "CREATE VIEW alarms AS SELECT * FROM journal", "a view \"alarms\" that"},
      {Plant::kSqlWhileOpen, "CREATE TABLE notes(x)", "a table \"notes\" that"},
      {Plant::kSqlBefore, "CREATE INDEX by_text ON journal(text)", "an index \"by_text\" that"},
      {Plant::kSqlWhileOpen, "ALTER TABLE journal ADD COLUMN note TEXT",
       "a table \"journal\" of a form that"},
  };
  const fs::path aside = data_ / "Journal.sqlite.damaged-20261207T000000Z";
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.found);
    const int records = c.plant == Plant::kPage ? 400 : 8;  // a page past the schema's
    anchors_->sent.clear();
    auto journal = Fresh(records, anchors_);
    if (c.plant != Plant::kSqlWhileOpen) journal.reset();
    std::string bytes;
    if (c.plant == Plant::kGarbage) bytes = std::string(4096, 'x');
    if (c.plant == Plant::kPage) {
      bytes = test::ReadBytes(File());
      ASSERT_GT(bytes.size(), 4U * 4096);
      bytes.replace(2 * 4096, 4096, 4096, '\x5a');
    }
    if (bytes.empty()) {
      Sql(c.sql);
    } else {
      test::WriteBytes(File(), bytes);
    }
    if (!journal) journal = MakeJournal();
    notices_.clear();
    journal->Append(Entry(8));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(journal->Commit());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));

    ASSERT_EQ(notices_.size(), 1U);
    EXPECT_NE(notices_[0].text.find(c.found), std::string::npos) << notices_[0].text;
    ASSERT_TRUE(fs::exists(aside));
    EXPECT_TRUE(bytes.empty() || test::ReadBytes(aside) == bytes);
    EXPECT_FALSE(fs::exists(aside.string() + "-2")) << "moved aside once";
    const std::vector<JournalRow> rows = Rows();
    ASSERT_EQ(rows.size(), 2U);
    EXPECT_EQ(rows[0].sequence, records + 1);
    EXPECT_NE(rows[0].entry.text.find("moved aside to " + aside.filename().string()),
              std::string::npos)
        << rows[0].entry.text;
    EXPECT_EQ(rows[1].entry, Entry(8));
    const JournalCheck check = journal->Verify();
    EXPECT_TRUE(check.ok);
    EXPECT_EQ(check.first_sequence, records + 1);
    EXPECT_EQ(anchors_->sent.back(), (JournalAnchor{records + 2, rows[1].chain}));
  }
}

// Records deleted from the end leave their numbers unused, whether the same program goes on or
// another start finds the highest number in the file. (Without the file's, in the anchor: the
// moved-aside test.)
TEST_F(JournalAnchorTest, NumbersAreNotGivenAgainAfterTheEndIsDeleted) {
  for (const bool restart : {false, true}) {
    SCOPED_TRACE(restart ? "restarted" : "the same program goes on");
    // Without the anchor, only the file's high-water is there to find.
    auto journal = Fresh(8, std::make_shared<FakeAnchors>());
    Sql("DELETE FROM journal WHERE seq > 5");
    if (restart) {
      journal.reset();
      journal = MakeJournal(nullptr);
    }
    notices_.clear();
    journal->Append(Entry(8));
    ASSERT_TRUE(journal->Commit());
    journal->Append(Entry(9));
    ASSERT_TRUE(journal->Commit());
    EXPECT_EQ(Sequences(), (std::vector<std::int64_t>{1, 2, 3, 4, 5, 9, 10, 11}));
    const std::vector<JournalRow> rows = Rows();
    EXPECT_EQ(rows[5].entry.text.rfind("The journal ends at 5 but records 6 to 8 were written", 0),
              0U)
        << rows[5].entry.text;
    ASSERT_EQ(notices_.size(), 1U);
    EXPECT_NE(notices_[0].text.find("records 6 to 8 were deleted"), std::string::npos);
    // The gap stays visible to the chain walk.
    EXPECT_EQ(journal->Verify().first_bad, 6);
  }
}

// The head goes out after the first write, then at most once a minute, whenever asked if it
// moved, and at the end; a sink that fails is tried again a minute later, not at every commit.
TEST_F(JournalAnchorTest, TheHeadIsAnchoredAtMostOnceAMinuteAndWhenAsked) {
  enum class Do { kCommit, kAnchorNow, kEnd };
  const struct {
    std::int64_t at_s;  // seconds after the first commit
    Do action;
    bool down;              // the sink fails
    std::int64_t anchored;  // the newest anchor's sequence number afterwards
    bool problem;           // the last try failed
  } kSteps[] = {
      {0, Do::kCommit, false, 1, false},     {30, Do::kCommit, false, 1, false},
      {30, Do::kAnchorNow, false, 2, false}, {31, Do::kAnchorNow, false, 2, false},
      {89, Do::kCommit, false, 2, false},    {90, Do::kCommit, false, 4, false},
      {150, Do::kCommit, true, 4, true},     {160, Do::kCommit, false, 4, true},
      {210, Do::kCommit, false, 7, false},   {211, Do::kCommit, false, 7, false},
      {211, Do::kEnd, false, 8, false},
  };
  auto journal = MakeJournal();
  int i = 0;
  for (const auto& step : kSteps) {
    SCOPED_TRACE(step.at_s);
    now_ms_ = 1796601600000 + step.at_s * 1000;
    anchors_->down = step.down;
    if (step.action == Do::kCommit) {
      journal->Append(Entry(i++));
      ASSERT_TRUE(journal->Commit());
    } else if (step.action == Do::kAnchorNow) {
      journal->AnchorNow();
    } else {
      journal.reset();
    }
    ASSERT_FALSE(anchors_->sent.empty());
    EXPECT_EQ(anchors_->sent.back().sequence, step.anchored);
    if (journal) {
      EXPECT_EQ(journal->anchor_problem(), step.problem ? "down" : "");
    }
  }
  EXPECT_EQ(anchors_->sent.size(), 5U);  // 1, 2, 4, 7, 8: never the same head twice
  EXPECT_EQ(anchors_->names.back(), fs::weakly_canonical(File()).string());
}

// Rewrites the text of record sequence and every chain value from it on, as a forger with the
// program's (unkeyed) chain function would.
void Recompute(const fs::path& file, std::int64_t sequence, const std::string& text) {
  std::string previous(32, '\0');
  for (JournalRow row : test::JournalRows(file)) {
    if (row.sequence == sequence) row.entry.text = text;
    if (row.sequence >= sequence) {
      row.chain = JournalChainValue(previous, row.sequence, row.entry);
      test::JournalSql(file, "UPDATE journal SET text = '" + row.entry.text +
                                 "', chain = " + test::SqlBlob(row.chain) +
                                 " WHERE seq = " + std::to_string(row.sequence));
    }
    previous = row.chain;
  }
}

// The chain itself verifies in every case; only the anchor shows what happened.
TEST_F(JournalAnchorTest, TheAnchorShowsADeletedEndAReplacedFileAndARecomputedChain) {
  const struct {
    const char* what;
    int replaced_by;  // records of a forged journal put in its place (0: the file is kept)
    const char* sql;
    std::int64_t recompute_from;
    const char* problem;
  } kCases[] = {
      {"intact", 0, "", 0, ""},
      {"end deleted", 0, "DELETE FROM journal WHERE seq > 5", 0,
       "the journal ends at 5 but was anchored at 8"},
      {"a shorter forged file", 3, "", 0, "the journal ends at 3 but was anchored at 8"},
      {"a longer forged file", 10, "", 0, "the chain value at 8 differs from the anchor"},
      {"the chain recomputed", 0, "", 4, "the chain value at 8 differs from the anchor"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    anchors_->sent.clear();
    Fresh(8, anchors_).reset();
    const JournalAnchor anchor = anchors_->sent.back();
    ASSERT_EQ(anchor.sequence, 8);
    if (c.replaced_by > 0) Fresh(c.replaced_by, nullptr, "forged ").reset();
    if (*c.sql != '\0') Sql(c.sql);
    if (c.recompute_from > 0) Recompute(File(), c.recompute_from, "TEST");
    const JournalCheck check = VerifyJournalFile(File(), anchor.sequence);
    ASSERT_TRUE(check.ok) << check.error << " at " << check.first_bad;
    const std::string problem = JournalAnchorProblem(check, anchor);
    EXPECT_EQ(problem.substr(0, std::string_view(c.problem).size()), c.problem) << problem;
    EXPECT_EQ(problem.empty(), *c.problem == '\0') << problem;
  }
}

TEST(JournalAnchorText, SequenceColonAndSixtyFourHexDigits) {
  const std::string hex64(64, 'a');
  const struct {
    std::string text;
    bool ok;
  } kCases[] = {
      {"12:" + hex64, true},
      {"12:" + std::string(64, 'F'), true},
      {"0:" + hex64, false},
      {"-1:" + hex64, false},
      {":" + hex64, false},
      {"12" + hex64, false},
      {"12:" + hex64.substr(1), false},
      {"12:" + hex64 + "0", false},
      {"12:" + hex64.substr(1) + "g", false},
      {"1x:" + hex64, false},
      {"9999999999999999999:" + hex64, false},
  };
  for (const auto& c : kCases) {
    JournalAnchor anchor;
    EXPECT_EQ(ParseJournalAnchor(c.text, anchor), c.ok) << c.text;
  }
  const JournalAnchor anchor{42, std::string("\x00\x01\xfe\xff", 4) + std::string(28, '\x5a')};
  JournalAnchor back;
  ASSERT_TRUE(ParseJournalAnchor(FormatJournalAnchor(anchor), back));
  EXPECT_EQ(back, anchor);
  EXPECT_EQ(FormatJournalAnchor(anchor).substr(0, 11), "42:0001feff");
  // A line feed in a value goes as a binary field, length first, so it cannot add fields.
  const std::string datagram = JournalAnchorDatagram("/a\nX=1", anchor);
  EXPECT_NE(datagram.find(std::string("\nORVANDEL_JOURNAL_FILE\n\x06\0\0\0\0\0\0\0/a\nX=1\n", 33)),
            std::string::npos);
}

// Where no journald runs, the test plays it: it binds the system journal's socket and reads the
// datagrams that arrive. The anchor comes as journald's native protocol, KEY=value lines; with
// nobody reading, the sender fails at once instead of waiting; without the socket, at once too.
TEST(JournalSystemAnchor, OneDatagramPerAnchorAndNeverAWait) {
  if (::geteuid() != 0) GTEST_SKIP() << "binding the system journal's socket needs root";
  const fs::path socket_path = "/run/systemd/journal/socket";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socket_path.c_str(), socket_path.string().size() + 1);
  const auto* where = reinterpret_cast<const sockaddr*>(&address);
  FileDescriptor server(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  ASSERT_TRUE(server.valid());
  if (fs::is_socket(socket_path)) {
    FileDescriptor probe(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (::connect(probe.get(), where, sizeof address) == 0)
      GTEST_SKIP() << socket_path << " is in use: a system journal runs here";
    fs::remove(socket_path);  // left behind by a journald that is gone
  }
  std::error_code ec;
  const bool made_folder = fs::create_directories(socket_path.parent_path(), ec);
  ASSERT_EQ(::bind(server.get(), where, sizeof address), 0) << std::strerror(errno);
  struct Cleanup {
    ~Cleanup() {
      std::error_code ec;
      fs::remove(path, ec);
      if (folder) fs::remove(path.parent_path(), ec);
    }
    fs::path path;
    bool folder;
  } cleanup{socket_path, made_folder};

  test::TempFolder temp;
  JournalAnchor head;
  {
    JournalOptions options;  // the system journal, as the program has it
    Journal journal(temp.path(), nullptr, options);
    for (int i = 0; i < 3; ++i)
      journal.Append(journal.Make(JournalKind::kProgram, "record " + std::to_string(i)));
    ASSERT_TRUE(journal.Commit());
    EXPECT_EQ(journal.anchor_problem(), "");
    std::vector<JournalRow> rows;
    ASSERT_TRUE(ReadJournalFile(journal.file(), 1, 10, rows).ok());
    head = {3, rows.back().chain};
  }
  // Anchored after the first write; the end anchors nothing new. (Other tests' journals running
  // beside this one may send too: only this file's count.)
  std::vector<std::string> datagrams;
  char buffer[4096];
  pollfd ready{server.get(), POLLIN, 0};
  // Bounded: tests beside this one may keep the socket busy.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < end &&
         ::poll(&ready, 1, datagrams.empty() ? 2000 : 100) == 1) {
    const ssize_t n = ::recv(server.get(), buffer, sizeof buffer, 0);
    ASSERT_GT(n, 0);
    const std::string datagram(buffer, static_cast<std::size_t>(n));
    if (datagram.find(temp.path().filename().string()) != std::string::npos)
      datagrams.push_back(datagram);
  }
  ASSERT_EQ(datagrams.size(), 1U);
  const std::string hex = FormatJournalAnchor(head).substr(2);
  for (const std::string& field :
       {"MESSAGE=orvandel journal head 3 " + hex,
        "MESSAGE_ID=" + std::string(kJournalAnchorMessageId),
        "ORVANDEL_JOURNAL_FILE=" + fs::weakly_canonical(temp.path() / Journal::kFileName).string(),
        std::string("ORVANDEL_JOURNAL_SEQUENCE=3"), "ORVANDEL_JOURNAL_CHAIN=" + hex}) {
    EXPECT_NE(("\n" + datagrams[0]).find("\n" + field + "\n"), std::string::npos) << datagrams[0];
  }

  // Nobody reads: the queue fills, and every send still returns at once.
  const std::shared_ptr<JournalAnchorSink> sink = SystemJournalAnchors();
  const auto start = std::chrono::steady_clock::now();
  std::string problem;
  int refused = 0;
  for (int i = 0; i < 5000 && refused == 0; ++i)
    refused += sink->Send("/x", head, problem) ? 0 : 1;
  EXPECT_EQ(refused, 1);
  EXPECT_NE(problem.find("Resource temporarily unavailable"), std::string::npos) << problem;
  server.Close();
  fs::remove(socket_path);
  EXPECT_FALSE(sink->Send("/x", head, problem));
  EXPECT_NE(problem.find("No such file or directory"), std::string::npos) << problem;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

}  // namespace
}  // namespace orv
