#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "notify/notify_command.h"
#include "notify_fixtures.h"
#include "temp_folder.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using test::ReadBytes;
using test::Script;
using test::TempFolder;
using test::WriteBytes;

// NAME=value lines as a map (values hold no line breaks here).
std::map<std::string, std::string> Lines(const std::string& text) {
  std::map<std::string, std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
  return lines;
}

// Whether pid is gone or only waits to be reaped by someone else.
bool IsDead(pid_t pid) {
  const std::string stat = ReadBytes("/proc/" + std::to_string(pid) + "/stat");
  return stat.empty() || stat.substr(stat.rfind(')') + 2, 1) == "Z";
}

// The shared facts with a text a shell would act on.
const NotifyMessage kFault = [] {
  NotifyMessage message = test::kFault;
  message.text = "a $(touch x); b 'c' \"d\" `e`";
  return message;
}();

// The command sees the facts and nothing of the service: no variable of its own, no
// descriptor it holds without close-on-exec, no argument, standard input empty.
TEST(NotifyCommand, GetsTheFactsAndNothingOfTheService) {
  TempFolder folder;
  const auto out = folder.path() / "seen";
  const auto command = Script(folder, "command", R"(#!/usr/bin/python3 -I
import os, sys
# Before anything of its own is open; the listing's own descriptor is closed when it is read.
fds = sorted(int(fd) for fd in os.listdir("/proc/self/fd") if os.path.exists("/proc/self/fd/" + fd))
stdin = os.readlink("/proc/self/fd/0")
with open(")" + out.string() + R"(", "w") as seen:
    for name, value in sorted(os.environ.items()):
        print(name + "=" + value, file=seen)
    print("argv=" + repr(sys.argv[1:]), file=seen)
    print("stdin=" + stdin, file=seen)
    print("fds=" + repr(fds), file=seen)
)");
  // What the service holds that must stay with it.
  setenv("NOTIFY_SOCKET", "/run/systemd/notify", 1);
  setenv("ORV_TEST_SECRET", "swordfish", 1);
  const int held = open("/dev/null", O_RDONLY);  // no close-on-exec
  ASSERT_GE(held, 3);
  // The service's standard input is whatever it was started with: here a pipe.
  int input[2];
  ASSERT_EQ(pipe(input), 0);
  const int own_input = dup(STDIN_FILENO);
  dup2(input[0], STDIN_FILENO);

  const NotifyResult result = RunNotifyCommand(command, kFault, 10s);
  dup2(own_input, STDIN_FILENO);
  for (const int fd : {held, input[0], input[1], own_input})
    close(fd);
  unsetenv("NOTIFY_SOCKET");
  unsetenv("ORV_TEST_SECRET");

  EXPECT_TRUE(result.ok) << result.answer;
  EXPECT_EQ(result.answer, "exit 0");
  const std::map<std::string, std::string> expected{{"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"},
                                                    {"LANG", "C.UTF-8"},
                                                    {"ORV_NOTIFY_TYPE", "problem"},
                                                    {"ORV_RULE", "night"},
                                                    {"ORV_CONDITION", "fault-3"},
                                                    {"ORV_TEXT", "a $(touch x); b 'c' \"d\" `e`"},
                                                    {"ORV_SEQ", "4711"},
                                                    {"ORV_SINCE", "2026-12-08T21:03:22Z"},
                                                    {"ORV_SINCE_MS", "1796763802123"},
                                                    {"ORV_STEP", "2"},
                                                    {"argv", "[]"},
                                                    {"stdin", "/dev/null"},
                                                    {"fds", "[0, 1, 2]"}};
  EXPECT_EQ(Lines(ReadBytes(out)), expected);
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "x"));
  EXPECT_FALSE(std::filesystem::exists("x"));
}

// An instance's command is told which controller speaks; the plain service's environment stays
// as it was.
TEST(NotifyCommand, AnInstanceIsNamedInTheEnvironment) {
  NotifyMessage message = kFault;
  const std::vector<std::string> plain = NotifyCommandEnvironment(message);
  EXPECT_EQ(std::count_if(plain.begin(), plain.end(),
                          [](const std::string& v) { return v.starts_with("ORV_INSTANCE"); }),
            0);
  message.instance = "b";
  std::vector<std::string> named = NotifyCommandEnvironment(message);
  EXPECT_EQ(std::count(named.begin(), named.end(), "ORV_INSTANCE=b"), 1);
  std::erase(named, "ORV_INSTANCE=b");
  EXPECT_EQ(named, plain);
}

