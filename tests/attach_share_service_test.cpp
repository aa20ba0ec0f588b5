// A user's share of the real headless program's window places: past it, the service's socket
// answers with the refusal and closes, and the service's log says who was turned away.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QLocalSocket>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "attach/attach_protocol.h"
#include "platform/users.h"
#include "tests/attached_window_fixture.h"

namespace orv {
namespace {

constexpr int kDeadlineMs = 5000;

using AttachedShare = test::AttachedWindowTest;

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

TEST_F(AttachedShare, AUsersWindowPastTheShareIsRefusedSaidAndClosed) {
  auto sim = StartSim();
  auto service = StartProgram({"--headless", "--socket", socket_});
  ASSERT_TRUE(service->WaitForOutput(" link Connected: ")) << service->output();
  const std::size_t share = AttachLimits{}.max_clients_per_user;
  std::vector<std::unique_ptr<QLocalSocket>> sockets;
  for (std::size_t i = 0; i <= share; ++i) {
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
}

}  // namespace
}  // namespace orv
