// What the web pages are sent of the journal: newest first and bounded, and for a viewer without
// a log-in nobody in it (no access records, no operator, no login); then on a real server, an
// anonymous live page beside an operator's.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QNetworkRequest>
#include <QTcpSocket>
#include <QWebSocket>
#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "access/access_gate.h"
#include "access/pin_hash.h"
#include "access/refusal_summary.h"
#include "journal/journal.h"
#include "tests/support/wait_for.h"
#include "tests/temp_folder.h"
#include "tests/web_server_fixture.h"
#include "web/qt/qt_web_server.h"
#include "web/web_feed.h"

namespace orv {
namespace {

using testing::AllOf;
using testing::HasSubstr;
using testing::Not;

JournalRow Row(std::int64_t sequence, JournalKind kind, std::string text, std::string detail = {},
               std::string login = {}) {
  return {sequence, {{}, kind, std::move(text), "", std::move(login), "", std::move(detail)}, ""};
}

// The changes and heartbeats are the attached windows' stream (its test is the hub's; that the
// pages get them, the browser test's).
TEST(WebFeed, RecordsNewestFirstAndBounded) {
  WebFeed feed;
  std::vector<JournalRow> rows;
  for (int seq = 1; seq <= 150; ++seq) {
    rows.push_back(Row(seq, seq == 150 ? JournalKind::kProgram : JournalKind::kEvent,
                       "event " + std::to_string(seq)));
  }
  const std::string newest = R"("events":[{"detail":"","kind":"event","seq":149,)";
  EXPECT_THAT(feed.Records(rows).operators, testing::StartsWith(R"({"type":"events",)" + newest));
  EXPECT_EQ(feed.Records(rows).operators, "");  // already had
  // The 100th newest shown, no older one.
  EXPECT_THAT(feed.Snapshot(false), testing::AllOf(HasSubstr(newest), HasSubstr(R"("seq":50,)"),
                                                   Not(HasSubstr(R"("seq":49,)"))));
}

// The records the access gate and its refusals' summary really write, of every kind and origin.
std::vector<std::string> AccessTexts() {
  std::vector<std::string> texts;
  for (const Origin& origin :
       {Origin{OriginKind::kWindow, ""}, Origin{OriginKind::kWeb, "192.0.2.9"},
        Origin{OriginKind::kLocalSocket, "opb"}}) {
    for (const AccessEventKind kind :
         {AccessEventKind::kLogIn, AccessEventKind::kLogOut, AccessEventKind::kTimeout,
          AccessEventKind::kRefusedPin, AccessEventKind::kRefusedAction}) {
      texts.push_back(AccessEventText(
          {kind, "mallory", AccessLevel::kLevel2, origin, Action::kEmgReset,
           kind == AccessEventKind::kRefusedPin ? "wrong PIN" : "refused: level 3 needed"}));
    }
  }
  // The summaries: one origin refused again, and more refusals than are recorded one by one.
  RefusalSummary summary;
  std::vector<RefusalRecord> records;
  for (int i = 0; i < 104; ++i) {
    const Origin origin{OriginKind::kWeb, "192.0.2." + std::to_string(std::max(i, 1))};
    std::ranges::move(summary.Take({AccessEventKind::kRefusedPin, "mallory", AccessLevel::kLevel1,
                                    origin, std::nullopt, "wrong PIN"},
                                   {}),
                      std::back_inserter(records));
  }
  std::ranges::move(summary.Flush({}), std::back_inserter(records));
  bool counted = false, overflow = false;
  for (const RefusalRecord& record : records) {
    counted |= record.text.find(" more refused ") != std::string::npos;
    overflow |= record.text.find(" more refusals ") != std::string::npos;
    texts.push_back(record.text);
  }
  EXPECT_TRUE(counted && overflow) << "the summary's records were not all made";
  return texts;
}

TEST(WebFeed, AViewerWithoutALogInSeesNoAccessRecordAndNobodyInTheOthers) {
  for (const std::string& text : AccessTexts()) {
    WebFeed feed;
    const WebFeed::Messages messages =
        feed.Records({Row(1, JournalKind::kOperator, text, "", "web 192.0.2.9")});
    EXPECT_EQ(messages.anonymous, "") << text;
    EXPECT_THAT(messages.operators, HasSubstr("192.0.2.9")) << text;
  }
  // Shown: what the record says, without who did it or whose login it carries; the record's JSON
  // as a viewer without a log-in gets it, but for its time.
  const std::pair<JournalRow, std::string> shown[] = {
      {Row(1, JournalKind::kOperator, "Key EMG ACK", "operator alice, level 2", "web 192.0.2.7"),
       R"({"kind":"operator","seq":1,"text":"Key EMG ACK",)"},
      {Row(2, JournalKind::kOperator, "Renamed T3: \"Hall\" to \"Foyer\"", "level 1", "opb"),
       R"({"kind":"operator","seq":2,"text":"Renamed T3: \"Hall\" to \"Foyer\"",)"},
      {Row(3, JournalKind::kEvent, "Mains fault", "Mains, Call/EMG", "orvandel"),
       R"({"detail":"Mains, Call/EMG","kind":"event","seq":3,"text":"Mains fault",)"},
      {Row(4, JournalKind::kLink, "No reply from the controller", "", "alice"),
       R"({"kind":"link","seq":4,"text":"No reply from the controller",)"},
  };
  for (const auto& [row, shown_as] : shown) {
    const std::string anonymous = shown_as + R"("time":"1970-01-01T00:00:00+00:00"})";
    WebFeed feed;
    const WebFeed::Messages messages = feed.Records({row});
    EXPECT_EQ(messages.anonymous, R"({"type":"events","events":[)" + anonymous + "]}\n")
        << row.entry.text;
    EXPECT_THAT(feed.Snapshot(true), HasSubstr(anonymous)) << row.entry.text;
    EXPECT_THAT(messages.operators, HasSubstr(R"("user":")" + row.entry.login)) << row.entry.text;
  }
  // A condition's acknowledgement and shelf: what and why, never who.
  PanelState state = EmptyPanelState();
  state.conditions.resize(1);
  Condition& c = state.conditions[0];
  std::tie(c.acknowledged, c.acknowledged_by, c.comment) = std::tuple(true, "alice", "seen");
  std::tie(c.shelved_until_ms, c.shelved_by, c.shelved_reason) = std::tuple(9, "bob", "works");
  WebFeed feed;
  feed.Tick(EmptyPanelState());
  const WebFeed::Messages change = feed.Tick(state);
  EXPECT_THAT(
      change.anonymous + feed.Snapshot(true),
      AllOf(HasSubstr("seen"), HasSubstr("works"), Not(HasSubstr("alice")), Not(HasSubstr("bob"))));
  EXPECT_THAT(change.operators + feed.Snapshot(false), AllOf(HasSubstr("alice"), HasSubstr("bob")));
  // Nor who is logged in, where no condition names anyone either.
  PanelState logged_in = EmptyPanelState();
  logged_in.logged_in = {{"carol", 3, "web 192.0.2.7"}};
  const WebFeed::Messages logging_in = feed.Tick(logged_in);
  EXPECT_THAT(logging_in.anonymous + feed.Snapshot(true), Not(HasSubstr("carol")));
  EXPECT_THAT(logging_in.operators + feed.Snapshot(false), HasSubstr("carol"));
}

using namespace std::chrono_literals;
using test::WaitFor;

// Each asked for the state and followed live while an access record and an action are committed.
TEST(WebServerFeed, AnAnonymousPageGetsNoAccessRecordsAnOperatorsPageDoes) {
  test::TempFolder folder;
  JournalOptions options;
  options.anchor = nullptr;
  Journal journal(folder.path(), nullptr, options);
  auto record = [&journal](JournalKind kind, const std::string& text, const std::string& login) {
    JournalEntry entry = journal.Make(kind, text);
    entry.login = login;
    journal.Append(entry);
    ASSERT_TRUE(journal.Commit());
  };
  record(JournalKind::kOperator, "Log in refused (wrong PIN): mallory, level 1, web 192.0.2.9",
         "web 192.0.2.9");
  AccessGate gate(UsersFile{AccessMode::kOn,
                            {Operator{"alice", AccessLevel::kLevel2, *HashPin("1234"), false}}});
  const auto server = test::Listening({}, &gate, journal.file());
  const QString host = QStringLiteral("127.0.0.1:%1").arg(server->port());
  // Raw HTTP from this address: the answer's head and body.
  auto ask = [&](const QByteArray& request) {
    const auto socket = test::Connect(*server);
    socket->write(request);
    QByteArray answer;
    const auto whole = [&] { return (answer += socket->readAll()).contains("\r\n\r\n{"); };
    (void)WaitFor([&] { return whole() && answer.endsWith("}"); }, 5000ms);
    return answer.toStdString();
  };
  const std::string in =
      ask(test::LogInRequest(host.toLatin1(), R"({"name":"alice","pin":"1234"})"));
  const std::size_t at = in.find("orvandel_session=");
  ASSERT_NE(at, std::string::npos) << in;
  const std::string cookie = in.substr(at, in.find(';', at) - at);
  const QByteArray get_state = "GET /api/state HTTP/1.1\r\nHost: " + host.toLatin1() + "\r\n";
  const QByteArray with_cookie = "Cookie: " + QByteArray::fromStdString(cookie) + "\r\n";
  EXPECT_THAT(ask(get_state + "\r\n"), Not(HasSubstr("mallory")));
  EXPECT_THAT(ask(get_state + with_cookie + "\r\n"), HasSubstr("mallory"));

  struct Page {
    QWebSocket socket;
    std::string heard;
  };
  Page anonymous, operator_page;
  for (Page* page : {&anonymous, &operator_page}) {
    QObject::connect(&page->socket, &QWebSocket::textMessageReceived,
                     [page](const QString& message) { page->heard += message.toStdString(); });
  }
  const QUrl url(QStringLiteral("ws://%1/ws").arg(host));
  anonymous.socket.open(url);
  QNetworkRequest signed_in(url);
  signed_in.setRawHeader("Cookie", QByteArray::fromStdString(cookie));
  operator_page.socket.open(signed_in);
  ASSERT_TRUE(WaitFor(
      [&] {
        return anonymous.socket.state() == QAbstractSocket::ConnectedState &&
               operator_page.socket.state() == QAbstractSocket::ConnectedState;
      },
      5000ms));

  const auto hears = [](const Page& page, const char* text) {
    return WaitFor([&] { return page.heard.find(text) != std::string::npos; }, 5000ms);
  };
  record(JournalKind::kOperator, "Log in: alice, level 2, web 127.0.0.1", "web 127.0.0.1");
  record(JournalKind::kOperator, "Key EMG ACK", "web 127.0.0.1");
  server->Committed(3);
  ASSERT_TRUE(hears(anonymous, "EMG ACK") && hears(operator_page, "EMG ACK"));
  // Which stream each page gets; what a record shows in each is the feed's test's.
  EXPECT_THAT(anonymous.heard, Not(HasSubstr("Log in")));
  EXPECT_THAT(operator_page.heard, HasSubstr("Log in: alice"));

  // Logged out: the operator's page, still open, is a viewer's from then on.
  ask("POST /api/logout HTTP/1.1\r\nHost: " + host.toLatin1() + "\r\nOrigin: http://" +
      host.toLatin1() + "\r\n" + with_cookie + "Content-Length: 0\r\n\r\n");
  operator_page.heard.clear();
  record(JournalKind::kOperator, "Log out: alice, web 127.0.0.1", "web 127.0.0.1");
  record(JournalKind::kOperator, "Key Fault ACK", "web 127.0.0.1");
  server->Committed(5);
  ASSERT_TRUE(hears(operator_page, "Fault ACK"));
  EXPECT_THAT(operator_page.heard, Not(HasSubstr("alice")));
}

}  // namespace
}  // namespace orv
