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
#include <thread>
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

// The environment of a plain start where nothing is set up for the libraries: no display, no
// sound server, no XDG_RUNTIME_DIR, not under systemd; `extra` added.
std::vector<std::string> PlainEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> env = extra;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string text = *variable;
    const std::string name = text.substr(0, text.find('='));
    if (name != "DISPLAY" && name != "WAYLAND_DISPLAY" && name != "QT_QPA_PLATFORM" &&
        name != "XDG_RUNTIME_DIR" && name != "JOURNAL_STREAM" && name != "PULSE_SERVER")
      env.push_back(text);
  }
  return env;
}

// The lines of the output that are not the program's own.
std::vector<std::string> ForeignLines(const std::string& output) {
  std::vector<std::string> foreign;
  for (std::size_t start = 0; start < output.size();) {
    const std::size_t end = std::min(output.find('\n', start), output.size());
    const std::string line = output.substr(start, end - start);
    if (!line.starts_with("orvandel")) foreign.push_back(line);
    start = end + 1;
  }
  return foreign;
}

using ServiceOutput = test::ProgramFolderTest;

// Under systemd standard output and error are the journal's stream: every line carries its
// priority, so that `journalctl -p warning` shows the notices and not the records.
TEST_F(ServiceOutput, OnTheJournalsStreamRecordsAreInformationAndNoticesTheirLevel) {
  const std::string script =
      "exec 2>&1; JOURNAL_STREAM=$(stat -L -c %d:%i /proc/self/fd/2) exec \"$0\" \"$@\"";
  test::ChildProcess program("/bin/sh",
                             {"-c", script, (folder_.path() / "orvandel").string(), "--headless"},
                             {.env = PlainEnvironment({}), .capture_stderr = false});
  ASSERT_TRUE(program.WaitForOutput(" link Trying again")) << program.output();
  program.Signal(SIGTERM);
  EXPECT_EQ(program.WaitForExit(), 0) << program.output();
  const std::string& out = program.output();
  EXPECT_NE(out.find("<3>orvandel.notice: COM1 cannot be opened: device not found"), out.npos)
      << out;
  EXPECT_NE(out.find(" link Com Port Fail!: COM1"), out.npos) << out;
  // Each line's priority.
  std::string priorities;
  for (std::size_t at = 0; at < out.size(); at = out.find('\n', at) + 1) {
    priorities += out.compare(at, 3, "<6>") == 0 ? 'i' : out.compare(at, 3, "<3>") == 0 ? 'e' : '?';
  }
  EXPECT_EQ(priorities.find('?'), priorities.npos) << out;
  EXPECT_EQ(std::count(priorities.begin(), priorities.end(), 'e'), 1) << out;
}

// A plain start says nothing but its own notices: the window (offscreen, no sound server) and
// the service; --verbose lets the libraries speak.
TEST_F(ServiceOutput, APlainStartSaysNothingOfTheLibrariesUnlessVerbose) {
  // The arguments, the environment added; the libraries' lines expected.
  const std::tuple<std::vector<std::string>, std::string, bool> cases[] = {
      {{"--standalone"}, "QT_QPA_PLATFORM=offscreen", false},
      {{"--headless"}, "", false},
      {{"--standalone", "--verbose"}, "QT_QPA_PLATFORM=offscreen", true},
  };
  for (const auto& [args, extra, noisy] : cases) {
    test::ChildProcess program(
        (folder_.path() / "orvandel").string(), args,
        {.env = PlainEnvironment(extra.empty() ? std::vector<std::string>{} : std::vector{extra}),
         .capture_stderr = true});
    // The libraries speak at the start and when the module's sounder opens, after the first
    // paint: all within the time given.
    std::this_thread::sleep_for(4s);
    program.Stop();
    const std::string& said = program.error_output();
    EXPECT_EQ(said.find("XDG_RUNTIME_DIR not set") != said.npos, noisy)
        << testing::PrintToString(args) << said;
    if (!noisy) {
      EXPECT_EQ(ForeignLines(said), std::vector<std::string>{}) << testing::PrintToString(args);
    }
  }
}

}  // namespace
}  // namespace orv
