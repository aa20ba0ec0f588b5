// Who holds a serial port, as the lock files in the lock folder tell.
#include "platform/port_lock.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/users.h"
#include "tests/temp_folder.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace orv {
namespace {

namespace fs = std::filesystem;

TEST(PortLock, FileNameAsQSerialPortFormsIt) {
  const std::pair<const char*, const char*> cases[] = {
      {"/dev/ttyUSB0", "LCK..ttyUSB0"},
      {"/dev/pts/3", "LCK..pts_3"},
      {"/dev/serial/by-id/usb-FTDI_X-if00", "LCK..serial_by-id_usb-FTDI_X-if00"},
      {"/tmp/controller", "LCK.._tmp_controller"},  // outside /dev the whole path
      {"/devices/x", "LCK.._devices_x"},            // "/dev" alone is no folder
      {"ttyS0", "LCK..ttyS0"},
  };
  for (const auto& [device, name] : cases)
    EXPECT_EQ(PortLockFileName(device), name) << device;
}

#ifndef _WIN32
std::string OwnName() {
  std::ifstream in("/proc/self/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

// The id of a process that has ended (and been reaped).
pid_t EndedProcess() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

TEST(PortLock, RunningEndedAndEmptyHoldersEachReadAsWhatTheyAre) {
  test::TempFolder first;
  test::TempFolder second;
  const std::string device = "/dev/ttyUSB7";
  const fs::path lock = second.path() / "LCK..ttyUSB7";
  const std::string me = UserName(EffectiveUserId());
  // None anywhere; then one in the second folder is found there.
  EXPECT_FALSE(FindPortLock(device, {first.path(), second.path()}));
  const pid_t self = getpid();
  test::WriteBytes(lock, "     " + std::to_string(self) + "\nsomeapp\nhost\n");
  auto holder = FindPortLock(device, {first.path(), second.path()});
  ASSERT_TRUE(holder);
  EXPECT_EQ(holder->lock_file, lock);
  EXPECT_EQ(holder->pid, self);
  EXPECT_TRUE(holder->running);
  EXPECT_EQ(DescribePortLock(*holder),
            "in use by process " + std::to_string(self) + " (" + OwnName() + ", user " + me + ")");
  // Ended: which file to remove, and whose it is.
  const pid_t ended = EndedProcess();
  test::WriteBytes(lock, std::to_string(ended) + "\n");
  holder = FindPortLock(device, {first.path(), second.path()});
  ASSERT_TRUE(holder);
  EXPECT_FALSE(holder->running);
  EXPECT_EQ(DescribePortLock(*holder), "locked by process " + std::to_string(ended) +
                                           ", which no longer runs: the lock is stale, remove " +
                                           lock.string() + " (owned by " + me + ")");
  // No process at all: neither garbage, nor a number with more after it, nor zero.
  for (const char* text : {"", "hello\n", "12ab\n", "0\n", "-5\n", "\n1234\n"}) {
    test::WriteBytes(lock, text);
    holder = FindPortLock(device, {first.path(), second.path()});
    ASSERT_TRUE(holder);
    EXPECT_EQ(holder->pid, 0) << text;
    EXPECT_EQ(DescribePortLock(*holder), "locked by " + lock.string() +
                                             ", which names no process: remove " + lock.string() +
                                             " (owned by " + me + ")");
  }
  // The first folder wins; a link there is not followed, and the search goes on.
  fs::create_symlink(lock, first.path() / "LCK..ttyUSB7");
  test::WriteBytes(lock, std::to_string(self) + "\n");
  holder = FindPortLock(device, {first.path(), second.path()});
  ASSERT_TRUE(holder);
  EXPECT_EQ(holder->lock_file, lock);
  fs::remove(first.path() / "LCK..ttyUSB7");
  test::WriteBytes(first.path() / "LCK..ttyUSB7", std::to_string(ended) + "\n");
  holder = FindPortLock(device, {first.path(), second.path()});
  ASSERT_TRUE(holder);
  EXPECT_EQ(holder->lock_file, first.path() / "LCK..ttyUSB7");
  EXPECT_FALSE(holder->running);
}
#endif

}  // namespace
}  // namespace orv
