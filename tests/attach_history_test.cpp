// The journal's messages on the attach socket, without sockets: a window's request for a page
// and the page, both ways and at their bounds; the hub answering pages one at a time, as the
// user, and telling every window of new records.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "attach/attach_hub.h"
#include "attach/attach_protocol.h"
#include "tests/fake_window.h"

namespace orv {
namespace {

JournalRow Row(std::int64_t sequence, std::string text = "Key EMG ACK") {
  return {sequence,
          {{1796601600000 + sequence, -18000},
           JournalKind::kOperator,
           std::move(text),
           "02 01 16",
           "alice",
           "panel-pc",
           "Call/EMG"},
          {}};
}

std::vector<std::int64_t> Sequences(const JournalPage& page) {
  std::vector<std::int64_t> sequences;
  for (const JournalRow& row : page.rows)
    sequences.push_back(row.sequence);
  return sequences;
}

ServerMessage ReadPage(const std::string& line) {
  PanelState state = EmptyPanelState();
  ServerMessage message;
  std::string error;
  EXPECT_TRUE(ParseServerMessage(line, state, message, error)) << error << ": " << line;
  return message;
}

// Requests go both ways with every part of their filter; out of their bounds they are refused,
// and an action is left alone.
TEST(AttachHistoryCodec, ARequestGoesBothWaysAndOutOfItsBoundsIsRefused) {
  const JournalFilter all{-5, 1796601600999, JournalKind::kLink, "Hall \"B\", 100%_\n\xC3\xA9"};
  const HistoryRequest requests[] = {
      {1, {}},
      {7, {all, false, 1234, 0, 0, 50}},
      {8, {{}, true, 0, 99, 120, 200}},
      {9,
       {JournalFilter{.from_utc_ms = {}, .to_utc_ms = {}, .kind = {}, .text = "x"}, true, 0, 0, 0,
        1}},
  };
  for (const HistoryRequest& sent : requests) {
    const std::string line = HistoryRequestMessage(sent);
    ASSERT_EQ(line.back(), '\n');
    HistoryRequest read;
    std::string error;
    ASSERT_TRUE(ParseHistoryRequest(line.substr(0, line.size() - 1), read, error)) << line;
    EXPECT_EQ(read, sent) << line;
  }
  const std::string good =
      R"("type":"history","id":3,"newer":false,"before":0,"after":0,"until":0,"text":"")";
  // The line and whether it is a history request at all.
  const std::pair<std::string, bool> cases[] = {
      {"{" + good + R"(,"limit":0})", true},
      {"{" + good + R"(,"limit":201})", true},
      {"{" + good + R"(,"limit":2,"kind":"alarm"})", true},
      {"{" + good + R"(,"limit":2,"from":"yesterday"})", true},
      {R"({"type":"history","id":3,"newer":false,"before":-1,"after":0,"until":0,"text":"","limit":2})",
       true},
      {R"({"type":"history","id":3,"before":0,"after":0,"until":0,"text":"","limit":2})", true},
      {R"({"type":"history","id":3,"newer":true,"before":0,"after":0,"until":0,"limit":2})", true},
      {R"({"type":"action","id":3,"action":"key","key":2})", false},
      {"not json", false},
  };
  for (const auto& [line, history] : cases) {
    HistoryRequest request;
    std::string error;
    EXPECT_FALSE(ParseHistoryRequest(line, request, error)) << line;
    EXPECT_EQ(!error.empty(), history) << line;
  }
}

TEST(AttachHistoryCodec, APageGoesWholeOrIsCutNextToWhereTheWindowLooksFrom) {
  const JournalPage page{
      {Row(12, "Renamed \"Lobby\" to \"Hall, east\"\n\xC3\xA9"), Row(11), Row(10)}, true, 12, 7};
  const ServerMessage whole = ReadPage(HistoryPageMessage(4, false, page, 1 << 20));
  ASSERT_EQ(whole.page.rows.size(), 3U);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(whole.page.rows[i].sequence, page.rows[i].sequence);
    EXPECT_EQ(whole.page.rows[i].entry, page.rows[i].entry);
  }
  EXPECT_EQ(std::tuple(whole.page.more, whole.page.newest_seen, whole.page.oldest_seen),
            std::tuple(true, 12L, 7L));

