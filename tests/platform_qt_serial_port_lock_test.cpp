// A lock file in the shared lock folder naming a live process that does not have the device open:
// the program that owns the line takes it over, a window only names it. Needs root, who may write
// QSerialPort's own lock folder and play another user.
#include <gtest/gtest.h>

#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/port_lock.h"
#include "platform/qt/qt_serial_port.h"
#include "tests/pty_pair.h"
#include "tests/temp_folder.h"
#include "tests/test_util.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

std::string ReadLock(const fs::path& file) {
  std::string text = test::ReadBytes(file);
  return text.substr(0, text.find('\n'));
}

TEST(QtSerialPortLock, ASquatIsTakenOverByTheLinesOwnerOnlyAndAHolderIsNamedAsEver) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to write the lock folder and play two users";
  test::PtyPair pty;  // keeps the slave open: this process has the device open
  ASSERT_TRUE(pty.ok());
  const std::string device = pty.slave_path();
  const fs::path lock = "/run/lock/" + PortLockFileName(device);
  ASSERT_FALSE(fs::exists(lock));
  const pid_t sleeper = fork();
  if (sleeper == 0) {
    // Nothing of this process's carried over: the pty's descriptors would make it a holder.
    for (int fd = 3; fd < 1024; ++fd)
      close(fd);
    execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(sleeper, 0);
  const test::AtScopeEnd end(nullptr, [&](void*) {
    kill(sleeper, SIGKILL);
    waitpid(sleeper, nullptr, 0);
    std::error_code ec;
    fs::remove(lock, ec);
  });
  // As QLockFile writes one, so that Qt itself does not take it for stale.
  const auto squat = [&] {
    test::WriteBytes(lock, std::to_string(sleeper) + "\nsleep\nelsewhere\n");
  };
  for (int i = 0;
       i < 200 && test::ReadBytes("/proc/" + std::to_string(sleeper) + "/comm") != "sleep\n"; ++i)
    usleep(10'000);

  std::vector<std::string> said, beyond_reach;
  QtSerialPort window([&](int) { return device; });
  QtSerialPort service([&](int) { return device; });
  const auto reach = [&](const PortLockHolder& lock, const std::string& why) {
    beyond_reach.push_back(std::to_string(lock.pid) + ": " + why);
  };
  service.TakeOverSquattedLocks(reach, "what root did");
  const Connection say =
      service.said().Connect([&](const std::string& text) { said.push_back(text); });
  const std::string by_sleep = "process " + std::to_string(sleeper) + " (sleep, user root)";

  // The window names the squatter as it names any holder.
  squat();
  window.Open();
  EXPECT_FALSE(window.IsOpen());
  EXPECT_EQ(window.last_error().kind, PortErrorKind::kBusy);
  EXPECT_EQ(window.last_error().text, device + ": in use by " + by_sleep);

  // Looked into as another user, root's sleep may hold anything: named, not taken, and handed on
  // to whoever may look.
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  // The device nobody's while the service opens it as nobody, then root's again.
  const auto open_as_nobody = [&] {
    ASSERT_EQ(chown(device.c_str(), nobody->pw_uid, -1), 0);
    ASSERT_EQ(seteuid(nobody->pw_uid), 0);
    service.Open();
    ASSERT_EQ(seteuid(0), 0);
    ASSERT_EQ(chown(device.c_str(), 0, -1), 0);
  };
  open_as_nobody();
  EXPECT_FALSE(service.IsOpen());
  EXPECT_EQ(service.last_error().kind, PortErrorKind::kBusy);
  EXPECT_EQ(said, std::vector<std::string>{"what root did"});  // at the first open only
  EXPECT_EQ(beyond_reach, std::vector<std::string>{std::to_string(sleeper) +
                                                   ": this user may not look into process " +
                                                   std::to_string(sleeper)});
  EXPECT_EQ(ReadLock(lock), std::to_string(sleeper));

  // The service takes it over: said, opened, and the lock is now its own.
  service.Open();
  ASSERT_TRUE(service.IsOpen()) << service.last_error().text;
  ASSERT_EQ(said.size(), 2u);
  EXPECT_EQ(said[1], "the lock " + lock.string() + " of " + by_sleep +
                         ", which did not have the device open, was taken over");
  EXPECT_EQ(beyond_reach.size(), 1u);
  EXPECT_EQ(ReadLock(lock), std::to_string(getpid()));

  // A real holder (the service, which has the device open) is named, not taken.
  QtSerialPort second([&](int) { return device; });
  second.TakeOverSquattedLocks(reach);
  const Connection second_says =
      second.said().Connect([&](const std::string& text) { said.push_back(text); });
  second.Open();
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(second.last_error().kind, PortErrorKind::kBusy);
  EXPECT_EQ(said.size(), 2u);
  EXPECT_EQ(beyond_reach.size(), 1u);
  service.Close();
  EXPECT_FALSE(fs::exists(lock));

  // A stale lock the service's user may not remove (root's, in the sticky folder): handed on too.
  const pid_t ended = fork();
  if (ended == 0) _exit(0);
  waitpid(ended, nullptr, 0);
  test::WriteBytes(lock, std::to_string(ended) + "\n");
  open_as_nobody();
  EXPECT_FALSE(service.IsOpen());
  EXPECT_EQ(beyond_reach.back(), std::to_string(ended) + ": Operation not permitted");
}

}  // namespace
}  // namespace orv
