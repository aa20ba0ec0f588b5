// The serial lock at a site, through the program itself: the service, run as another user than
// the squatter's, stops for the step before its start; the step (--take-over-lock, as root) takes
// the squat over; the next start records it and connects. Root only, skipped otherwise.
#include <gtest/gtest.h>

#include <pty.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/port_lock.h"
#include "tests/support/built_programs.h"
#include "tests/support/child_process.h"
#include "tests/temp_folder.h"
#include "tests/test_util.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kSetpriv[] = "/usr/bin/setpriv";

TEST(SiteLockStepProgram, TheServiceStopsForTheStepWhichTakesTheSquatOverAndTheNextStartSaysIt) {
  if (geteuid() != 0 || !fs::exists(kSetpriv) || getpwnam("nobody") == nullptr)
    GTEST_SKIP() << "needs root, setpriv and the user nobody";
  const passwd* nobody = getpwnam("nobody");
  int master = -1, slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  const std::string device = ptsname(master);
  ASSERT_EQ(chown(device.c_str(), nobody->pw_uid, -1), 0);  // the service's user may open it
  test::TempFolder folder;
  fs::permissions(folder.path(), fs::perms(0755));
  const fs::path state = folder.path() / "state", settings = folder.path() / "orvandel.ini";
  fs::create_directory(state);
  ASSERT_EQ(chown(state.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  test::WriteBytes(settings, "[SerialPorts]\nCOM1=" + device + "\n");
  const fs::path lock = fs::path("/run/lock") / PortLockFileName(device);
  const pid_t sleeper = fork();  // root's, and the lock root's: the service may judge neither
  if (sleeper == 0) {
    for (int fd = 3; fd < 1024; ++fd)
      close(fd);
    execlp("sleep", "sleep", "60", static_cast<char*>(nullptr));
    _exit(127);
  }
  const test::AtScopeEnd end(nullptr, [&](void*) {
    kill(sleeper, SIGKILL);
    waitpid(sleeper, nullptr, 0);
    std::error_code ec;
    fs::remove(lock, ec);
    close(slave);
    close(master);
  });
  for (int i = 0;
       i < 300 && test::ReadBytes("/proc/" + std::to_string(sleeper) + "/comm") != "sleep\n"; ++i)
    usleep(10'000);
  test::WriteBytes(lock, std::to_string(sleeper) + "\nsleep\nelsewhere\n");
  const auto step = [&] {
    test::ChildProcess child(test::kProgram,
                             {"--take-over-lock", "--state-folder", state.string()});
    EXPECT_EQ(child.WaitForExit(), 0);
    return child.output();
  };
  const std::vector<std::string> service = {"--reuid",         "nobody",         "--regid",
                                            "nogroup",         "--clear-groups", test::kProgram,
                                            "--headless",      "--state-folder", state.string(),
                                            "--site-settings", settings.string()};
  EXPECT_EQ(step(), "lock step: nothing to take over\n");
  {
    test::ChildProcess first(kSetpriv, service);
    EXPECT_EQ(first.WaitForExit(20s), 75);
    EXPECT_NE(first.output().find("the service stops so that the step before its start, as root, "
                                  "judges it"),
              std::string::npos)
        << first.output();
  }
  const std::string taken = "the lock " + lock.string() + " of process " + std::to_string(sleeper) +
                            " (sleep, user root), which did not have " + device +
                            " open, was taken over by the start's step, as root";
  EXPECT_EQ(step(), "lock step: " + taken + "\n");
  test::ChildProcess second(kSetpriv, service);
  EXPECT_TRUE(second.WaitForOutput("link Connected: COM1", 20s)) << second.output();
  EXPECT_NE(second.output().find("link Port: COM1 (" + device + ") 9600,N,8,1: " + taken),
            std::string::npos)
      << second.output();
  EXPECT_EQ(second.Stop(), 0);
}

}  // namespace
}  // namespace orv
