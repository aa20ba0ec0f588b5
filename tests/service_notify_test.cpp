// The headless program under a supervisor's notification socket (what systemd gives a
// Type=notify service): ready once, alive every second from its tick, silent while stopped.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/program_folder_fixture.h"

namespace orv {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class ServiceNotify : public test::ProgramFolderTest {
 protected:
  void SetUp() override {
    ProgramFolderTest::SetUp();
    socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = (folder_.path() / "notify").string();
    ASSERT_LT(path.size(), sizeof address.sun_path);
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    setenv("NOTIFY_SOCKET", path.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("NOTIFY_SOCKET");
    close(socket_);
  }
  // The messages that arrive within the span.
  std::vector<std::string> Receive(Clock::duration span) {
    std::vector<std::string> messages;
    for (const auto end = Clock::now() + span; Clock::now() < end;) {
      pollfd fd{socket_, POLLIN, 0};
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      if (poll(&fd, 1, int(std::max<long>(0, left.count()))) <= 0) continue;
      char buffer[512];
      const ssize_t n = recv(socket_, buffer, sizeof buffer, 0);
      if (n > 0) messages.emplace_back(buffer, std::size_t(n));
    }
    return messages;
  }
  int socket_ = -1;
};

TEST_F(ServiceNotify, ReadyThenAliveEverySecondAndSilentWhileStopped) {
  auto program = StartProgram({"--headless"});
  auto messages = Receive(3500ms);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages[0].rfind("READY=1\nSTATUS=COM1 ", 0), 0u) << messages[0];
  EXPECT_NE(messages[0].find("not connected"), std::string::npos) << messages[0];
  EXPECT_GE(std::count(messages.begin(), messages.end(), "WATCHDOG=1"), 2);

  program->Signal(SIGSTOP);
  Receive(200ms);  // what was on its way
  EXPECT_TRUE(Receive(2s).empty());
  program->Signal(SIGCONT);
  messages = Receive(2s);
  EXPECT_GE(std::count(messages.begin(), messages.end(), "WATCHDOG=1"), 1);
}

}  // namespace
}  // namespace orv
