// Windows attached to the real headless program over its socket, the program on a pseudo-terminal
// to the simulator. (What each action does at the service is the service actions' test, a user's
// share the hub's.)
#include <gtest/gtest.h>

#include <signal.h>

#include <sys/stat.h>

#include <unistd.h>

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPushButton>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "attach/attach_protocol.h"
#include "attach/qt/qt_attached_window.h"
#include "conditions/qt/qt_conditions_bar.h"
#include "journal/qt/qt_history_model.h"
#include "journal/qt/qt_history_window.h"
#include "link/frame.h"
#include "platform/qt/qt_notice_bar.h"
#include "platform/users.h"
#include "tests/attached_window_fixture.h"

namespace orv {
namespace {

constexpr int kDeadlineMs = 5000;

bool Once(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos && text.find(what) == text.rfind(what);
}

using AttachedWindows = test::AttachedWindowTest;

// The first line the service sends a socket, read as a message.
ServerMessage FirstMessage(QLocalSocket& socket) {
  ServerMessage message;
  if (!QTest::qWaitFor([&] { return socket.canReadLine(); }, kDeadlineMs)) return message;
  const QByteArray line = socket.readLine().trimmed();
  PanelState state = EmptyPanelState();
  std::string error;
  EXPECT_TRUE(ParseServerMessage(line.toStdString(), state, message, error)) << error;
  return message;
}

TEST_F(AttachedWindows, ShareTheServicesLineAndHistoryAndFollowItsRestart) {
  auto sim = StartSim();
  auto service = StartProgram({"--headless", "--socket", socket_});
  ASSERT_TRUE(service->WaitForOutput(" link Connected: ")) << service->output();
  QtAttachedWindow one(socket_), two(socket_);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Attached(one) && Attached(two); }, kDeadlineMs));
  EXPECT_EQ(one.attach_label()->text().toStdString(), "Attached to the service (" + socket_ + ")");
  ASSERT_TRUE(QTest::qWaitFor([&] { return one.panel().state().connected; }, kDeadlineMs));
  // The real program started on the service's socket attaches too, and never opens the line.
  auto program = StartProgram({"--socket", socket_}, {.env = {}, .capture_stderr = true});
  ASSERT_TRUE(service->WaitForOutput("(3 attached)")) << service->output();

  // The history: the service's records, filtered as the window asks, new ones on top.
  one.view().show();
  std::int64_t committed = 0;
  int answers = 0;
  const Connection commits = one.client().journal_committed().Connect(
      [&](std::int64_t sequence) { committed = sequence; });
  const Connection pages = one.client().history_page().Connect(
      [&](const std::string&, const JournalPage&) { ++answers; });
  // Asked for with Ctrl+H: the journal's first commit may be still to come.
  ASSERT_TRUE(QTest::qWaitForWindowActive(&one.view()));
  QTest::keyClick(&one.view(), Qt::Key_H, Qt::ControlModifier);
  QtHistoryWindow* history = one.history();
  ASSERT_NE(history, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(history));
  const QtHistoryModel* model = history->model();
  // Rows newest first, each once, and one of them (or the first) holds what.
  const auto shows = [&](const std::string& what, bool first = false) {
    bool found = false;
    for (int row = 0; row < model->rowCount(); ++row) {
      if (row > 0 && model->row(row).sequence >= model->row(row - 1).sequence) return false;
      found = found ||
              ((row == 0 || !first) && model->row(row).entry.text.find(what) != std::string::npos);
    }
    return found;
  };
  // The service's own records, which this window's user could not read from the file, and an
  // event the controller reports, journalled by the service, on top; how far they go.
  sim->Type("event 0x12 0");
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return shows("Event = EMG Ack", true) && shows("Connected: COM1") && committed >= 3; },
      kDeadlineMs))
      << history->status_text().toStdString() << " " << committed;
  // Exported by root at the site, not from here.
  EXPECT_FALSE(history->findChild<QPushButton*>("ExportCsvButton")->isEnabled());
  // Closed, the status bar's button shows the same window again.
  history->close();
  auto* button = one.view().notice_bar()->findChild<QPushButton*>("HistoryButton");
  ASSERT_NE(button, nullptr);
  button->click();
  EXPECT_EQ(one.history(), history);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(history));

  // The window's filter goes with its pages: the link's records only.
  history->findChild<QComboBox*>("KindCombo")->setCurrentText("link");
  ASSERT_TRUE(QTest::qWaitFor([&] { return shows("Connected: COM1"); }, kDeadlineMs));
  for (int row = 0; row < model->rowCount(); ++row)
    EXPECT_EQ(model->row(row).entry.kind, JournalKind::kLink) << row;
  // One page asked for at a time.
  const int answered = answers;
  ASSERT_TRUE(one.client().AskHistory({}));
  EXPECT_FALSE(one.client().AskHistory({}));
  ASSERT_TRUE(QTest::qWaitFor([&] { return answers > answered; }, kDeadlineMs));

  // A fault lamp: from the controller's answer to both windows within half a second.
  sim->Type("fault 4 on");
  ASSERT_TRUE(sim->WaitForOutput("fault image: 4 " + std::string(kFaultLampCaptions[3])))
      << sim->output();
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        return one.window().Shape1[3].fill_style() == Shape::kSolid &&
               two.window().Shape1[3].fill_style() == Shape::kSolid;
      },
      kDeadlineMs));
  EXPECT_LT(clock.elapsed(), 500);
  // The service's one annunciator: a Silence in one window quiets it for both.
  const auto sounds = [](QtAttachedWindow& w) { return w.client().state().sounding; };
  ASSERT_TRUE(QTest::qWaitFor([&] { return sounds(two) == "fault"; }, kDeadlineMs));
  two.annunciator_bar().silence_button()->click();
  EXPECT_TRUE(QTest::qWaitFor([&] { return sounds(one) == "none"; }, 500));

  // The fault's condition: acknowledged in one window and shelved in the other, at the service,
  // as this process's user; both windows are told.
  const auto act = [](QtAttachedWindow& w, const char* text, const char* button) {
    QtConditionsBar& bar = w.conditions_bar();
    bar.button()->click();
    const auto listed = [&] { return bar.list()->count() > 0; };
    ASSERT_TRUE(QTest::qWaitFor(listed, kDeadlineMs));
    bar.list()->setCurrentRow(0);
    bar.list_window()->findChild<QLineEdit*>("ConditionText")->setText(text);
    bar.list_window()->findChild<QPushButton*>(button)->click();
  };
  const auto fault = [](QtAttachedWindow& w) {
    const auto& listed = w.client().state().conditions;
    return listed.empty() ? Condition{} : listed[0];
  };
  act(one, "seen", "AcknowledgeButton");
  ASSERT_TRUE(QTest::qWaitFor([&] { return fault(two).comment == "seen"; }, kDeadlineMs));
  act(two, "works", "ShelveButton");
  ASSERT_TRUE(QTest::qWaitFor([&] { return fault(one).shelved(); }, kDeadlineMs));
  EXPECT_EQ(fault(one).id + " " + fault(one).shelved_reason, "fault-4 works");
  EXPECT_EQ(fault(one).acknowledged_by, UserName(geteuid()));

  // A key in one window: one frame on the line, the key's own.
  one.view().CallModel([&] { one.window().EMGAck_CB.Click(); });
  ASSERT_TRUE(sim->WaitForOutput("RX 02 01 16 02 7B 03  operator key EMG Ack")) << sim->output();
  QTest::qWait(500);
  sim->Drain();
  EXPECT_TRUE(Once(sim->output(), "operator key")) << sim->output();

  program->Signal(SIGTERM);
  EXPECT_EQ(program->WaitForExit(), 0);
  ASSERT_TRUE(service->WaitForOutput("window gone: ")) << service->output();
  EXPECT_EQ(program->error_output().find("COM1"), std::string::npos) << program->error_output();
  sim->Drain();
  EXPECT_TRUE(Once(sim->output(), "supervision time"));  // the service's one connect

  // Past the user's share (the two windows count), a window is refused, said and closed.
  const std::size_t share = AttachLimits{}.max_clients_per_user;
  std::vector<std::unique_ptr<QLocalSocket>> sockets;
  for (std::size_t i = 2; i <= share; ++i) {
    auto& socket = sockets.emplace_back(std::make_unique<QLocalSocket>());
    socket->connectToServer(QString::fromStdString(socket_));
    ASSERT_TRUE(socket->waitForConnected(kDeadlineMs)) << i;
    const ServerMessage message = FirstMessage(*socket);
    if (i < share) {
      EXPECT_EQ(message.type, ServerMessageType::kSnapshot) << i;
      continue;
    }
    const std::string why = "user " + UserName(geteuid()) + " has " + std::to_string(share) +
                            " windows attached, the most one user may";
    EXPECT_EQ(message.type, ServerMessageType::kRefused);
    EXPECT_EQ(message.text, why);
    EXPECT_TRUE(QTest::qWaitFor([&] { return socket->state() == QLocalSocket::UnconnectedState; },
                                kDeadlineMs));
    EXPECT_TRUE(service->WaitForOutput("attach window refused: " + why)) << service->output();
  }
  EXPECT_TRUE(service->WaitForOutput("(" + std::to_string(share) + " attached)"));

  // The service killed: both windows say so within 2 s, greyed (what greys is the panel's test).
  service->Signal(SIGKILL);
  service->WaitForExit();
  clock.restart();
  auto says_lost = [](QtAttachedWindow& w) {
    return w.view().windowTitle().endsWith(QtAttachedWindow::kLostTitleSuffix);
  };
  ASSERT_TRUE(QTest::qWaitFor([&] { return says_lost(one) && says_lost(two); }, kDeadlineMs));
  EXPECT_LT(clock.elapsed(), 2000);
  EXPECT_EQ(two.window().Shape1[3].fill_color(), AttachedPanel::kStaleLamp);
  EXPECT_EQ(two.conditions_bar().button()->text(), "1 fault");
  EXPECT_EQ(two.conditions_bar().list()->item(0)->text().left(12), "Service lost");

  // Back: attached again within 2 s of the start, the lamps red again.
  clock.restart();
  service = StartProgram({"--headless", "--socket", socket_});
  ASSERT_TRUE(QTest::qWaitFor([&] { return Attached(one) && Attached(two); }, kDeadlineMs));
  EXPECT_LT(clock.elapsed(), 2000);
  EXPECT_FALSE(says_lost(one));
  EXPECT_NE(two.window().Shape1[3].fill_color(), AttachedPanel::kStaleLamp);
  EXPECT_EQ(service->Stop(), 0);
}