  // Room for two rows of the three: an older page keeps its newest and goes on below them, a
  // newer one keeps its oldest and goes on above them; both say there is more.
  const std::size_t two_rows =
      HistoryPageMessage(4, false, {{Row(11), Row(10)}, false, 0}, 1 << 20).size();
  const JournalPage short_page{{Row(12), Row(11), Row(10)}, false, 20, 5};
  const ServerMessage older = ReadPage(HistoryPageMessage(4, false, short_page, two_rows - 40));
  EXPECT_EQ(Sequences(older.page), (std::vector<std::int64_t>{12, 11}));
  EXPECT_EQ(std::tuple(older.page.more, older.page.oldest_seen), std::tuple(true, 11L));
  const ServerMessage newer = ReadPage(HistoryPageMessage(4, true, short_page, two_rows - 40));
  EXPECT_EQ(Sequences(newer.page), (std::vector<std::int64_t>{11, 10}));
  EXPECT_EQ(std::tuple(newer.page.more, newer.page.newest_seen), std::tuple(true, 11L));
  // Even one row over the bound goes, its fields cut on a character's boundary.
  std::string long_text = "x";
  for (std::size_t i = 0; i < kMaxHistoryFieldBytes; ++i)
    long_text += "\xC3\xA9";
  const ServerMessage cut =
      ReadPage(HistoryPageMessage(4, false, {{Row(3, long_text)}, false, 3}, 10));
  ASSERT_EQ(cut.page.rows.size(), 1U);
  EXPECT_EQ(cut.page.rows[0].entry.text, long_text.substr(0, kMaxHistoryFieldBytes - 1));
}

TEST(AttachHistoryCodec, AWindowTakesNoPageOutOfItsBounds) {
  const std::string good = HistoryPageMessage(4, false, {{Row(12)}, false, 12}, 1 << 20);
  const auto with = [&good](const std::string& from, const std::string& to) {
    std::string line = good;
    const std::size_t at = line.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return line.replace(at, from.size(), to);
  };
  const std::string too_many = [&] {
    std::string page = good;
    const std::size_t open = page.find('[') + 1;
    const std::string row = page.substr(open, page.rfind(']') - open);
    for (std::size_t i = 0; i < kMaxHistoryRows; ++i)
      page.insert(open, row + ",");
    return page;
  }();
  const std::string lines[] = {
      with("\"seq\":12", "\"seq\":0"),
      with("\"seq\":12", "\"seq\":12.5"),
      with("\"kind\":\"operator\"", "\"kind\":\"alarm\""),
      with("\"offset\":-18000", "\"offset\":90000"),
      with("\"user\":\"alice\"", "\"user\":7"),
      with("\"text\":\"Key EMG ACK\"",
           "\"text\":\"" + std::string(kMaxHistoryFieldBytes + 1, 'x') + "\""),
      with("\"more\":false", "\"more\":0"),
      with("\"newest\":12", "\"newest\":-1"),
      with("\"oldest\":0", "\"oldest\":\"0\""),
      too_many,
  };
  for (const std::string& line : lines) {
    PanelState state = EmptyPanelState();
    ServerMessage message;
    std::string error;
    EXPECT_FALSE(ParseServerMessage(line, state, message, error)) << line.substr(0, 300);
  }
  EXPECT_EQ(ReadPage(good).page.rows.size(), 1U);
}

using test::FakeWindow;

std::string Request(std::int64_t id, std::size_t limit) {
  return HistoryRequestMessage(
      {id,
       {JournalFilter{.from_utc_ms = {}, .to_utc_ms = {}, .kind = {}, .text = "x"}, false, 0, 0, 0,
        limit}});
}

TEST(AttachHubHistory, AnswersOnePageAtATimeAsTheUserAndTellsEveryWindowOfNewRecords) {
  std::vector<std::string> asked;
  AttachLimits limits;
  limits.max_history_rows = 3;
  limits.max_queue_bytes = 1000;
  AttachHub hub(
      limits, [](const ActionRequest&, const std::string&) { return std::string(kResultDone); },
      [&](const JournalPageQuery& query, const std::string& user, std::string& error) {
        asked.push_back(user + " " + query.filter.text + " " + std::to_string(query.limit));
        if (user == "mallory") error = "refused: level 1 needed";
        return JournalPage{{Row(9), Row(8), Row(7)}, true, 9};
      });
  FakeWindow alice, mallory;
  const int a = hub.Attach("alice", alice.Write(), alice.Queued());
  const int m = hub.Attach("mallory", mallory.Write(), mallory.Queued());

  // Asked for more rows than the service gives: its bound.
  ASSERT_TRUE(hub.Received(a, Request(1, 200)));
  EXPECT_EQ(asked, std::vector<std::string>{"alice x 3"});
  const auto last = [](const FakeWindow& window) { return ReadPage(window.messages.back()); };
  EXPECT_EQ(last(alice).id, 1);
  EXPECT_EQ(Sequences(last(alice).page), (std::vector<std::int64_t>{9, 8, 7}));
  // The gate's refusal is the answer.
  ASSERT_TRUE(hub.Received(m, Request(2, 3)));
  EXPECT_EQ(last(mallory).text, "refused: level 1 needed");

  // Two in one read: the second waits for nothing and is refused.
  asked.clear();
  ASSERT_TRUE(hub.Received(a, Request(3, 3) + Request(4, 3)));
  EXPECT_EQ(asked.size(), 1U);
  EXPECT_EQ(std::tuple(last(alice).id, last(alice).text), std::tuple(4L, kResultHistoryBusy));
  // Nor while the page before is still unread.
  alice.unsent = limits.max_queue_bytes / 2 + 1;
  ASSERT_TRUE(hub.Received(a, Request(5, 3)));
  EXPECT_EQ(asked.size(), 1U);
  EXPECT_EQ(last(alice).text, kResultHistoryBusy);
  alice.unsent = 0;
  // A request out of its bounds is answered as one, not taken for an action.
  ASSERT_TRUE(hub.Received(a, Request(6, 0)));
  EXPECT_EQ(std::tuple(last(alice).id, last(alice).text.rfind("refused: ", 0)),
            std::tuple(6L, 0UL));

  // New records: every window hears it once, at the next tick.
  const std::size_t before = mallory.messages.size();
  hub.JournalCommitted(42);
  hub.Tick(EmptyPanelState());
  hub.Tick(EmptyPanelState());
  ASSERT_EQ(mallory.messages.size(), before + 1);
  EXPECT_EQ(std::tuple(last(mallory).type, last(mallory).seq, last(alice).seq),
            std::tuple(ServerMessageType::kJournal, 42L, 42L));
}

}  // namespace
}  // namespace orv
