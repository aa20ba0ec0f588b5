#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSysInfo>
#include <QTimer>
#include <memory>
#include <optional>

#include "notify/qt/qt_web_hook.h"
#include "notify_qt_hook_server.h"
#include "support/child_process.h"
#include "support/wait_for.h"
#include "temp_folder.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using test::HookServer;
using test::TempFolder;

const NotifyMessage kFault{.type = "problem",
                           .rule = "night",
                           .condition = "fault-3",
                           .text = "Fault 3: mains \"failure\" ü",
                           .seq = 4711,
                           .since_ms = 1796763802123,
                           .step = 2,
                           .instance = {}};

// Posts and waits for the one answer, failing when done comes inside Post or twice.
std::optional<NotifyResult> Deliver(QtWebHook& hook, const QString& url,
                                    const NotifyMessage& msg = kFault) {
  std::optional<NotifyResult> answer;
  int calls = 0;
  bool posting = true;
  hook.Post(url.toStdString(), msg, [&](NotifyResult result) {
    EXPECT_FALSE(posting) << "done inside Post";
    ++calls;
    answer = result;
  });
  posting = false;
  test::WaitFor([&] { return calls > 0; }, 5000ms);
  // A second call would come within the loop's next turns.
  QCoreApplication::processEvents();
  EXPECT_EQ(calls, 1);
  return answer;
}

TEST(NotifyQtWebHook, PostsTheFactsAsJson) {
  HookServer server;
  QtWebHook hook({});
  const auto answer = Deliver(hook, server.Url("http", "/hooks/orvandel?key=1"));
  ASSERT_TRUE(answer);
  EXPECT_TRUE(answer->ok);
  EXPECT_EQ(answer->answer, "HTTP 200");
  ASSERT_EQ(server.requests.size(), 1);
  const test::HookRequest& request = server.requests[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.path, "/hooks/orvandel?key=1");
  EXPECT_EQ(request.headers.value("content-type").toStdString(), "application/json");
  const QJsonObject expected{{"type", "problem"},
                             {"rule", "night"},
                             {"condition", "fault-3"},
                             {"text", "Fault 3: mains \"failure\" ü"},
                             {"seq", 4711},
                             {"since", "2026-12-08T21:03:22Z"},
                             {"step", 2},
                             {"host", QSysInfo::machineHostName()}};
  // Compared as the same compact text: the objects' own comparison prints as bytes.
  const QJsonObject sent = QJsonDocument::fromJson(request.body).object();
  EXPECT_EQ(QJsonDocument(sent).toJson(QJsonDocument::Compact).toStdString(),
            QJsonDocument(expected).toJson(QJsonDocument::Compact).toStdString());
  // Of several controllers, the one that speaks (the plain service's above names none).
  NotifyMessage of_b = kFault;
  of_b.instance = "b";
  ASSERT_TRUE(Deliver(hook, server.Url("http", "/hooks/orvandel?key=1"), of_b));
  ASSERT_EQ(server.requests.size(), 2);
  EXPECT_EQ(QJsonDocument::fromJson(server.requests[1].body).object().value("instance").toString(),
            "b");
}

// Only a 2xx is a delivery; a redirect is an answer, not followed.
TEST(NotifyQtWebHook, AnswersWithTheStatus) {
  struct Case {
    int status;
    QByteArray location;
    bool ok;
    std::string answer;
  };
  const Case cases[] = {{200, {}, true, "HTTP 200"},
                        {204, {}, true, "HTTP 204"},
                        {404, {}, false, "HTTP 404"},
                        {500, {}, false, "HTTP 500"},
                        {302, "/elsewhere", false, "HTTP 302"},
                        {307, "/elsewhere", false, "HTTP 307"}};
  for (const Case& c : cases) {
    HookServer server;
    server.status = c.status;
    server.location = c.location;
    QtWebHook hook({});
    const auto answer = Deliver(hook, server.Url("http", "/hook"));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->ok, c.ok) << c.status;
    EXPECT_EQ(answer->answer, c.answer);
    EXPECT_EQ(server.requests.size(), 1) << c.status;
  }
}

// A server that takes the request and never answers ends at the limit, and the loop goes on
// meanwhile.
TEST(NotifyQtWebHook, ASilentServerEndsAtTheLimitWhileTheLoopTicks) {
  HookServer server;
  server.silent = true;
  QtWebHook hook({.ca_file = {}, .limit = 300ms});
  int ticks = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
  tick.start(10ms);
  const auto answer = Deliver(hook, server.Url("http", "/hook"));
  ASSERT_TRUE(answer);
  EXPECT_FALSE(answer->ok);
  EXPECT_EQ(answer->answer, "no answer within 300 ms");
  EXPECT_EQ(server.requests.size(), 1);
  // About 30; a loop that waited for the hook would have seen none.
  EXPECT_GE(ticks, 10);
}

