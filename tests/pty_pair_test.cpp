#include "tests/pty_pair.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "tests/test_util.h"

namespace orv::test {
namespace {

using std::chrono::milliseconds;

// The harness itself: what the port tests take for granted about it.
TEST(PtyPair, SlaveOpensByPathAndCarriesBytesBothWays) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  const int fd = open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0) << pty.slave_path();

  const Bytes to_device = Hex("02 01 06 00 2B 03");
  ASSERT_EQ(write(fd, to_device.data(), to_device.size()), static_cast<ssize_t>(to_device.size()));
  EXPECT_EQ(pty.ReadMaster(to_device.size(), milliseconds(2000)), to_device);

  // Raw mode: 0x0A and 0x0D pass unchanged and nothing is echoed back to the master.
  const Bytes from_device = Hex("0A 0D 02 FF 00 03");
  ASSERT_TRUE(pty.WriteMaster(from_device));
  Bytes got;
  pollfd pfd{fd, POLLIN, 0};
  while (got.size() < from_device.size() && poll(&pfd, 1, 2000) > 0) {
    std::uint8_t buffer[16];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.insert(got.end(), buffer, buffer + n);
  }
  EXPECT_EQ(got, from_device);
  EXPECT_TRUE(pty.ReadMaster(1, milliseconds(0)).empty()) << "echo reached the master";
  close(fd);
}

TEST(PtyPair, ReadMasterStopsAtTheDeadlineWithWhatCame) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  const int fd = open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  const Bytes three = Hex("11 22 33");
  ASSERT_EQ(write(fd, three.data(), three.size()), 3);
  EXPECT_EQ(pty.ReadMaster(10, milliseconds(50)), three);
  EXPECT_TRUE(pty.ReadMaster(1, milliseconds(0)).empty());
  close(fd);
}

TEST(PtyPair, ClosingTheMasterRemovesTheDevice) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  const std::string path = pty.slave_path();
  ASSERT_EQ(access(path.c_str(), F_OK), 0);
  pty.CloseMaster();
  EXPECT_NE(access(path.c_str(), F_OK), 0) << path << " still there";
  EXPECT_FALSE(pty.WriteMaster(Hex("01")));
  EXPECT_TRUE(pty.ReadMaster(1, milliseconds(0)).empty());
}

}  // namespace
}  // namespace orv::test