// How each way a command can end is answered.
TEST(NotifyCommand, AnswersHowItEnded) {
  TempFolder folder;
  const auto plain = folder.path() / "plain";
  WriteBytes(plain, "#!/bin/sh\nexit 0\n");  // not executable
  struct Case {
    std::string script;  // empty: the program as given
    std::filesystem::path program;
    bool ok;
    std::string answer;
  };
  const Case cases[] = {
      {"exit 0", {}, true, "exit 0"},
      {"echo '  sent to 3 phones  '\necho second line", {}, true, "exit 0: sent to 3 phones"},
      {"echo 'no route' >&2\nexit 3", {}, false, "exit 3: no route"},
      {"kill -9 $$", {}, false, "killed by signal 9"},
      {"", folder.path() / "missing", false, "could not start: No such file or directory"},
      {"", plain, false, "could not start: Permission denied"},
      {"", "bin/true", false, "refused: the command is not an absolute path: bin/true"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const auto program = c.script.empty()
                             ? c.program
                             : Script(folder, std::to_string(++n), "#!/bin/sh\n" + c.script);
    const NotifyResult result = RunNotifyCommand(program, kFault, 10s);
    EXPECT_EQ(result.ok, c.ok) << c.script << c.program;
    EXPECT_EQ(result.answer, c.answer) << c.script << c.program;
  }
}

// A command that outlasts its limit, or ends, takes what it started in its group with it, and is
// reaped.
TEST(NotifyCommand, AtItsLimitOrItsEndTheWholeGroupIsKilledAndReaped) {
  struct Case {
    std::string last;  // the command's last line, after it started a child in the background
    std::chrono::milliseconds limit;
    std::string answer;
  };
  const Case cases[] = {{"sleep 30", 300ms, "killed after 300 ms"}, {"exit 0", 10s, "exit 0"}};
  for (const Case& c : cases) {
    TempFolder folder;
    const auto child = folder.path() / "child";
    const auto command = Script(
        folder, "command", "#!/bin/sh\nsleep 30 &\necho $! > " + child.string() + "\n" + c.last);
    const auto start = std::chrono::steady_clock::now();
    const NotifyResult result = RunNotifyCommand(command, kFault, c.limit);
    EXPECT_LT(std::chrono::steady_clock::now() - start, c.limit + 5s);
    EXPECT_EQ(result.answer, c.answer);
    const pid_t started = std::atoi(ReadBytes(child).c_str());
    ASSERT_GT(started, 0);
    // Killed, it still has to be scheduled to die.
    for (int i = 0; i < 500 && !IsDead(started); ++i)
      std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(IsDead(started)) << c.last;
    // The command itself is reaped: this process has no child left.
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
  }
}

// What a command leaves running outside its group, holding its output, does not hold the answer:
// the command's end is.
TEST(NotifyCommand, ItEndsWhenTheCommandEndsNotWhenItsOutputCloses) {
  TempFolder folder;
  const auto left = folder.path() / "left";
  const auto command =
      Script(folder, "command",
             "#!/bin/sh\nsetsid sleep 30 &\necho $! > " + left.string() + "\necho done\n");
  const NotifyResult result = RunNotifyCommand(command, kFault, 5s);
  const pid_t sleeper = std::atoi(ReadBytes(left).c_str());
  if (sleeper > 0) kill(sleeper, SIGKILL);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.answer, "exit 0: done");
}

// Where the service ignores SIGCHLD the system reaps the command: its end is said as unknown, not
// as a success, and not only at the limit.
TEST(NotifyCommand, WhereChildrenAreReapedBySomeoneElseTheEndIsUnknown) {
  TempFolder folder;
  const auto command = Script(folder, "command", "#!/bin/sh\necho sent\nexit 0\n");
  struct sigaction ignore {
  }, before{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGCHLD, &ignore, &before);
  const NotifyResult result = RunNotifyCommand(command, kFault, 5s);
  sigaction(SIGCHLD, &before, nullptr);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.answer, "ended, how is unknown (SIGCHLD is ignored): sent");
}

// A command that says a great deal is read to its end rather than left blocked on a full pipe.
TEST(NotifyCommand, AChattyCommandIsReadToItsEnd) {
  TempFolder folder;
  const auto command =
      Script(folder, "command",
             "#!/bin/sh\nhead -c 1000000 /dev/zero | tr '\\0' x || exit 9\necho\nexit 5\n");
  const NotifyResult result = RunNotifyCommand(command, kFault, 5s);
  EXPECT_EQ(result.answer, "exit 5: " + std::string(200, 'x'));
}

// A shutdown does not wait for a command's limit.
TEST(NotifyCommand, AStopEndsItBeforeItsLimit) {
  TempFolder folder;
  const auto command = Script(folder, "command", "#!/bin/sh\nsleep 30\n");
  std::atomic<bool> stop = false;
  std::thread stopper([&stop] {
    std::this_thread::sleep_for(200ms);
    stop = true;
  });
  const NotifyResult result = RunNotifyCommand(command, kFault, 60s, &stop);
  stopper.join();
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.answer, "stopped: the program is ending");
}

}  // namespace
}  // namespace orv
