// The service's four views of its one state, on the simulator's line: the state a window is sent
// over the socket, that window's lamps, the web panel's /api/state and the broker's retained
// topics. A fault image reaches all four alike; a lamp test asked for in the window lights that
// window only, while what is reported keeps the controller's lamps and says that a test runs.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QTest>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "attach/qt/qt_attached_window.h"
#include "link/fault_lamps.h"
#include "tests/attached_window_fixture.h"
#include "tests/loopback_servers.h"
#include "tests/mqtt_subscriber.h"

namespace orv {
namespace {

constexpr int kDeadlineMs = 5000;

// Lamps 1..12 as '1' (lit) or '0'.
template <typename Lit>
std::string LampString(Lit lit) {
  std::string lamps;
  for (int i = 0; i < kSystemLamps; ++i)
    lamps += lit(i) ? '1' : '0';
  return lamps;
}

// What each view shows at one moment.
struct Views {
  std::string socket, window, web, mqtt;                          // the lamps
  bool socket_test = false, web_test = false, mqtt_test = false;  // the lamp test's flag
};

class ServiceViews : public test::AttachedWindowTest {
 protected:
  void SetUp() override {
    // The site settings must belong to root, as installed.
    if (geteuid() != 0) GTEST_SKIP() << "site settings must belong to root: run as root";
    ASSERT_TRUE(std::filesystem::exists("/usr/sbin/mosquitto")) << "Debian's mosquitto is needed";
    broker_port_ = test::FreeLoopbackPort();
    web_port_ = test::FreeLoopbackPort();
    ASSERT_TRUE(broker_port_ > 0 && web_port_ > 0 && broker_port_ != web_port_);
    broker_.emplace(broker_folder_.path(), broker_port_, "allow_anonymous true\n");
    ASSERT_TRUE(broker_->started()) << "mosquitto did not start";
    // No resend of the retained state (every KeepAlive x 2) within the test.
    test::WriteBytes(site_, "[MQTT]\nBroker=mqtt://127.0.0.1:" + std::to_string(broker_port_) +
                                "\nTopic=" + test::kMqttBase + "\nKeepAlive=60\n[WebPanel]\n" +
                                "Listen=127.0.0.1:" + std::to_string(web_port_) + "\n");
    ASSERT_EQ(chmod(site_.c_str(), 0644), 0);
    AttachedWindowTest::SetUp();
  }

  // The web panel's state as a browser gets it; null when it does not answer.
  QJsonObject WebState() {
    QNetworkReply* reply = web_.get(
        QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/api/state").arg(web_port_))));
    const bool done = QTest::qWaitFor([reply] { return reply->isFinished(); }, kDeadlineMs);
    const QByteArray body = done ? reply->readAll() : QByteArray();
    reply->deleteLater();
    return QJsonDocument::fromJson(body).object()[QStringLiteral("state")].toObject();
  }

  Views Read(QtAttachedWindow& window, const test::Subscriber& broker) {
    const PanelState& sent = window.client().state();
    const QJsonObject web = WebState();
    const QJsonArray web_lamps = web[QStringLiteral("lamps")].toArray();
    Views views;
    views.socket = LampString([&](int i) { return sent.lamps[static_cast<std::size_t>(i)]; });
    views.window =
        LampString([&](int i) { return window.window().Shape1[i].fill_style() == Shape::kSolid; });
    views.web = web_lamps.size() == kSystemLamps
                    ? LampString([&](int i) { return web_lamps[i].toBool(); })
                    : "no lamps";
    views.mqtt =
        LampString([&](int i) { return broker.Last("fault/" + std::to_string(i + 1)) == "1"; });
    views.socket_test = sent.lamp_test;
    views.web_test = web[QStringLiteral("annunciation")][QStringLiteral("lampTest")].toBool();
    views.mqtt_test = broker.Last("annunciation").find(R"("lampTest":true)") != std::string::npos;
    return views;
  }

  test::TempFolder broker_folder_;
  std::filesystem::path site_ = broker_folder_.path() / "orvandel.ini";
  int broker_port_ = 0, web_port_ = 0;
  std::optional<test::LoopbackBroker> broker_;
  QNetworkAccessManager web_;
};

TEST_F(ServiceViews, AFaultReachesAllFourAndALampTestLightsOnlyTheWindowThatAskedForIt) {
  auto sim = StartSim();
  auto service =
      StartProgram({"--headless", "--socket", socket_, "--site-settings", site_.string()});
  ASSERT_TRUE(service->WaitForOutput(" mqtt connected (")) << service->output();
  ASSERT_TRUE(service->WaitForOutput(" link Connected: ")) << service->output();
  QtAttachedWindow window(socket_);
  const test::Subscriber broker(broker_port_);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Attached(window); }, kDeadlineMs));

  // Two lamps, so that one view's lamps shifted by one shows.
  sim->Type("fault 3 on");
  sim->Type("fault 8 on");
  const std::string faults = "001000010000";
  Views views;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        views = Read(window, broker);
        return views.socket == faults && views.window == faults && views.web == faults &&
               views.mqtt == faults;
      },
      kDeadlineMs))
      << "socket " << views.socket << ", window " << views.window << ", web " << views.web
      << ", broker " << views.mqtt << "\n"
      << service->output();
  // Settled: a second with nothing new at the broker, so that what follows the fault (its
  // event, its sound, its other topics) is in.
  bool settled = false;
  for (int second = 0; second < 5 && !settled; ++second) {
    const std::size_t before = broker.size();
    QTest::qWait(1000);
    settled = broker.size() == before;
  }
  ASSERT_TRUE(settled) << "the broker never goes quiet";

  // While the window lights all its lamps, the socket and /api/state (one codec) keep the
  // controller's lamps, and the broker gets nothing but the flag and events.
  const std::size_t mark = broker.size();
  const std::string announced = "annunciation=" + broker.Last("annunciation");
  const std::size_t flag = announced.find(R"("lampTest":false)");
  ASSERT_NE(flag, std::string::npos) << announced;
  const std::string announced_test = std::string(announced).replace(flag, 16, R"("lampTest":true)");
  window.annunciator_bar().lamp_test_button()->click();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        views = Read(window, broker);
        return views.window == "111111111111" && views.socket_test && views.web_test &&
               views.mqtt_test;
      },
      kDeadlineMs))
      << "window " << views.window << ", flag on the socket " << views.socket_test
      << ", at /api/state " << views.web_test << ", at the broker " << views.mqtt_test;
  EXPECT_EQ(views.socket + " " + views.web, faults + " " + faults);
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        views = Read(window, broker);
        return !views.socket_test && !views.web_test && !views.mqtt_test;
      },
      kDeadlineMs + 2000))
      << "the flag stays up";
  std::vector<std::string> published;
  for (const std::string& message : broker.Since(mark))
    if (!message.starts_with("event=") && message != announced_test && message != announced)
      published.push_back(message);
  EXPECT_EQ(published, std::vector<std::string>{});
  EXPECT_EQ(service->Stop(), 0);
}

}  // namespace
}  // namespace orv