// The status is all a hook's answer is read for: what the server sends after it is not waited
// for, nor kept.
TEST(NotifyQtWebHook, TheAnswerIsTheStatusWithoutWaitingForTheBody) {
  HookServer server;
  server.hold = true;
  QtWebHook hook({.ca_file = {}, .limit = 5000ms});
  const auto answer = Deliver(hook, server.Url("http", "/hook"));
  ASSERT_TRUE(answer);
  EXPECT_TRUE(answer->ok);
  EXPECT_EQ(answer->answer, "HTTP 200");
}

TEST(NotifyQtWebHook, WhatIsNotAHookIsRefusedAndANoServerIsSaid) {
  QtWebHook hook({});
  const QString closed = [] {
    HookServer gone;
    return gone.Url("http", "/hook");
  }();
  const std::pair<QString, std::string> cases[] = {
      {"ftp://127.0.0.1/token-1234", "refused: not an http or https URL"},
      {"hook", "refused: not an http or https URL"},
      {"http:///hook", "refused: not an http or https URL"},
      {closed, "Connection refused"}};
  for (const auto& [url, words] : cases) {
    const auto answer = Deliver(hook, url);
    ASSERT_TRUE(answer);
    EXPECT_FALSE(answer->ok);
    EXPECT_EQ(answer->answer, words);
  }
}

// HTTPS: a certificate is trusted only through the CA file when one is given.
class NotifyQtWebHookTls : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = std::make_unique<TempFolder>();
    // "elsewhere" is for another host than the one the hook names.
    const std::pair<std::string, std::string> certificates[] = {
        {"server", "IP:127.0.0.1,DNS:localhost"},
        {"other", "IP:127.0.0.1,DNS:localhost"},
        {"elsewhere", "DNS:elsewhere.example"}};
    for (const auto& [name, alt_names] : certificates) {
      test::ChildProcess openssl(
          "/usr/bin/openssl",
          {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
           "-days", "2", "-subj", "/CN=" + name, "-addext", "subjectAltName=" + alt_names,
           "-keyout", Path(name + ".key"), "-out", Path(name + ".pem")},
          {.env = {}, .capture_stderr = true});
      ASSERT_EQ(openssl.WaitForExit(), 0) << "openssl: " << openssl.error_output();
    }
  }
  static void TearDownTestSuite() { folder_.reset(); }
  static std::string Path(const std::string& name) { return (folder_->path() / name).string(); }

  static inline std::unique_ptr<TempFolder> folder_;
};

// The server's side: its certificate and key.
QSslConfiguration ServerTls(const std::string& pem, const std::string& key_file) {
  QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
  tls.setLocalCertificate(QSslCertificate::fromPath(QString::fromStdString(pem)).value(0));
  QFile key(QString::fromStdString(key_file));
  key.open(QIODevice::ReadOnly);
  tls.setPrivateKey(QSslKey(&key, QSsl::Ec));
  tls.setPeerVerifyMode(QSslSocket::VerifyNone);
  return tls;
}

TEST_F(NotifyQtWebHookTls, TheCertificateIsTrustedOnlyThroughTheCaFileGiven) {
  struct Case {
    std::string server = "server";  // the certificate the server shows
    std::string ca_file;
    bool ok;
    std::string answer;
  };
  const Case cases[] = {
      {"server", "", false, "SSL handshake failed: The certificate is self-signed, and untrusted"},
      {"server", Path("other.pem"), false,
       "SSL handshake failed: The certificate is self-signed, and untrusted"},
      {"server", Path("server.pem"), true, "HTTP 200"},
      {"elsewhere", Path("elsewhere.pem"), false,
       "SSL handshake failed: The host name did not match any of the valid hosts for this "
       "certificate"},
      {"server", Path("writable.pem"), false,
       "refused: the CA file " + Path("writable.pem") +
           " cannot be used: can be changed by other users (chmod go-w)"},
      {"server", Path("server.key"), false,
       "refused: the CA file " + Path("server.key") +
           " cannot be used: it holds no PEM "
           "certificate"},
  };
  std::filesystem::copy_file(Path("server.pem"), Path("writable.pem"));
  std::filesystem::permissions(Path("writable.pem"), std::filesystem::perms::others_write,
                               std::filesystem::perm_options::add);
  for (const Case& c : cases) {
    const QSslConfiguration tls = ServerTls(Path(c.server + ".pem"), Path(c.server + ".key"));
    HookServer server(&tls);
    QtWebHook hook({.ca_file = c.ca_file, .limit = 5000ms});
    const auto answer = Deliver(hook, server.Url("https", "/hook"));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->ok, c.ok) << c.ca_file;
    EXPECT_EQ(answer->answer, c.answer) << c.ca_file;
    EXPECT_EQ(server.requests.size(), c.ok ? 1 : 0) << c.ca_file;
  }
}

}  // namespace
}  // namespace orv
