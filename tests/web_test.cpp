// The web panel without sockets (settings, request heads, the API with its sessions, Origin check
// and gate), then its server on a loopback port (its bounds: web_bounds_test.cpp).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QSslSocket>
#include <QTcpSocket>
#include <QWebSocket>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "access/pin_check_pool.h"
#include "access/pin_hash.h"
#include "tests/support/wait_for.h"
#include "tests/temp_folder.h"
#include "tests/web_server_fixture.h"
#include "web/qt/qt_web_server.h"
#include "web/web_app.h"
#include "web/web_bounds.h"
#include "web/web_http.h"
#include "web/web_settings.h"

namespace orv {
namespace {

using testing::HasSubstr;

// The section [WebPanel] as a program settings file of the user running the test has it.
WebPanelSettings Load(const std::string& section, const NoticeFn& notice) {
  test::TempFolder folder;
  const auto program = folder.path() / "MainForm.INI";
  test::WriteBytes(program, "[WebPanel]\n" + section + "\n");
  chmod(program.c_str(), 0644);
  return LoadWebPanelSettings(SiteSettings(program, notice, folder.path() / "none.ini"), notice);
}

TEST(WebSettings, ListenCertificateAndClients) {
  // The section, then whether it is taken, refused, on loopback and how many pages it lets in
  // and how many connections from one address.
  const std::tuple<const char*, bool, bool, bool, std::size_t, std::size_t> cases[] = {
      {"", false, false, false, 32, 8},
      {"Listen=127.3.0.1:80\nMaxClients=5", true, false, true, 5, 8},
      {"Listen=[::1]:8080\nMaxClients=0", true, false, true, 32, 8},
      {"Listen=127.0.0.1:8080\nMaxClients=1025", true, false, true, 32, 8},
      {"Listen=0.0.0.0:8080", false, true, false, 32, 8},
      {"Listen=192.0.2.7:8443\nCertFile=/c.pem", false, true, false, 32, 8},
      {"Listen=192.0.2.7:8443\nCertFile=/c.pem\nKeyFile=/k.pem", true, false, false, 32, 8},
      {"Listen=[::]:8443\nCertFile=/c.pem\nKeyFile=/k.pem", true, false, false, 32, 8},
      {"Listen=localhost:8080", false, true, false, 32, 8},  // an address, not a name
      {"Listen=127.0.0.1", false, true, false, 32, 8},
      {"Listen=127.0.0.1:8080\nConnectionsPerAddress=64", true, false, true, 32, 64},
      {"Listen=127.0.0.1:8080\nConnectionsPerAddress=0", true, false, true, 32, 8},
      {"Listen=127.0.0.1:8080\nConnectionsPerAddress=2049", true, false, true, 32, 8},
  };
  for (const auto& [section, enabled, refused, loopback, clients, per_address] : cases) {
    const WebPanelSettings settings = Load(section, [](const Notice&) {});
    EXPECT_EQ(settings.enabled, enabled) << section;
    EXPECT_EQ(!settings.refusal.empty(), refused) << section << ": " << settings.refusal;
    if (enabled) {
      EXPECT_EQ(settings.loopback, loopback) << section;
      EXPECT_EQ(settings.max_clients, clients) << section;
      EXPECT_EQ(settings.max_per_address, per_address) << section;
    }
  }
}

TEST(WebSettings, HostsListedAndWhatThePanelAnswersFor) {
  // Hosts= as written, then the names taken; the listen address and localhost on loopback only.
  using Names = std::vector<std::string>;
  const std::tuple<const char*, const char*, Names, Names> cases[] = {
      {"127.0.0.1:8080", "", {}, {"127.0.0.1", "localhost"}},
      {"[::1]:8080", " Panel.Example, ,[::1]", {"panel.example", "::1"}, {"::1", "localhost"}},
      {"192.0.2.7:8443", "panel:443,a b,x/y,panel.example", {"panel.example"}, {"192.0.2.7"}},
  };
  for (const auto& [listen, hosts, listed, own] : cases) {
    int warnings = 0;
    const WebPanelSettings settings =
        Load(std::string("Listen=") + listen + "\nCertFile=/c.pem\nKeyFile=/k.pem\nHosts=" + hosts,
             [&warnings](const Notice& n) { warnings += n.level == NoticeLevel::kWarning; });
    ASSERT_TRUE(settings.enabled) << listen << ": " << settings.refusal;
    EXPECT_EQ(settings.hosts, listed) << hosts;
    const AllowedHosts allowed = WebHosts(settings, 8080);
    EXPECT_EQ(allowed.own, own) << listen;
    EXPECT_EQ(allowed.listed, listed) << hosts;
    EXPECT_EQ(warnings, listed.size() == 1 ? 3 : 0) << hosts;  // each name left out is said
  }
}

TEST(WebSettings, TheAddressAnOverviewLinks) {
  // The section, the machine's name, then the address and whether a warning was said.
  const std::string tls = "\nCertFile=/c.pem\nKeyFile=/k.pem";
  const std::tuple<std::string, std::string, bool> cases[] = {
      {"Listen=127.0.0.1:8081", "http://127.0.0.1:8081/", false},
      {"Listen=[::1]:8080", "http://[::1]:8080/", false},
      {"Listen=[::]:8443" + tls, "https://hall:8443/", false},
      {"Listen=0.0.0.0:8443\nHosts=Panel.Example" + tls, "https://panel.example:8443/", false},
      {"Listen=127.0.0.1:8080\nAddress=https://hall-b.example/panel/",
       "https://hall-b.example/panel/", false},
      {"Listen=127.0.0.1:8080\nAddress=javascript:alert(1)", "http://127.0.0.1:8080/", true},
      {"Listen=127.0.0.1:8080\nAddress=https://me:pw@hall-b.example/", "http://127.0.0.1:8080/",
       true},
      {"Listen=127.0.0.1:8080\nAddress=ftp://files.example/", "http://127.0.0.1:8080/", true},
      {"Listen=127.0.0.1:8080\nAddress=http:relative/path", "http://127.0.0.1:8080/", true},
  };
  for (const auto& [section, address, warned] : cases) {
    bool warning = false;
    const WebPanelSettings settings = Load(section, [&warning](const Notice& n) {
      warning = warning || n.level == NoticeLevel::kWarning;
    });
    ASSERT_TRUE(settings.enabled) << section << ": " << settings.refusal;
    EXPECT_EQ(WebAddress(settings, settings.port, "hall"), address) << section;
    EXPECT_EQ(warning, warned) << section;
  }
}

TEST(WebHttp, HeadsOriginsAndCookies) {
  const RequestHead ws = ParseRequestHead(
      "GET /ws HTTP/1.1\r\nHost: 127.0.0.1:8080\r\nUPGRADE: WebSocket\r\nOrigin: "
      "http://127.0.0.1:8080\r\n\r\n");
  EXPECT_TRUE(ws.complete);
  EXPECT_TRUE(IsPageUpgrade(ws));
  EXPECT_EQ(ws.Header("origin"), "http://127.0.0.1:8080");
  EXPECT_FALSE(ParseRequestHead("GET /ws HTTP/1.1\r\nUpgrade: websocket\r\n").complete);
  for (const char* head :
       {"GET /wss HTTP/1.1\r\nUpgrade: websocket\r\n\r\n",
        "POST /ws HTTP/1.1\r\nUpgrade: websocket\r\n\r\n", "GET /ws HTTP/1.1\r\nHost: x\r\n\r\n"})
    EXPECT_FALSE(IsPageUpgrade(ParseRequestHead(head))) << head;

  for (const auto& [origin, host, same] : std::vector<std::tuple<std::string, std::string, bool>>{
           {"http://127.0.0.1:8080", "127.0.0.1:8080", true},
           {"https://Panel.Example", "panel.example", true},
           {"http://127.0.0.1:8081", "127.0.0.1:8080", false},
           {"http://evil.example", "127.0.0.1:8080", false},
           {"null", "127.0.0.1:8080", false},
           {"", "127.0.0.1:8080", false},
           {"http://", "", false},
       }) {
    EXPECT_EQ(SameOrigin(origin, host), same) << origin << " " << host;
  }

  // Host as a browser sends it, against the listen address 127.0.0.1:8080 and a listed name.
  const AllowedHosts allowed{{"127.0.0.1", "localhost", "::1"}, 8080, {"panel.example"}};
  for (const auto& [host, refusal] : std::vector<std::tuple<std::string, int>>{
           {"127.0.0.1:8080", 0},
           {"127.0.0.1", 0},
           {"LocalHost:8080", 0},
           {"[::1]:8080", 0},
           {"panel.example", 0},
           {"Panel.Example:443", 0},  // a reverse proxy's own port
           {"evil.example", 421},
           {"evil.example:8080", 421},
           {"127.0.0.1:8081", 421},
           {"127.0.0.1.evil.example:8080", 421},
           {"panel.example.evil:8080", 421},
           {"", 400},
           {"127.0.0.1:8080/x", 400},
           {"user@127.0.0.1:8080", 400},
       }) {
    EXPECT_EQ(HostRefusal(host, allowed), refusal) << host;
  }

  EXPECT_EQ(CookieValue("a=1; orvandel_session=abc; b=2", "orvandel_session"), "abc");
  EXPECT_EQ(CookieValue("xorvandel_session=abc", "orvandel_session"), "");
}

class WebAppTest : public ::testing::Test {
 protected:
  explicit WebAppTest(UsersFile users = {AccessMode::kOn,
                                         {Operator{"alice", AccessLevel::kLevel2, *HashPin("1234"),
                                                   false}}})
      : gate_(std::move(users)),
        app_(
            &gate_,
            [this](const ActionRequest& action, const Origin& origin, AccessClock::time_point) {
              performed_.push_back(action);
              origins_.push_back(origin);
              return result_;
            },
            [](bool anonymous) {
              return std::string(anonymous ? "{\"seq\":1}" : "{\"seq\":1,\"names\":true}");
            },
            [] { return std::string("t0k3n"); }) {
    app_.AllowHosts(AllowedHosts{{"panel"}, 8080, {}});
  }