// A service of anyone's making: a snapshot to every window, and whatever a window sends kept.
class FakeService {
 public:
  explicit FakeService(const std::string& path) {
    QObject::connect(&server_, &QLocalServer::newConnection, &server_, [this] {
      while (QLocalSocket* window = server_.nextPendingConnection()) {
        const std::string snapshot = SnapshotMessage(0, EmptyPanelState());
        window->write(snapshot.data(), static_cast<qint64>(snapshot.size()));
        QObject::connect(window, &QLocalSocket::readyRead, window,
                         [this, window] { received_ += window->readAll().toStdString(); });
      }
    });
    EXPECT_TRUE(server_.listen(QString::fromStdString(path)));
  }
  const std::string& received() const { return received_; }

 private:
  QLocalServer server_;
  std::string received_;
};

TEST(AttachedWindow, SendsNothingNotEvenALogInToAServiceInAFolderAnyoneMayWrite) {
  for (const mode_t folder_mode : {0755, 0777}) {
    SCOPED_TRACE(folder_mode);
    const bool trusted = folder_mode == 0755;
    const test::TempFolder temp;
    const std::filesystem::path folder = temp.path() / "run";
    std::filesystem::create_directory(folder);
    ASSERT_EQ(chmod(folder.c_str(), folder_mode), 0);
    const std::string path = (folder / "panel.sock").string();
    FakeService service(path);
    QtAttachedWindow window(path);
    std::vector<QtAttachClient::Status> statuses;
    const Connection status_changes = window.client().status_changed().Connect(
        [&statuses](QtAttachClient::Status status) { statuses.push_back(status); });
    const QtAttachClient::Status status =
        trusted ? QtAttachClient::Status::kAttached : QtAttachClient::Status::kRefused;
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.client().status() == status; }, kDeadlineMs));
    // The operator logs in as ever, through the status bar's dialog.
    QtAccessBar& access = window.access_bar();
    access.name_edit()->setText(QStringLiteral("opb"));
    access.pin_edit()->setText(QStringLiteral("2468"));
    access.dialog()->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    QTest::qWait(300);
    EXPECT_EQ(service.received().find(R"("pin":"2468")") != std::string::npos, trusted)
        << service.received();
    if (!trusted) {
      EXPECT_EQ(service.received(), "");
      // Refused (while the window was made) it stays until its next try: no silence counted of
      // a service it never attached to.
      QTest::qWait(QtAttachClient::kSilenceMs + 300);
      EXPECT_TRUE(statuses.empty()) << statuses.size() << " changes after the refusal";
      EXPECT_NE(window.attach_label()->text().toStdString().find(
                    "can be written by its group and others: not trusted"),
                std::string::npos)
          << window.attach_label()->text().toStdString();
    }
  }
}

TEST(AttachedWindow, AtASiteWithoutItsModuleSaysSoAndEndsRatherThanOpenTheLine) {
  // A copy of the program where the build's module is not beside it.
  const test::TempFolder temp;
  std::filesystem::create_directory(temp.path() / "app");
  const std::filesystem::path program = temp.path() / "app" / "orvandel";
  std::filesystem::copy_file(test::kProgram, program);
  const std::string socket_path = (temp.path() / "panel.sock").string();
  test::ChildProcess window(program.string(), {"--socket", socket_path},
                            {.env = {}, .capture_stderr = true});
  EXPECT_EQ(window.WaitForExit(), 1) << window.error_output();
  EXPECT_NE(window.error_output().find("orvandel: the window cannot attach to the service at " +
                                       socket_path + ": the module is not loaded ("),
            std::string::npos)
      << window.error_output();
}

}  // namespace
}  // namespace orv
