// The real program without a display: --headless in a program folder of its own against the
// simulator on a pseudo-terminal, under a supervisor's notification socket, and its command line.
// (The retries, what they say, a held port and a lost device are the runner's and the Qt port's.)
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "tests/program_folder_fixture.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// What systemd gives a Type=notify service: ready once, alive every second from its tick, silent
// while stopped. The service's own timer drives the retries: a port missing at start is taken
// when it comes.
using Clock = std::chrono::steady_clock;
class HeadlessProgram : public test::ProgramFolderTest {
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

TEST_F(HeadlessProgram, NotifiesItsSupervisorTakesAPortThatComesLaterAndStopsCleanly) {
  auto program = StartProgram({"--headless"}, {.env = {}, .capture_stderr = true});
  ASSERT_TRUE(program->WaitForOutput("Com Port Fail!: COM1")) << program->output();
  auto sim = StartSim();
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

  // The first retry is 5 s of the service's ticks after the failure.
  ASSERT_TRUE(
      program->WaitForOutput(" link Connected: COM1 (" + link_.string() + ") 9600,N,8,1", 7000ms))
      << program->output();
  sim->Type("event 0x12 0");
  ASSERT_TRUE(program->WaitForOutput(" event ")) << program->output();
  program->Signal(SIGINT);
  EXPECT_EQ(program->WaitForExit(), 0) << program->output();
  // The journal was closed: its write-ahead log was folded in and removed.
  EXPECT_FALSE(fs::exists(folder_.path() / "DATA" / "Journal.sqlite-wal"));
  const std::vector<JournalRow> rows = Rows();
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.back().entry.text.rfind("Program stopped: ", 0), 0U);
}

// Where there is no display (an ssh session): every answer is one line and an exit status, never
// Qt's abort for want of a display. The exit status, and standard output and error together.
std::pair<int, std::string> RunWithoutDisplay(const std::string& args) {
  std::vector<std::string> env;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string text = *variable;
    const std::string name = text.substr(0, text.find('='));
    if (name != "DISPLAY" && name != "WAYLAND_DISPLAY" && name != "QT_QPA_PLATFORM")
      env.push_back(text);
  }
  test::ChildProcess program(
      test::kProgram, args.empty() ? std::vector<std::string>{} : std::vector<std::string>{args},
      {.env = env, .capture_stderr = true});
  const int status = program.WaitForExit();
  return {status, program.output() + program.error_output()};
}

TEST(CommandLine, AnswersWithoutADisplayInOneLine) {
  // The arguments; the exit status and what is printed.
  const std::tuple<std::string, int, std::string> cases[] = {
      {"--bogus", 2, "orvandel: unknown option \"--bogus\" (see --help)\n"},
      {"--version", 0, "orvandel 2.16.8\n"},
      {"-v", 0, "orvandel 2.16.8\n"},
      {"", 2, "orvandel: no display: run `orvandel --headless` to run without a window\n"},
  };
  for (const auto& [args, status, output] : cases)
    EXPECT_EQ(RunWithoutDisplay(args), std::pair(status, output)) << args;
  const auto [status, help] = RunWithoutDisplay("--help");
  EXPECT_EQ(std::pair(status, help.find("--headless") != help.npos), std::pair(0, true)) << help;
}

}  // namespace
}  // namespace orv