  WebResponse Post(const std::string& path, const std::string& body = {},
                   const std::string& cookie = {}, const std::string& peer = "192.0.2.7",
                   const std::string& origin = "http://panel:8080", const char* method = "POST",
                   const std::string& host = "panel:8080") {
    // Without a pool of checks the gate answers a log in at once.
    std::optional<WebResponse> answer;
    app_.Handle(WebRequest{method, path, peer, host, origin, cookie, body, false}, {},
                [&answer](WebResponse response) { answer = std::move(response); });
    EXPECT_TRUE(answer.has_value()) << path;
    return answer.value_or(WebResponse{0, {}, {}, {}});
  }
  std::string State(const std::string& cookie) {
    return Post("/api/state", "", cookie, "192.0.2.7", "", "GET").body;
  }

  AccessGate gate_;
  WebApp app_;
  std::vector<ActionRequest> performed_;
  std::vector<Origin> origins_;
  std::string result_ = kResultDone;  // what each action performed comes to
};

TEST_F(WebAppTest, AnonymousIsReadOnlyALogInActsThroughTheGateFromItsOwnPageAndPeer) {
  EXPECT_THAT(State(""), testing::StartsWith(R"({"seq":1,"access":{"acknowledge":false,)"
                                             R"("keyNames":{"1":"EMG",)"));
  EXPECT_THAT(State(""), testing::EndsWith(R"("keys":[],"levels":true,"shelve":false,)"
                                           R"("silence":false}})"));
  EXPECT_EQ(Post("/api/acknowledge", "not json").status, 403);
  EXPECT_EQ(Post("/api/key/4").status, 403);
  EXPECT_EQ(Post("/api/login", R"({"name":"alice","pin":"9999"})").status, 403);
  const WebResponse in = Post("/api/login", R"({"name":"alice","pin":"1234"})");
  ASSERT_EQ(in.status, 200);
  EXPECT_EQ(in.set_cookie, "orvandel_session=t0k3n; Path=/; HttpOnly; SameSite=Strict");
  const std::string cookie = "orvandel_session=t0k3n";
  EXPECT_THAT(State(cookie), HasSubstr(R"("keys":[1,2,3,4,5,6],"level":2,"levels":true,)"
                                       R"("operator":"alice","shelve":true,"silence":true)"));
  // Only the operator's own browser gets the records with names in them (a cookie carried to
  // another address is nobody's: its key below).
  EXPECT_THAT(State(cookie), testing::StartsWith(R"({"seq":1,"names":true,)"));

  // A name pointed at the panel (DNS rebinding): its page is its own origin, yet neither reads
  // nor acts; nor does a request without a host.
  for (const auto& [method, path, host, status] :
       std::vector<std::tuple<const char*, const char*, std::string, int>>{
           {"GET", "/api/state", "evil.example:8080", 421},
           {"POST", "/api/login", "evil.example:8080", 421},
           {"POST", "/api/key/4", "evil.example:8080", 421},
           {"GET", "/api/state", "", 400},
       }) {
    const std::string body = R"({"name":"alice","pin":"1234"})";
    const int got = Post(path, body, cookie, "192.0.2.7", "http://" + host, method, host).status;
    EXPECT_EQ(got, status) << path << " " << host;
  }
  EXPECT_TRUE(performed_.empty());

  // Another site's page, the cookie at another address, an unknown path: nothing happens.
  EXPECT_EQ(Post("/api/key/4", "", cookie, "192.0.2.7", "http://evil.example").status, 403);
  EXPECT_EQ(Post("/api/key/4", "", cookie, "192.0.2.8").status, 403);
  EXPECT_EQ(Post("/api/key/7", "", cookie).status, 404);

  EXPECT_EQ(Post("/api/key/4", "", cookie).status, 200);
  EXPECT_EQ(Post("/api/silence", "", cookie).status, 200);
  // A condition acted on: what and why from the body, a shelf's end from its minutes.
  for (const auto& [path, bad] : std::vector<std::pair<const char*, const char*>>{
           {"/api/acknowledge", R"({"condition":"fault-7"})"},
           {"/api/acknowledge", R"({"condition":7,"text":""})"},
           {"/api/shelve", R"({"condition":"fault-7","text":"works","minutes":0})"},
           {"/api/shelve", R"({"condition":"fault-7","text":"works","minutes":1441})"}})
    EXPECT_EQ(Post(path, bad, cookie).status, 400) << bad;
  EXPECT_EQ(Post("/api/acknowledge", R"({"condition":"fault-7","text":"seen"})", cookie).status,
            200);
  EXPECT_EQ(
      Post("/api/shelve", R"({"condition":"link","text":"works","minutes":60})", cookie).status,
      200);
  ASSERT_EQ(performed_.size(), 4U);
  EXPECT_EQ(std::tuple(performed_[0].kind, performed_[0].key, performed_[1].kind),
            std::tuple(ActionKind::kKey, 4, ActionKind::kSilence));
  EXPECT_EQ(performed_[2].condition + " " + performed_[2].text, "fault-7 seen");
  EXPECT_EQ(performed_[3].condition + " " + performed_[3].text, "link works");
  EXPECT_GT(performed_[3].until_ms, 0);
  EXPECT_EQ(origins_[0], (Origin{OriginKind::kWeb, "192.0.2.7"}));

  // Keys faster than a hand's are too many requests: the page says so and keeps its session.
  result_ = KeyPace::RefusalText();
  const WebResponse paced = Post("/api/key/1", "", cookie);
  EXPECT_EQ(std::pair(paced.status, paced.body),
            std::pair(429, std::string(R"({"result":"refused: more than 4 keys a second"})")));

  EXPECT_NE(Post("/api/logout", "", cookie).set_cookie.find("Max-Age=0"), std::string::npos);
  EXPECT_EQ(gate_.Level(origins_[0]), AccessLevel::kLevel1);
  EXPECT_EQ(Post("/api/key/4", "", cookie).status, 403);
}

struct WebAppWithoutLevels : WebAppTest {
  WebAppWithoutLevels() : WebAppTest(UsersFile{}) {}
};

TEST_F(WebAppWithoutLevels, ThePanelStaysReadOnly) {
  EXPECT_EQ(Post("/api/login", R"({"name":"alice","pin":"1234"})").status, 403);
  EXPECT_EQ(Post("/api/key/1", "", "orvandel_session=t0k3n").status, 403);
  EXPECT_TRUE(performed_.empty());
}

using namespace std::chrono_literals;
using test::kGetState;
using test::Server;
using test::StatusLine;
using test::WaitFor;
using test::WebServerTest;

TEST_F(WebServerTest, The33rdPageIsRefusedAndItsPlaceFreedWhenOneGoes) {
  std::vector<QWebSocket> pages(32);
  for (QWebSocket& page : pages)
    page.open(PageUrl());
  ASSERT_TRUE(WaitFor([&] { return server_->connections().pages() == 32; }, 5000ms));
  auto extra = Connect();
  EXPECT_EQ(StatusLine(*extra, Upgrade()), "HTTP/1.1 503 Service Unavailable");
  // The refused one leaves; one page goes; a new one takes its place.
  extra.reset();
  pages.front().close();
  ASSERT_TRUE(WaitFor([&] { return server_->connections().pages() == 31; }, 3000ms));
  EXPECT_EQ(StatusLine(*Connect(), Upgrade()), "HTTP/1.1 101 Switching Protocols");
}

// The door: a mebibyte's request, an overlong head, no host, another host's page; the server goes
// on. Only its own host is answered, on later requests of a kept-alive connection too.
TEST_F(WebServerTest, TheDoorRefusesTooMuchAndOtherHostsPagesAndKeptAliveRequestsToo) {
  const QByteArray port = QByteArray::number(server_->port());
  const QByteArray page = Upgrade().replace(
      "Host: 127.0.0.1", "Origin: http://evil.example:" + port + "\r\nHost: evil.example:" + port);
  const QByteArray big =
      "POST /api/login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 1048576\r\n\r\n";
  for (const auto& [bytes, status] : std::vector<std::tuple<QByteArray, std::string>>{
           {big + QByteArray(1 << 20, 'x'), "413 Payload Too Large"},
           {"GET / HTTP/1.1\r\nX: " + QByteArray(20000, 'y'),
            "431 Request Header Fields Too Large"},
           {"GET /api/state HTTP/1.1\r\nHost: localhost:" + port + "\r\n\r\n", "200 OK"},
           {"GET / HTTP/1.1\r\n\r\n", "400 Bad Request"},
           {page, "421 Misdirected Request"},
       }) {
    EXPECT_EQ(StatusLine(*Connect(), bytes), "HTTP/1.1 " + status) << bytes.toStdString();
  }
  EXPECT_EQ(server_->connections().pages(), 0U);

  // The first request passes at the door; those after it on the same connection are asked too
  // (by the page's own route; the API asks every request, the API's test).
  auto kept = Connect();
  ASSERT_EQ(StatusLine(*kept, kGetState), "HTTP/1.1 200 OK");
  QByteArray rest;
  ASSERT_TRUE(WaitFor([&] { return (rest += kept->readAll()).endsWith("}"); }, 2000ms));
  EXPECT_EQ(StatusLine(*kept, "GET / HTTP/1.1\r\nHost: evil.example\r\n\r\n"),
            "HTTP/1.1 421 Misdirected Request");
}

// The site's overview on the same server: its page and its state, nothing of a panel's, and only
// for its own names, on a kept-alive connection's later requests too.
TEST(WebServerOverview, ServesItsPageAndStateAloneForItsOwnHost) {
  QtWebServer server(
      WebPanelSettings{
          .enabled = true, .listen = "127.0.0.1:0", .host = "127.0.0.1", .loopback = true},
      QtWebServer::Hooks{.overview = [] { return std::string(R"({"tiles":[]})"); }}, nullptr);
  std::string error;
  ASSERT_TRUE(server.Listen(error)) << error;
  const QByteArray upgrade =
      "GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
  for (const auto& [bytes, status] : std::vector<std::tuple<QByteArray, std::string>>{
           {"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", "200 OK"},
           {kGetState, "404 Not Found"},
           {upgrade, "404 Not Found"},
       }) {
    EXPECT_EQ(StatusLine(*test::Connect(server), bytes), "HTTP/1.1 " + status)
        << bytes.toStdString();
  }
  auto kept = test::Connect(server);
  ASSERT_EQ(StatusLine(*kept, "GET /api/overview HTTP/1.1\r\nHost: localhost\r\n\r\n"),
            "HTTP/1.1 200 OK");
  QByteArray rest;
  ASSERT_TRUE(
      WaitFor([&] { return (rest += kept->readAll()).endsWith(R"({"tiles":[]})"); }, 2000ms));
  EXPECT_EQ(StatusLine(*kept, "GET /api/overview HTTP/1.1\r\nHost: evil.example\r\n\r\n"),
            "HTTP/1.1 421 Misdirected Request");
}

// Off the loop: a second log in from the peer is busy meanwhile; a connection gone before its
// check ends takes its answer with it, and the server goes on.
TEST_F(WebServerTest, ALogInIsAnsweredAfterItsCheckTheStateMeanwhile) {
  AccessGate gate(UsersFile{AccessMode::kOn,
                            {Operator{"alice", AccessLevel::kLevel2, *HashPin("1234"), false}}});
  QObject loop;
  std::atomic<bool> release{false};
  PinCheckPool pool(
      [&loop](std::function<void()> call) {
        QMetaObject::invokeMethod(&loop, std::move(call), Qt::QueuedConnection);
      },
      [&release](std::string_view pin, std::string_view hash) {
        while (!release)
          std::this_thread::sleep_for(1ms);
        return VerifyPin(pin, hash);
      },
      [] { return std::string(); }, PinCheckPool::Limits{});
  gate.UsePinChecks(&pool);
  server_ = test::Listening({}, &gate);  // the panel's own bounds: an answer may take a while
  const QByteArray host = "127.0.0.1:" + QByteArray::number(server_->port());
  const QByteArray get_state = "GET /api/state HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
  const auto logging_in = Connect();
  logging_in->write(test::LogInRequest(host, R"({"name":"alice","pin":"1234"})"));
  EXPECT_EQ(StatusLine(*Connect(), get_state), "HTTP/1.1 200 OK");
  EXPECT_EQ(StatusLine(*Connect(), test::LogInRequest(host, R"({"name":"alice","pin":"1234"})")),
            "HTTP/1.1 503 Service Unavailable");
  EXPECT_FALSE(logging_in->canReadLine());
  release = true;
  ASSERT_TRUE(WaitFor([&] { return logging_in->canReadLine(); }));
  EXPECT_EQ(logging_in->readLine().trimmed().toStdString(), "HTTP/1.1 200 OK");

  release = false;
  {
    const auto gone = Connect();
    gone->write(test::LogInRequest(host, R"({"name":"alice","pin":"9999"})"));
    ASSERT_TRUE(gone->waitForBytesWritten(2000));
    (void)WaitFor([] { return false; }, 100ms);
    gone->abort();
  }
  (void)WaitFor([] { return false; }, 100ms);
  release = true;
  (void)WaitFor([] { return false; }, 200ms);
  EXPECT_EQ(StatusLine(*Connect(), get_state), "HTTP/1.1 200 OK");
  server_.reset();
  gate.UsePinChecks(nullptr);
}

TEST(WebServerTls, HttpsAndWssOnlyWithTheCertificate) {
  test::TempFolder folder;
  const std::string cert = (folder.path() / "cert.pem").string();
  const std::string key = (folder.path() / "key.pem").string();
  const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1";
  ASSERT_EQ(std::system((make + " -keyout " + key + " -out " + cert + " 2>/dev/null").c_str()), 0);
  const auto server = Server({}, cert, key);
  std::string error;
  // A key every user may read is no key of the site's.
  ASSERT_EQ(chmod(key.c_str(), 0644), 0);
  ASSERT_FALSE(server->Listen(error));
  EXPECT_THAT(error, testing::StartsWith("[WebPanel] KeyFile=" + key + " can be read by every"));
  ASSERT_EQ(chmod(key.c_str(), 0600), 0);
  ASSERT_TRUE(server->Listen(error)) << error;

  QSslSocket https;
  https.setPeerVerifyMode(QSslSocket::VerifyNone);
  https.connectToHostEncrypted(QStringLiteral("127.0.0.1"), server->port());
  ASSERT_TRUE(WaitFor([&] { return https.isEncrypted(); }, 5000ms));
  EXPECT_EQ(StatusLine(https, kGetState), "HTTP/1.1 200 OK");

  QWebSocket page;
  QObject::connect(&page, &QWebSocket::sslErrors, &page, [&page] { page.ignoreSslErrors(); });
  page.open(QUrl(QStringLiteral("wss://127.0.0.1:%1/ws").arg(server->port())));
  EXPECT_TRUE(WaitFor([&] { return page.state() == QAbstractSocket::ConnectedState; }, 5000ms));
}

}  // namespace
}  // namespace orv
