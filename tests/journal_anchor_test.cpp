// The journal's head anchored outside the folder, in the system journal.
#include <gmock/gmock.h>
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
#include "tests/journal_test_fixture.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::JournalTest;
using test::kBase;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// The head goes out after the first write, then at most once a minute, whenever asked if it
// moved, and at the end; a sink that fails is tried again a minute later, not at every commit.
TEST_F(JournalTest, TheHeadIsAnchoredAtMostOnceAMinuteAndWhenAsked) {
  enum class Do { kCommit, kAnchorNow, kEnd };
  const struct {
    std::int64_t at_s;  // seconds after the first commit
    Do action;
    bool down;              // the sink fails
    std::int64_t anchored;  // the newest anchor's sequence number afterwards
  } kSteps[] = {
      {0, Do::kCommit, false, 1},     {30, Do::kCommit, false, 1},  {30, Do::kAnchorNow, false, 2},
      {31, Do::kAnchorNow, false, 2}, {89, Do::kCommit, false, 2},  {90, Do::kCommit, false, 4},
      {150, Do::kCommit, true, 4},    {160, Do::kCommit, false, 4}, {210, Do::kCommit, false, 7},
      {211, Do::kCommit, false, 7},   {211, Do::kEnd, false, 8},
  };
  auto journal = MakeJournal(anchors_);
  int i = 0;
  for (const auto& step : kSteps) {
    SCOPED_TRACE(step.at_s);
    now_ms_ = kBase + step.at_s * 1000;
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
  }
  EXPECT_EQ(anchors_->sent.size(), 5U);  // 1, 2, 4, 7, 8: never the same head twice
  EXPECT_EQ(anchors_->names.back(), fs::weakly_canonical(File()).string());
}

// The chain itself verifies in every case; only the anchor shows what happened. (A file replaced
// by a forged one shows as the one or the other, as it is shorter or longer.)
TEST_F(JournalTest, TheAnchorShowsADeletedEndAndARecomputedChain) {
  const struct {
    const char* what;
    const char* sql;
    std::int64_t recompute_from;
    const char* problem;
  } kCases[] = {
      {"intact", "", 0, ""},
      {"end deleted", "DELETE FROM journal WHERE seq > 7", 0,
       "the journal ends at 7 but was anchored at 8"},
      {"the chain recomputed", "", 4, "the chain value at 8 differs from the anchor"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    Fresh(8, anchors_).reset();
    const JournalAnchor anchor = anchors_->sent.back();
    if (*c.sql != '\0') Sql(c.sql);
    if (c.recompute_from > 0) test::Recompute(File(), c.recompute_from, "TEST");
    const JournalCheck check = VerifyJournalFile(File(), anchor.sequence);
    ASSERT_TRUE(check.ok) << check.error << " at " << check.first_bad;
    const std::string problem = JournalAnchorProblem(check, anchor);
    EXPECT_TRUE(problem.starts_with(c.problem) && problem.empty() == !*c.problem) << problem;
  }
}

TEST(JournalAnchorText, SequenceColonAndSixtyFourHexDigitsAndCopiesNameColonHex) {
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
  EXPECT_THAT(JournalAnchorDatagram("/a\nX=1", anchor),
              HasSubstr(std::string("\nORVANDEL_JOURNAL_FILE\n\x06\0\0\0\0\0\0\0/a\nX=1\n", 33)));
  // The copies moved aside: name colon hex, apart by blanks.
  const std::vector<JournalAside> asides = {
      {"Journal.sqlite.damaged-20261207T000000Z", std::string(32, '\x01')},
      {"b", std::string(31, '\0') + '\xff'}};
  std::vector<JournalAside> read;
  ASSERT_TRUE(ParseJournalAsides(FormatJournalAsides(asides), read));
  EXPECT_EQ(read, asides);
  EXPECT_TRUE(ParseJournalAsides("", read));
  EXPECT_THAT(read, IsEmpty());
  for (const std::string& bad :
       {":" + hex64, "a" + hex64, "a:" + hex64.substr(1), "a:" + hex64 + " b"})
    EXPECT_FALSE(ParseJournalAsides(bad, read)) << bad;
}

// What a user outside systemd-journal meets: the system's file there and closed to it makes the
// anchors unreadable; no file at all (no system journal here) does not, nor a file it may read.
// Run as nobody, since root opens any file.
TEST(JournalAnchorSystemFiles, AFileThisUserMayNotOpenIsSaid) {
  if (::geteuid() != 0) GTEST_SKIP() << "dropping to another user needs root";
  char base[] = "/tmp/orv-anchor-XXXXXX";
  ASSERT_NE(::mkdtemp(base), nullptr);
  const fs::path root = base;
  const std::shared_ptr<void> cleanup(nullptr, [&](void*) { fs::remove_all(root); });
  const fs::path empty = root / "empty", open = root / "open", closed = root / "closed",
                 linked = root / "linked";
  for (const fs::path& folder : {empty, open, closed, linked})
    fs::create_directory(folder);
  for (const fs::path& folder : {open, closed})
    test::WriteBytes(folder / "system.journal", "LPKSHHRH");
  fs::permissions(closed / "system.journal", fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink(open / "system.journal", linked / "system.journal");
  fs::permissions(root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  const struct {
    std::vector<fs::path> folders;
    std::string said;
  } kCases[] = {
      {{}, ""},
      {{empty, root / "nowhere"}, ""},
      {{open}, ""},
      {{closed}, (closed / "system.journal").string() + ": Permission denied"},
      {{empty, closed}, (closed / "system.journal").string() + ": Permission denied"},
      {{linked}, (linked / "system.journal").string() + ": Too many levels of symbolic links"},
  };
  // As nobody, and root again at the end whatever happens.
  const std::shared_ptr<void> as_root_again(nullptr, [](void*) {
    EXPECT_EQ(::seteuid(0), 0);
    EXPECT_EQ(::setegid(0), 0);
  });
  ASSERT_EQ(::setegid(65534), 0);
  ASSERT_EQ(::seteuid(65534), 0);
  for (const auto& c : kCases)
    EXPECT_EQ(SystemJournalUnreadable(c.folders), c.said) << ::testing::PrintToString(c.folders);
}

// Where no journald runs, the test plays it: it binds the system journal's socket and reads the
// datagrams that arrive. The anchor comes as journald's native protocol, KEY=value lines; with
// nobody reading, the sender fails at once instead of waiting; without the socket, at once too.
TEST_F(JournalTest, TheSystemJournalGetsOneDatagramPerAnchorAndNeverAWait) {
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
  const std::shared_ptr<void> cleanup(nullptr, [&](void*) {
    fs::remove(socket_path, ec);
    if (made_folder) fs::remove(socket_path.parent_path(), ec);
  });

  JournalAnchor head;
  {
    Journal journal(data_, nullptr);  // the system journal, as the program has it
    for (int i = 0; i < 3; ++i)
      journal.Append(journal.Make(JournalKind::kProgram, "record " + std::to_string(i)));
    ASSERT_TRUE(journal.Commit());
    head = {3, Rows().back().chain};
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
    if (datagram.find(folder_.path().filename().string()) != std::string::npos)
      datagrams.push_back(datagram);
  }
  ASSERT_EQ(datagrams.size(), 1U);
  const std::string hex = FormatJournalAnchor(head).substr(2);
  for (const std::string& field :
       {"MESSAGE=orvandel journal head 3 " + hex,
        "MESSAGE_ID=" + std::string(kJournalAnchorMessageId),
        "ORVANDEL_JOURNAL_FILE=" + fs::weakly_canonical(File()).string(),
        std::string("ORVANDEL_JOURNAL_SEQUENCE=3"), "ORVANDEL_JOURNAL_CHAIN=" + hex})
    EXPECT_NE(("\n" + datagrams[0]).find("\n" + field + "\n"), std::string::npos) << datagrams[0];

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
